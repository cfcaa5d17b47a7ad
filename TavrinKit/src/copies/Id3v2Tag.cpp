#include "copies/Id3v2Tag.h"

#include "core/OpenFile.h"

#include <fcntl.h>
#include <unicode/ustring.h>
#include <unistd.h>

namespace tavrin::Id3v2Tag {
namespace {

constexpr std::size_t headerSize = 10;

std::uint32_t bigEndian(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

/// Seven bits a byte, as ID3v2 writes sizes that must never look like an MPEG sync; absent when a
/// byte has its top bit set.
std::optional<std::uint32_t> syncsafe(const unsigned char* p) {
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80)
        return std::nullopt;
    return std::uint32_t(p[0]) << 21 | std::uint32_t(p[1]) << 14 | std::uint32_t(p[2]) << 7 | p[3];
}

void putBigEndian(std::string& out, std::uint32_t v, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += char((v >> shift) & 0xFF);
}

void putSyncsafe(std::string& out, std::uint32_t v) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out += char((v >> shift) & 0x7F);
}

bool isFrameId(std::string_view id) {
    for (char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

/// `text` as UTF-16, little-endian after a byte-order mark, as ID3v2.3 writes Unicode.
std::string utf16(std::string_view text) {
    std::u16string units(text.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(units.data(), int32_t(units.size()), &length, text.data(),
                         int32_t(text.size()), 0xFFFD, nullptr, &status);
    std::string out = "\xFF\xFE";
    for (int32_t i = 0; U_SUCCESS(status) && i < length; ++i)
        out += {char(units[std::size_t(i)] & 0xFF), char(units[std::size_t(i)] >> 8)};
    return out;
}

/// The frames after the header and any extended header; absent when one runs past the end.
std::optional<std::vector<Frame>> framesOf(std::string_view body, int version, bool extended) {
    std::size_t at = 0;
    if (extended) {
        if (body.size() < 4)
            return std::nullopt;
        const auto* p = reinterpret_cast<const unsigned char*>(body.data());
        const auto size = version == 3 ? std::optional(bigEndian(p) + 4) : syncsafe(p);
        if (!size || *size > body.size())
            return std::nullopt;
        at = *size;
    }
    std::vector<Frame> frames;
    while (at + headerSize <= body.size() && body[at] != '\0') { // zeros past the frames: padding
        const auto* p = reinterpret_cast<const unsigned char*>(body.data() + at);
        const std::string_view id = body.substr(at, 4);
        const auto size = version == 3 ? std::optional(bigEndian(p + 4)) : syncsafe(p + 4);
        if (!isFrameId(id) || !size || *size > body.size() - at - headerSize)
            return std::nullopt;
        frames.push_back({std::string(id), std::uint16_t(p[8] << 8 | p[9]),
                          std::string(body.substr(at + headerSize, *size))});
        at += headerSize + *size;
    }
    return frames;
}

} // namespace

std::optional<Tag> read(const std::filesystem::path& path) {
    const OpenFile file(path, O_RDONLY);
    unsigned char header[headerSize];
    if (file.descriptor() < 0 || ::pread(file.descriptor(), header, headerSize, 0) != headerSize ||
        header[0] != 'I' || header[1] != 'D' || header[2] != '3')
        return std::nullopt;
    const int version = header[3];
    const auto size = syncsafe(header + 6);
    if ((version != 3 && version != 4) || (header[5] & 0x80) || !size || *size > largestTag)
        return std::nullopt;
    std::string body(*size, '\0');
    if (::pread(file.descriptor(), body.data(), *size, headerSize) != ssize_t(*size))
        return std::nullopt;
    auto frames = framesOf(body, version, header[5] & 0x40);
    if (!frames)
        return std::nullopt;
    return Tag{version, std::move(*frames)};
}

std::string bytes(const Tag& tag) {
    std::string frames;
    for (const Frame& frame : tag.frames) {
        frames += frame.id;
        if (tag.version == 3)
            putBigEndian(frames, std::uint32_t(frame.data.size()), 4);
        else
            putSyncsafe(frames, std::uint32_t(frame.data.size()));
        putBigEndian(frames, frame.flags, 2);
        frames += frame.data;
    }
    std::string out = {'I', 'D', '3', char(tag.version), '\0', '\0'};
    putSyncsafe(out, std::uint32_t(frames.size()));
    return out + frames;
}

std::string description(const Frame& frame) {
    const std::size_t start = frame.id == "COMM" ? 4 : 1; // the encoding, and COMM's language
    if ((frame.id != "TXXX" && frame.id != "WXXX" && frame.id != "COMM") ||
        frame.data.size() < start)
        return {};
    const char encoding = frame.data[0];
    std::string_view text = std::string_view(frame.data).substr(start);
    std::string out;
    if (encoding == 0 || encoding == 3) {
        for (char c : text.substr(0, text.find('\0')))
            out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
        return out;
    }
    bool little = false; // UTF-16: big-endian unless a byte-order mark says otherwise
    if (encoding == 1 && text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE')
        little = true;
    if (encoding == 1 && text.size() >= 2 && (text[0] == '\xFF' || text[0] == '\xFE'))
        text.remove_prefix(2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(text[little ? i + 1 : i]),
                   lo = static_cast<unsigned char>(text[little ? i : i + 1]);
        if (hi == 0 && lo == 0)
            break;
        out += hi == 0 && lo < 0x80 ? char(lo) : '?';
    }
    return out;
}

Frame userText(int version, std::string_view description, std::string_view value) {
    if (isAscii(description) && isAscii(value))
        return {"TXXX", 0, '\0' + std::string(description) + '\0' + std::string(value)};
    if (version == 4)
        return {"TXXX", 0, '\3' + std::string(description) + '\0' + std::string(value)};
    return {"TXXX", 0, '\1' + utf16(description) + std::string(2, '\0') + utf16(value)};
}

} // namespace tavrin::Id3v2Tag
