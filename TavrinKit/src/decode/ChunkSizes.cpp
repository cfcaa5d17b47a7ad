#include "decode/ChunkSizes.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tavrin::ChunkSizes {
namespace {

/// How a container lays out its top-level chunks.
struct Layout {
    std::uint64_t first = 0; ///< offset of the first chunk
    std::size_t width = 4;   ///< of the size field, after a 4-byte type
    bool bigEndian = true;
    bool mp4 = false;    ///< the size counts its own header; 1 means a 64-bit size follows
    bool padded = false; ///< chunks of odd size are followed by a pad byte
};

std::optional<Layout> layoutOf(const std::uint8_t* head) {
    const std::string_view magic(reinterpret_cast<const char*>(head), 4);
    const std::string_view second(reinterpret_cast<const char*>(head) + 4, 4);
    if (magic == "RIFF" || magic == "RF64" || magic == "BW64")
        return Layout{.first = 12, .bigEndian = false, .padded = true};
    if (magic == "RIFX" || magic == "FORM")
        return Layout{.first = 12, .padded = true};
    if (magic == "caff")
        return Layout{.first = 8, .width = 8};
    for (std::string_view box : {"ftyp", "moov", "mdat", "free", "wide", "skip"})
        if (second == box)
            return Layout{.mp4 = true};
    return std::nullopt;
}

std::uint64_t load(const std::uint8_t* p, std::size_t width, bool bigEndian) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= std::uint64_t(p[i]) << 8 * (bigEndian ? width - 1 - i : i);
    return v;
}

Clamp clampTo(std::uint64_t offset, std::size_t width, bool bigEndian, std::uint64_t value) {
    Clamp clamp{offset, width, {}};
    for (std::size_t i = 0; i < width; ++i)
        clamp.bytes[i] = std::uint8_t(value >> 8 * (bigEndian ? width - 1 - i : i));
    return clamp;
}

/// Enough for any real file's chunks; past it the walk costs more than it can save.
constexpr int maxChunks = 1 << 16;

} // namespace

std::optional<Clamp> overrunningChunk(const ReadAt& readAt, std::uint64_t fileSize) {
    std::uint8_t head[16] = {};
    if (readAt(0, head, 12) < 12)
        return std::nullopt;
    const auto layout = layoutOf(head);
    if (!layout)
        return std::nullopt;
    std::uint64_t pos = layout->first;
    for (int n = 0; n < maxChunks && pos < fileSize; ++n) {
        const std::size_t got = readAt(pos, head, sizeof head);
        std::uint64_t field = pos + 4;
        std::size_t width = layout->width;
        std::uint64_t header = 4 + width;
        if (got < header)
            return std::nullopt;
        std::uint64_t size = load(head + 4, width, layout->bigEndian);
        if (layout->mp4) {
            if (size == 1) { // a 64-bit size after the type
                field = pos + 8, width = 8, header = 16;
                if (got < header)
                    return std::nullopt;
                size = load(head + 8, 8, true);
            }
            if (size < header) // 0 runs to the end; smaller sizes are not boxes
                return std::nullopt;
            size -= header;
        }
        if (width == 8 && size > std::uint64_t(INT64_MAX)) // CAF's −1 runs to the end
            return std::nullopt;
        const std::uint64_t room = fileSize - std::min(fileSize, pos + header);
        if (size > room) {
            // Cut to an odd size, a chunk would leave its last byte to stand where the next
            // chunk's type is read, which fails the whole file; reaching its missing pad byte
            // instead ends it at the end of the file.
            const std::uint64_t pad = layout->padded ? room & 1 : 0;
            return clampTo(field, width, layout->bigEndian,
                           room + pad + (layout->mp4 ? header : 0));
        }
        pos += header + size + (layout->padded ? size & 1 : 0);
    }
    return std::nullopt;
}

void apply(const Clamp& clamp, std::uint64_t offset, std::uint8_t* bytes, std::size_t size) {
    const std::uint64_t begin = std::max(offset, clamp.offset);
    const std::uint64_t end = std::min(offset + size, clamp.offset + clamp.width);
    for (std::uint64_t at = begin; at < end; ++at)
        bytes[at - offset] = clamp.bytes[at - clamp.offset];
}

} // namespace tavrin::ChunkSizes
