#pragma once

// Private to TavrinKit: a FLAC file's metadata blocks as the file holds them, so that a copy
// carries its original's Vorbis comments one by one (every value of a repeated name, chapters,
// COMMENT as COMMENT) and its pictures, cue sheet and application blocks byte for byte.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::FlacBlocks {

enum Type : std::uint8_t {
    streamInfo = 0,
    padding = 1,
    application = 2,
    seekTable = 3,
    vorbisComment = 4,
    cueSheet = 5,
    picture = 6
};

struct Block {
    std::uint8_t type = 0;
    std::string data;
};

/// The largest metadata read: many covers fit in it.
inline constexpr std::uint32_t largestMetadata = 32 << 20;

/// The metadata blocks of the FLAC file at `path`, STREAMINFO first; absent when it doesn't start
/// with "fLaC", or its blocks are damaged or over largestMetadata in all.
std::optional<std::vector<Block>> read(const std::filesystem::path& path);

/// `blocks` as bytes, each with its header, the last one marked last.
std::string bytes(const std::vector<Block>& blocks);
/// How many bytes bytes() gives.
std::size_t size(const std::vector<Block>& blocks);

/// A Vorbis comment block's vendor string and its comments ("NAME=value"), in order; absent when
/// it is damaged.
struct Comments {
    std::string vendor;
    std::vector<std::string> entries;
};
std::optional<Comments> comments(const Block& block);
Block commentBlock(const Comments& comments);

/// Puts `blocks` in place of every block after the STREAMINFO of the FLAC file open as `fd`,
/// filling what they leave of that room with padding. False when they don't fit, or the file
/// isn't FLAC as written.
bool replaceAfterStreamInfo(int fd, const std::vector<Block>& blocks);

} // namespace tavrin::FlacBlocks
