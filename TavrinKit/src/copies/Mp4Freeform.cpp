#include "copies/Mp4Freeform.h"

#include "decode/FfmpegReader.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrin {
namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void unexpected(const char* what) {
    throw FfmpegError(std::string("the MP4 file has ") + what);
}

std::uint32_t load32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | std::uint32_t(b[at + 3]);
}

void store32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
}

/// Appends a box of `type` holding `body`, after a full box's version and flags when given.
void appendBox(Bytes& out, std::string_view type, std::string_view body,
               std::optional<std::uint32_t> versionAndFlags = std::nullopt) {
    const std::size_t at = out.size();
    out.resize(at + 4); // the size, known at the end
    out.insert(out.end(), type.begin(), type.end());
    if (versionAndFlags)
        for (int i = 0; i < 4; ++i)
            out.push_back(std::uint8_t(*versionAndFlags >> (24 - 8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    store32(out, at, std::uint32_t(out.size() - at));
}

/// The child of the box at [from, to) of type `type`, as [start, end); children start at
/// `from + skip` (after a full box's version and flags).
std::pair<std::size_t, std::size_t> child(const Bytes& b, std::size_t from, std::size_t to,
                                          std::size_t skip, std::string_view type) {
    for (std::size_t at = from + 8 + skip; at + 8 <= to;) {
        const std::uint32_t size = load32(b, at);
        if (size < 8 || at + size > to)
            unexpected("a box of an impossible size");
        if (std::string_view(reinterpret_cast<const char*>(&b[at + 4]), 4) == type)
            return {at, at + size};
        at += size;
    }
    unexpected("no metadata list");
}

} // namespace

void addMp4FreeformTag(int fd, std::string_view name, std::string_view value) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        unexpected("no size");
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    // Top-level boxes up to the last, which must be the movie box.
    std::uint64_t at = 0;
    std::uint32_t size = 0;
    for (;;) {
        std::uint8_t head[8];
        if (::pread(fd, head, 8, off_t(at)) != 8)
            unexpected("a cut-off box");
        size = load32(Bytes(head, head + 8), 0);
        if (size < 8 || at + size > fileSize)
            unexpected("a box of an impossible size");
        if (at + size == fileSize) {
            if (std::string_view(reinterpret_cast<const char*>(head + 4), 4) != "moov")
                unexpected("its movie box before the audio");
            break;
        }
        at += size;
    }
    Bytes moov(size);
    if (::pread(fd, moov.data(), size, off_t(at)) != ssize_t(size))
        unexpected("a cut-off movie box");
    const auto udta = child(moov, 0, moov.size(), 0, "udta");
    const auto meta = child(moov, udta.first, udta.second, 0, "meta");
    const auto ilst = child(moov, meta.first, meta.second, 4, "ilst");

    Bytes inner;
    appendBox(inner, "mean", "com.apple.iTunes", 0);
    appendBox(inner, "name", name, 0);
    appendBox(inner, "data", std::string(4, '\0') + std::string(value), 1); // 1: UTF-8, no locale
    Bytes tag;
    appendBox(tag, "----",
              std::string_view(reinterpret_cast<const char*>(inner.data()), inner.size()));

    moov.insert(moov.begin() + std::ptrdiff_t(ilst.second), tag.begin(), tag.end());
    for (const std::size_t box : {std::size_t{0}, udta.first, meta.first, ilst.first})
        store32(moov, box, load32(moov, box) + std::uint32_t(tag.size()));
    if (::pwrite(fd, moov.data(), moov.size(), off_t(at)) != ssize_t(moov.size()))
        unexpected("no room for its tags");
}

} // namespace tavrin
