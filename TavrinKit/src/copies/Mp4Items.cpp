#include "copies/Mp4Items.h"

#include "core/OpenFile.h"
#include "decode/FfmpegReader.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tavrin::Mp4Items {
namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void unexpected(const char* what) {
    throw FfmpegError(std::string("the MP4 file has ") + what);
}

std::uint32_t load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t load32(const Bytes& b, std::size_t at) {
    return load32(&b[at]);
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

/// The metadata list's place in `moov`: the boxes that hold it, and its own [start, end).
struct ListPlace {
    std::pair<std::size_t, std::size_t> udta, meta, ilst;
};

ListPlace listPlace(const Bytes& moov) {
    ListPlace place;
    place.udta = child(moov, 0, moov.size(), 0, "udta");
    place.meta = child(moov, place.udta.first, place.udta.second, 0, "meta");
    place.ilst = child(moov, place.meta.first, place.meta.second, 4, "ilst");
    return place;
}

/// The top-level box of `type` in the file open on `fd`, as [start, end); absent when there is
/// none. A box of size 0 runs to the end; one of size 1 gives its size in 64 bits.
std::optional<std::pair<std::uint64_t, std::uint64_t>> topBox(int fd, std::string_view type) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    for (std::uint64_t at = 0; at + 8 <= fileSize;) {
        std::uint8_t head[16];
        if (::pread(fd, head, 16, off_t(at)) < 8)
            return std::nullopt;
        std::uint64_t size = load32(head);
        if (size == 1)
            size = std::uint64_t(load32(head + 8)) << 32 | load32(head + 12);
        else if (size == 0)
            size = fileSize - at;
        if (size < 8 || size > fileSize - at)
            return std::nullopt;
        if (std::string_view(reinterpret_cast<const char*>(&head[4]), 4) == type)
            return std::pair{at, at + size};
        at += size;
    }
    return std::nullopt;
}

/// The movie box of the file open on `fd`: where it starts, its bytes, and whether it ends the
/// file; absent when there is none, or it is over largestMovie.
struct Movie {
    std::uint64_t at = 0;
    Bytes bytes;
    bool last = false;
};

std::optional<Movie> readMovie(int fd) {
    const auto box = topBox(fd, "moov");
    struct stat info {};
    if (!box || box->second - box->first > largestMovie || ::fstat(fd, &info) != 0)
        return std::nullopt;
    Movie movie{box->first, Bytes(box->second - box->first),
                box->second == std::uint64_t(info.st_size)};
    if (::pread(fd, movie.bytes.data(), movie.bytes.size(), off_t(movie.at)) !=
        ssize_t(movie.bytes.size()))
        return std::nullopt;
    return movie;
}

/// The items of the list at `ilst` in `moov`; absent when one runs past its end.
std::optional<std::vector<std::string>> itemsOf(const Bytes& moov,
                                                std::pair<std::size_t, std::size_t> ilst) {
    std::vector<std::string> items;
    for (std::size_t at = ilst.first + 8; at + 8 <= ilst.second;) {
        const std::uint32_t size = load32(moov, at);
        if (size < 8 || size > ilst.second - at)
            return std::nullopt;
        items.emplace_back(reinterpret_cast<const char*>(&moov[at]), size);
        at += size;
    }
    return items;
}

/// Changes the items of the metadata list of the MP4 file open on `fd` as `change` says, rewriting
/// its movie box, which must be the file's last.
template <class Change> void rewrite(int fd, Change change) {
    auto movie = readMovie(fd);
    if (!movie || !movie->last)
        unexpected("its movie box before the audio, or one too large to rewrite");
    Bytes& moov = movie->bytes;
    const ListPlace place = listPlace(moov);
    auto items = itemsOf(moov, place.ilst);
    if (!items)
        unexpected("a box of an impossible size");
    change(*items);
    Bytes list;
    for (const std::string& item : *items)
        list.insert(list.end(), item.begin(), item.end());
    const auto delta =
        std::int64_t(list.size()) - std::int64_t(place.ilst.second - place.ilst.first - 8);
    moov.erase(moov.begin() + std::ptrdiff_t(place.ilst.first + 8),
               moov.begin() + std::ptrdiff_t(place.ilst.second));
    moov.insert(moov.begin() + std::ptrdiff_t(place.ilst.first + 8), list.begin(), list.end());
    for (const std::size_t at :
         {std::size_t{0}, place.udta.first, place.meta.first, place.ilst.first})
        store32(moov, at, std::uint32_t(std::int64_t(load32(moov, at)) + delta));
    if (::pwrite(fd, moov.data(), moov.size(), off_t(movie->at)) != ssize_t(moov.size()) ||
        ::ftruncate(fd, off_t(movie->at + moov.size())) != 0)
        unexpected("no room for its tags");
}

} // namespace

std::optional<std::vector<std::string>> read(const std::filesystem::path& path) {
    const OpenFile file(path, O_RDONLY);
    const auto movie = file.descriptor() < 0 ? std::nullopt : readMovie(file.descriptor());
    if (!movie)
        return std::nullopt;
    try {
        return itemsOf(movie->bytes, listPlace(movie->bytes).ilst);
    } catch (const FfmpegError&) {
        return std::nullopt;
    }
}

std::string freeform(std::string_view name, std::string_view value) {
    Bytes inner;
    appendBox(inner, "mean", "com.apple.iTunes", 0);
    appendBox(inner, "name", name, 0);
    appendBox(inner, "data", std::string(4, '\0') + std::string(value), 1); // 1: UTF-8, no locale
    Bytes item;
    appendBox(item, "----",
              std::string_view(reinterpret_cast<const char*>(inner.data()), inner.size()));
    return {item.begin(), item.end()};
}

std::string type(std::string_view item) {
    return std::string(item.substr(4, 4));
}

std::string freeformName(std::string_view item) {
    if (type(item) != "----")
        return {};
    const Bytes box(item.begin(), item.end());
    try {
        const auto name = child(box, 0, box.size(), 0, "name");
        return {reinterpret_cast<const char*>(&box[name.first + 12]),
                name.second - name.first - 12};
    } catch (const FfmpegError&) {
        return {};
    }
}

void replace(int fd, const std::vector<std::string>& items) {
    rewrite(fd, [&](std::vector<std::string>& list) { list = items; });
}

void append(int fd, const std::string& item) {
    rewrite(fd, [&](std::vector<std::string>& list) { list.push_back(item); });
}

} // namespace tavrin::Mp4Items
