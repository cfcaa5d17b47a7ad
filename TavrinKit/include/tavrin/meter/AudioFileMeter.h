#pragma once

#include "tavrin/core/Cancellation.h"
#include "tavrin/decode/AudioFileFormat.h"
#include "tavrin/decode/ChannelRole.h"
#include "tavrin/meter/FileMeasurement.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

namespace AudioFileMeter {

/// Frames decoded and metered per chunk; cancellation is checked before each one.
inline constexpr std::size_t chunkFrames = 65536;

/// The sample rates measured, in Hz; a header claiming another rate is damaged, not a recording.
/// K-weighting lifts the band around 1.68 kHz, which needs a Nyquist frequency above it; no audio
/// format in use goes past 768 kHz.
inline constexpr int lowestSampleRate = 4000;
inline constexpr int highestSampleRate = 768000;

/// Measures one file, synchronously on the calling thread. With `dualMono`, a one-channel file
/// counts as the same signal on two front speakers (weight 2.0). `progress` is called on this
/// thread: for the first chunk, then after every further 2 %, then once with 1.0.
/// Throws AudioFileError (unreadable) with a whole sentence when the file cannot be measured (a
/// pipe or a device is never opened; a rate outside the measured range is refused; a file none of
/// whose audio decodes is not silent but unreadable), and
/// Cancelled when `isCancelled` answers true before a chunk (no final progress call then).
/// With `withTimeline`, the measurement carries the file's loudness over time too, gathered in
/// the same pass; the result is the same either way.
FileMeasurement measure(const std::filesystem::path& path, bool dualMono,
                        const ProgressFn& progress = {}, const CancelCheck& isCancelled = {},
                        bool withTimeline = false);

/// `stretch` of the file measured again with its timeline at 100 ms steps, from up to 3 s before
/// it (what short-term loudness looks back on) to just past its end. For a close look at a file
/// whose timeline has merged steps. Throws AudioFileError.
TimelineStretch measureStretch(const std::filesystem::path& path, bool dualMono, TimeSpan stretch,
                               const CancelCheck& isCancelled = {});

/// The meter's weight per channel: by role, or twice a lone channel's when it is counted as dual
/// mono.
std::vector<double> channelWeights(const AudioFileFormat& format, bool dualMono);

/// One role per channel: from the channel labels when they name every channel, otherwise from the
/// channel count alone.
std::vector<ChannelRole> channelRoles(const AudioFileFormat& format);

/// One line such as "WAV · 24-bit · 48 kHz · stereo" or "AAC · 44.1 kHz · 5.1". The container name
/// of linear PCM comes from the path's extension.
std::string formatDescription(const AudioFileFormat& format, const std::filesystem::path& path);

} // namespace AudioFileMeter
} // namespace tavrin
