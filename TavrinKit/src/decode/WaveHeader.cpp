#include "decode/WaveHeader.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

namespace tavrin::WaveHeader {
namespace {

std::uint64_t le(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

/// Enough for every header chunk a real file carries before or after its audio.
constexpr int maxChunks = 256;
constexpr std::uint64_t maxChunkBytes = 1 << 20;

/// Where the first chunk of type `id` starts and the size its header declares, which may run
/// past the end of the file; nothing when the file is not RIFF, RF64 or BW64 WAVE or has none.
struct Located {
    std::uint64_t body;  ///< offset of the chunk's first byte after its header
    std::uint64_t bytes; ///< as declared
};
std::optional<Located> locate(std::ifstream& in, std::uint64_t size, std::string_view id) {
    std::array<std::uint8_t, 12> head{};
    if (!in || !in.read(reinterpret_cast<char*>(head.data()), 12))
        return std::nullopt;
    const std::string_view riff(reinterpret_cast<const char*>(head.data()), 4);
    if ((riff != "RIFF" && riff != "RF64" && riff != "BW64") ||
        std::string_view(reinterpret_cast<const char*>(head.data()) + 8, 4) != "WAVE")
        return std::nullopt;
    std::uint64_t pos = 12;
    for (int n = 0; n < maxChunks && size - pos >= 8 && pos < size; ++n) {
        std::array<std::uint8_t, 8> header{};
        in.seekg(std::streamoff(pos));
        if (!in.read(reinterpret_cast<char*>(header.data()), 8))
            return std::nullopt;
        const std::uint64_t bytes = le(header.data() + 4, 4);
        if (std::string_view(reinterpret_cast<const char*>(header.data()), 4) == id)
            return Located{pos + 8, bytes};
        pos += 8 + bytes + (bytes & 1);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::uint8_t>> chunk(const std::filesystem::path& path,
                                               std::string_view id) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    const auto found = ec ? std::nullopt : locate(in, size, id);
    if (!found || found->bytes > size - found->body || found->bytes > maxChunkBytes)
        return std::nullopt;
    std::vector<std::uint8_t> body(found->bytes);
    in.seekg(std::streamoff(found->body));
    if (!in.read(reinterpret_cast<char*>(body.data()), std::streamsize(found->bytes)))
        return std::nullopt;
    return body;
}

std::optional<std::uint64_t> dataBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    const auto data = ec ? std::nullopt : locate(in, size, "data");
    if (!data || data->bytes == 0)
        return std::nullopt;
    if (data->bytes != 0xFFFFFFFF)
        return data->bytes;
    // RF64 and BW64 declare 0xFFFFFFFF here and the real size in their 'ds64' chunk.
    const auto ds64 = chunk(path, "ds64");
    if (!ds64 || ds64->size() < 16)
        return std::nullopt;
    return le(ds64->data() + 8, 8);
}

std::optional<std::int64_t> declaredFrames(const std::filesystem::path& path) {
    const auto format = pcmFormat(path);
    const auto bytes = format ? dataBytes(path) : std::nullopt;
    if (!bytes)
        return std::nullopt;
    const std::uint64_t frames =
        *bytes / (std::uint64_t(format->channels) * std::uint64_t(format->containerBytes));
    return static_cast<std::int64_t>(std::min<std::uint64_t>(frames, INT64_MAX));
}

std::optional<Format> pcmFormat(const std::filesystem::path& path) {
    const auto fmt = chunk(path, "fmt ");
    if (!fmt || fmt->size() < 16)
        return std::nullopt;
    const std::uint8_t* p = fmt->data();
    std::uint64_t tag = le(p, 2);
    Format format;
    format.channels = int(le(p + 2, 2));
    const auto blockAlign = int(le(p + 12, 2));
    format.validBits = int(le(p + 14, 2));
    constexpr std::uint16_t extensible = 0xFFFE;
    if (tag == extensible) {
        // The sub-format GUID is the format tag it stands for, then a fixed suffix; any other
        // (ambisonic B-format, say) is not plain PCM.
        static constexpr std::uint8_t suffix[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        if (fmt->size() < 40 || !std::equal(std::begin(suffix), std::end(suffix), p + 26))
            return std::nullopt;
        if (const auto valid = int(le(p + 18, 2)); valid > 0)
            format.validBits = valid;
        format.mask = std::uint32_t(le(p + 20, 4));
        tag = le(p + 24, 2);
    }
    // A block alignment of 0, or one that doesn't split evenly into samples of at most 8 bytes,
    // can't be believed: such a file is read the way FFmpeg reads it, without this header's help.
    if ((tag != 1 && tag != 3) || format.channels < 1 || blockAlign < format.channels ||
        blockAlign % format.channels != 0 || blockAlign / format.channels > 8)
        return std::nullopt;
    format.isFloat = tag == 3;
    format.containerBytes = blockAlign / format.channels;
    return format;
}

} // namespace tavrin::WaveHeader
