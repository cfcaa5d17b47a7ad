#pragma once

// Private to TavrinKit: an MP3's ID3v2 tag frame by frame, as the file holds it, so that a copy
// carries every frame in its own type (comments, lyrics, links, chapters and their table of
// contents, pictures) rather than as FFmpeg's tag names can say it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::Id3v2Tag {

struct Frame {
    std::string id;          ///< four characters: "COMM", "APIC", "CHAP", …
    std::uint16_t flags = 0; ///< as the file has them
    std::string data;        ///< the frame's body, unread
    bool operator==(const Frame&) const = default;
};

struct Tag {
    int version = 3; ///< 3 or 4: ID3v2.3 or ID3v2.4, whose frame sizes are written differently
    std::vector<Frame> frames;
};

/// The largest tag read: a few covers and an hour of chapters fit many times over.
inline constexpr std::uint32_t largestTag = 32 << 20;

/// The ID3v2.3 or 2.4 tag at the start of `path`. Absent when there is none, or it is one whose
/// frames can't be carried byte for byte: version 2.2, unsynchronised, larger than largestTag, or
/// damaged (a frame running past the tag's end).
std::optional<Tag> read(const std::filesystem::path& path);

/// The tag as bytes, header first, without padding.
std::string bytes(const Tag& tag);

/// The description of a TXXX, WXXX or COMM frame, as ASCII (other characters as '?'); empty for
/// other frames.
std::string description(const Frame& frame);

/// A TXXX frame of `description` and `value` (UTF-8) in `version`'s encoding: Latin-1 when both
/// are ASCII, else UTF-8 in 2.4 and UTF-16 in 2.3, which has no UTF-8.
Frame userText(int version, std::string_view description, std::string_view value);

} // namespace tavrin::Id3v2Tag
