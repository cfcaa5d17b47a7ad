#pragma once

// Private to TavrinKit: a custom tag added to an MP4 file the muxer has finished.

#include <string_view>

namespace tavrin {

/// Adds a freeform iTunes tag ('----' with mean "com.apple.iTunes") named `name` holding `value`
/// to the metadata list of the MP4 file open on `fd`, whose 'moov' must be the file's last box (as
/// FFmpeg's muxer leaves it without "faststart"), so that no sample offset moves. The muxer itself
/// writes only the tags it knows. Throws FfmpegError when the file is not laid out so.
void addMp4FreeformTag(int fd, std::string_view name, std::string_view value);

} // namespace tavrin
