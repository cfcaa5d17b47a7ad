#include "copies/FlacBlocks.h"

#include "core/OpenFile.h"

#include <string_view>

namespace tavrin::FlacBlocks {
namespace {

constexpr std::size_t headerSize = 4;
constexpr std::size_t streamInfoEnd = 4 + headerSize + 34; // "fLaC", then STREAMINFO's 34 bytes

bool readAt(int fd, void* out, std::size_t size, std::uint64_t at) {
    return ::pread(fd, out, size, off_t(at)) == ssize_t(size);
}

std::uint32_t length(const unsigned char* header) {
    return std::uint32_t(header[1]) << 16 | std::uint32_t(header[2]) << 8 | header[3];
}

/// Walks the metadata blocks of the FLAC file open on `fd`, calling `onBlock(type, size, at)` with
/// where each one's data starts; false when the file doesn't start with "fLaC", a header can't be
/// read, the blocks run past largestMetadata, or `onBlock` says stop.
template <class OnBlock> bool walk(int fd, OnBlock onBlock) {
    char magic[4];
    if (!readAt(fd, magic, 4, 0) || std::string_view(magic, 4) != "fLaC")
        return false;
    std::uint64_t at = 4;
    for (bool last = false; !last;) {
        unsigned char header[headerSize];
        if (!readAt(fd, header, headerSize, at))
            return false;
        last = header[0] & 0x80;
        const std::uint32_t size = length(header);
        at += headerSize + size;
        if (at > largestMetadata || !onBlock(std::uint8_t(header[0] & 0x7F), size, at - size))
            return false;
    }
    return true;
}

/// Little-endian 32-bit fields, as Vorbis comments have them.
struct Reader {
    std::string_view rest;
    std::optional<std::string_view> field() {
        if (rest.size() < 4)
            return std::nullopt;
        const auto* p = reinterpret_cast<const unsigned char*>(rest.data());
        const std::uint32_t size = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                   std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
        return take(4) ? take(size) : std::nullopt;
    }
    std::optional<std::string_view> take(std::size_t size) {
        if (size > rest.size())
            return std::nullopt;
        const std::string_view taken = rest.substr(0, size);
        rest.remove_prefix(size);
        return taken;
    }
};

void putLittleEndian(std::string& out, std::size_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out += char((v >> shift) & 0xFF);
}

} // namespace

std::optional<std::vector<Block>> read(const std::filesystem::path& path) {
    const OpenFile file(path, O_RDONLY);
    std::vector<Block> blocks;
    const bool whole =
        file.descriptor() >= 0 &&
        walk(file.descriptor(), [&](std::uint8_t type, std::uint32_t size, std::uint64_t at) {
            if (type == 127 || blocks.empty() != (type == streamInfo))
                return false;
            blocks.push_back({type, std::string(size, '\0')});
            return readAt(file.descriptor(), blocks.back().data.data(), size, at);
        });
    if (!whole)
        return std::nullopt;
    return blocks;
}

std::string bytes(const std::vector<Block>& blocks) {
    std::string out;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t size = blocks[i].data.size();
        out += char(blocks[i].type | (i + 1 == blocks.size() ? 0x80 : 0));
        out += {char(size >> 16), char(size >> 8), char(size)};
        out += blocks[i].data;
    }
    return out;
}

std::optional<Comments> comments(const Block& block) {
    Reader reader{block.data};
    const auto vendor = reader.field();
    const auto count = reader.take(4);
    if (!vendor || !count)
        return std::nullopt;
    Comments result{std::string(*vendor), {}};
    const auto* p = reinterpret_cast<const unsigned char*>(count->data());
    const std::uint32_t n = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                            std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto entry = reader.field();
        if (!entry)
            return std::nullopt;
        result.entries.emplace_back(*entry);
    }
    return result;
}

Block commentBlock(const Comments& comments) {
    std::string data;
    putLittleEndian(data, comments.vendor.size());
    data += comments.vendor;
    putLittleEndian(data, comments.entries.size());
    for (const std::string& entry : comments.entries) {
        putLittleEndian(data, entry.size());
        data += entry;
    }
    return {vorbisComment, std::move(data)};
}

std::size_t size(const std::vector<Block>& blocks) {
    std::size_t total = 0;
    for (const Block& block : blocks)
        total += headerSize + block.data.size();
    return total;
}

bool replaceAfterStreamInfo(int fd, const std::vector<Block>& blocks) {
    std::uint64_t end = 0;
    const bool walked = walk(fd, [&](std::uint8_t type, std::uint32_t length, std::uint64_t at) {
        const bool first = end == 0; // which must be a STREAMINFO of 34 bytes
        end = at + length;
        return !first || (type == streamInfo && end == streamInfoEnd);
    });
    if (!walked || end <= streamInfoEnd) // nothing after the STREAMINFO to put them in place of
        return false;
    const std::size_t room = std::size_t(end - streamInfoEnd), used = size(blocks);
    std::vector<Block> filled = blocks;
    if (used != room) {
        if (used + headerSize > room)
            return false;
        filled.push_back({padding, std::string(room - used - headerSize, '\0')});
    }
    const std::string out = bytes(filled);
    return ::pwrite(fd, out.data(), out.size(), off_t(streamInfoEnd)) == ssize_t(out.size());
}

} // namespace tavrin::FlacBlocks
