#pragma once

// Private to TavrinKit: what of an original's tags a copy carries.

#include "copies/FlacBlocks.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// Tags the gain makes wrong (a player would apply them on top of it), an earlier provenance
/// record, and the container's own bookkeeping, which the muxer writes afresh.
bool dropsTag(std::string_view key);

/// The ID3v2 tag a copy of the MP3 `original` starts with: every frame of the original's, in its
/// own type and as it was, but those dropsTag() names (by a TXXX or COMM frame's description),
/// the encoder's name (TSSE), relative volume adjustments (RVA2, RVAD) and the frames that point
/// at the original's bytes (MLLT, ASPI, SEEK), with `record` (when not empty) as a TXXX frame.
/// Absent when the original's tag can't be carried frame by frame.
std::optional<std::string> carriedId3Tag(const std::filesystem::path& original,
                                         const std::string& record);

/// The metadata blocks a FLAC copy of `original` carries after its STREAMINFO: the original's
/// Vorbis comments in order, every value of a repeated name apart, under `vendor` (the copy's
/// encoder) but for those dropsTag() names, with `record` (when not empty) added; then its
/// pictures, cue sheet and application blocks as they are. Absent when the original's metadata
/// can't be read.
std::optional<std::vector<FlacBlocks::Block>>
carriedFlacBlocks(const std::filesystem::path& original, const std::string& record,
                  const std::string& vendor);

/// The items a copy of the MP4 `original` carries in its metadata list: every item of the
/// original's as it was (cover art, podcast flags and links, categories, episode ids, freeform
/// tags), but freeform ones dropsTag() names and the encoder's name ('©too'), with `record` (when
/// not empty) as a freeform item. Absent when the original has no metadata list that can be read.
std::optional<std::vector<std::string>> carriedMp4Items(const std::filesystem::path& original,
                                                        const std::string& record);

} // namespace tavrin
