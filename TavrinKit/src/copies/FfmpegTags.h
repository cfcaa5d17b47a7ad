#pragma once

// Private to TavrinKit: an original's tags, chapters and pictures handed to an FFmpeg muxer under
// FFmpeg's tag names, for the copies whose tags aren't carried as the original holds them.

#include "decode/FfmpegReader.h"

#include <filesystem>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace tavrin {

/// Gives `muxer` the chapters of `original`, with their titles. Throws FfmpegError.
void addFfmpegChapters(AVFormatContext& muxer, const FfmpegReader& original);

/// Gives `muxer`, whose audio stream is added, the language of `original`'s audio, its tags but
/// those dropsTag() names, its chapters and, as streams after the audio, its JPEG, PNG and BMP
/// pictures. Returns the original's streams whose pictures were added, in order. Throws
/// FfmpegError.
std::vector<unsigned> addFfmpegTags(AVFormatContext& muxer, const FfmpegReader& original);

/// Writes the pictures addFfmpegTags() added, through `packet`. They go first: the MP3 and FLAC
/// muxers hold the audio back until they have them all. Throws FfmpegError.
void writeFfmpegPictures(AVFormatContext& muxer, const FfmpegReader& original,
                         const std::vector<unsigned>& sources, AVPacket& packet);

/// What of `original`'s tags a copy of it in its own format lacks, or holds otherwise, as FFmpeg
/// reads the two: the names of those tags (but those dropsTag() names), then "chapters" when
/// chapters are missing and "picture" for each missing picture. Empty when the copy can't be
/// opened: measuring it says why.
std::vector<std::string> tagsNotCarried(const FfmpegReader& original,
                                        const std::filesystem::path& copy);

} // namespace tavrin
