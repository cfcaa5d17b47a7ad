#pragma once

// Private to TavrinKit: which speaker each channel is, from FFmpeg's channel layouts.

#include "decode/AppleChannelLayout.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrin {

/// Label codes for FFmpeg's channels. FFmpeg's first 18 channels follow the WAVE speaker bits,
/// which map to labels 1…18 in order. A layout with both back and side pairs is a 7.1 whose back
/// pair is the rear surround (33/34, counting as front) and whose side pair is the surround (5/6),
/// as Core Audio reads such a WAV. Empty for ambisonics and layouts without a speaker
/// order.
std::vector<std::uint32_t> labelsOf(const AVChannelLayout& layout);

/// Containers whose channel layout record FFmpeg reduces to a speaker set, losing the order, by
/// the name of FFmpeg's demuxer.
std::optional<AppleChannelLayout::Container> appleContainer(std::string_view demuxer);

} // namespace tavrin
