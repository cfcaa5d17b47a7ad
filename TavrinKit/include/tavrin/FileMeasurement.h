#pragma once

#include "tavrin/LoudnessResult.h"

#include <filesystem>
#include <string>

namespace tavrin {

/// One measured file.
struct FileMeasurement {
    std::filesystem::path url; ///< the measured file, as passed in
    std::string format;        ///< one line, e.g. "WAV · 24-bit · 48 kHz · stereo"
    LoudnessResult result;

    bool operator==(const FileMeasurement&) const = default;
};

} // namespace tavrin
