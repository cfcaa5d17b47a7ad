#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrin {

/// How a channel counts towards loudness.
enum class ChannelRole { front, surround, lfe };

/// The role's gain in the loudness sum: 1.0, exactly 1.41 (not 1.4125, not sqrt 2) and 0.0.
double weight(ChannelRole role);

/// "front", "surround" or "lfe": the role's coded form.
std::string_view rawValue(ChannelRole role);
/// The role whose raw value is `raw`, or nothing.
std::optional<ChannelRole> roleFromRawValue(std::string_view raw);

/// Role of a channel from its channel label (see AudioFileFormat). Total: every label has a role.
ChannelRole roleForLabel(std::uint32_t label);

/// Roles by channel count alone, for files without usable labels. Empty for counts below 1.
std::vector<ChannelRole> defaultRoles(int channelCount);

/// One weight per role, in order: the meter's weight list.
std::vector<double> weights(const std::vector<ChannelRole>& roles);

} // namespace tavrin
