#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin {

/// How the audio of a file is coded, as far as the format description tells it.
enum class AudioCodec { linearPCM, mp3, appleLossless, flac, aac, other };

/// What an opened audio file says about itself. Decoding always yields 32-bit float samples at
/// this sample rate and channel count, one buffer per channel.
struct AudioFileFormat {
    AudioCodec codec = AudioCodec::other;
    int bitDepth = 0;      ///< bits per sample of linear PCM; 0 for other codecs
    bool isFloat = false;  ///< linear PCM holding floating-point samples
    double sampleRate = 0; ///< Hz
    int channelCount = 0;
    /// One label per channel, in channel order; empty when the file does not say which channel is
    /// which. Labels, wherever the kit speaks of them, are Apple channel-label codes, as CAF and
    /// MP4 `chan` records store them (1 left, 2 right, 3 centre, 4 LFE, 5/6 left/right surround,
    /// …), whatever container the file is.
    std::vector<std::uint32_t> channelLabels;

    /// Whether channelLabels name the channels: one per channel, not all of them unknown.
    bool labelsNameChannels() const {
        return channelCount > 0 && channelLabels.size() == std::size_t(channelCount) &&
               !std::ranges::all_of(channelLabels, [](std::uint32_t label) {
                   return label == 0 || label == 0xFFFFFFFF;
               });
    }

    bool operator==(const AudioFileFormat&) const = default;
};

} // namespace tavrin
