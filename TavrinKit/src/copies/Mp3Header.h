#pragma once

// Private to TavrinKit: what an MP3's first frame says of how the file was encoded.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tavrin::Mp3Header {

struct Encoding {
    bool vbr = false; ///< a Xing or VBRI header (a CBR file's LAME header says "Info")
    /// The LAME VBR quality (V0…V9) its Xing header's quality field gives, when it has one.
    std::optional<int> quality{};
};

/// Reads the first frame after the ID3v2 tag, however large the tag (a cover can take hundreds of
/// kilobytes); a file that can't be read, or has no frame, reads as CBR.
Encoding read(const std::filesystem::path& path);

/// The rate of MP3's own table nearest `bitRate` (bits a second), for `sampleRate`: MPEG-1's from
/// 32 kHz up, MPEG-2's below. A CBR copy is encoded at a rate the format has.
std::int64_t standardRate(std::int64_t bitRate, int sampleRate);

} // namespace tavrin::Mp3Header
