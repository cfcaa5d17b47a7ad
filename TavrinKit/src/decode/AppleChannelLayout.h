#pragma once

// Private to TavrinKit: Apple channel layouts ('chan' in CAF and MP4, 'CHAN' in AIFF, and 'chan'
// in the WAV copies we write), read by ourselves because FFmpeg keeps only which speakers are
// present, not their order.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace tavrin::AppleChannelLayout {

enum class Container { caf, aiff, mp4, wav };

/// The channel labels of the file's channel layout, in channel order: nothing when the file holds
/// no layout; an empty list when it holds one without usable labels (a bitmap, an unknown tag).
std::optional<std::vector<std::uint32_t>> readLabels(const std::filesystem::path& path,
                                                     Container container);

/// The labels of a layout record (tag, bitmap, descriptions' labels): the descriptions for tag 0,
/// nothing for a bitmap, otherwise the standard tag expanded from our table (empty if unknown).
std::vector<std::uint32_t> labels(std::uint32_t tag, const std::vector<std::uint32_t>& described);

/// A layout record of `labels`, one description each, as a 'chan' or 'CHAN' chunk holds it.
std::vector<std::uint8_t> record(const std::vector<std::uint32_t>& labels);

} // namespace tavrin::AppleChannelLayout
