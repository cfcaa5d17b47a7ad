#pragma once

// Private to TavrinKit: the items of an MP4 file's metadata list ('moov/udta/meta/ilst'), each a
// whole box as the file holds it, so that a copy carries every item in its own atom (podcast
// flags, links, categories, freeform tags, episode ids) rather than those FFmpeg's muxer knows.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::Mp4Items {

/// The largest movie box read: a few covers and many chapters fit in it.
inline constexpr std::uint32_t largestMovie = 64 << 20;

/// The items of the metadata list of the MP4 file at `path`; absent when it has none or its
/// boxes can't be walked.
std::optional<std::vector<std::string>> read(const std::filesystem::path& path);

/// A freeform iTunes item ('----' with mean "com.apple.iTunes") named `name` holding `value`.
std::string freeform(std::string_view name, std::string_view value);

/// An item's type ("©nam", "covr", "pcst", "----"…), and for a freeform item its name.
std::string type(std::string_view item);
std::string freeformName(std::string_view item);

/// Puts `items` in place of the items of the metadata list of the MP4 file open on `fd`, whose
/// 'moov' must be the file's last box (as FFmpeg's muxer leaves it without "faststart"), so that
/// no sample offset moves. Throws FfmpegError when the file is not laid out so.
void replace(int fd, const std::vector<std::string>& items);
/// Adds `item` after the items of that list, as replace() does.
void append(int fd, const std::string& item);

} // namespace tavrin::Mp4Items
