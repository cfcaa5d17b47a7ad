#pragma once

#include "tavrin/LoudnessResult.h"
#include "tavrin/Timeline.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace tavrin {

/// One measured file.
struct FileMeasurement {
    std::filesystem::path url; ///< the measured file, as passed in
    std::string format;        ///< one line, e.g. "WAV · 24-bit · 48 kHz · stereo"
    LoudnessResult result;
    /// Seconds of audio that damaged data kept out of the reading: packets that failed to decode,
    /// or a stream shorter than its container declares exactly. 0 for an intact file, and for
    /// formats that only estimate their length (MP3 without a Xing or VBRI frame, ADTS).
    double undecodedSeconds = 0;
    /// Where in the file the longest of those losses began, in seconds, when that is known.
    std::optional<double> undecodedAt;
    /// Loudness over time, when it was asked for; shared, as it may be large and is never changed.
    std::shared_ptr<const Timeline> timeline{};

    bool operator==(const FileMeasurement&) const = default;
};

} // namespace tavrin
