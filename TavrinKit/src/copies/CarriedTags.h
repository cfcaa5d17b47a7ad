#pragma once

// Private to TavrinKit: what of an original's tags a copy carries.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin {

/// Tags the gain makes wrong (a player would apply them on top of it), an earlier provenance
/// record, and the container's own bookkeeping, which the muxer writes afresh.
bool dropsTag(std::string_view key);

/// The ID3v2 tag a copy of the MP3 `original` starts with: every frame of the original's, in its
/// own type and as it was, but those dropsTag() names (by a TXXX or COMM frame's description),
/// the encoder's name (TSSE) and relative volume adjustments (RVA2, RVAD), with `record` (when not
/// empty) as a TXXX frame. Absent when the original's tag can't be carried frame by frame.
std::optional<std::string> carriedId3Tag(const std::filesystem::path& original,
                                         const std::string& record);

} // namespace tavrin
