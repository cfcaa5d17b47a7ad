#pragma once

#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/reports/ReportRow.h"

#include <optional>
#include <string>

namespace tavrin::test {

/// A minute of stereo measured at `integrated` LUFS with `truePeak` dBTP (either may be absent).
inline LoudnessResult measured(std::optional<double> integrated, std::optional<double> truePeak,
                               std::optional<double> samplePeak = -6.0) {
    return {.integrated = integrated,
            .samplePeak = samplePeak,
            .truePeak = truePeak,
            .duration = 60,
            .sampleRate = 48000,
            .channels = 2};
}

/// A report row for a stereo WAV file in /audio/show.
inline ReportRow row(std::string name, std::optional<LoudnessResult> result,
                     std::optional<std::string> error = std::nullopt,
                     std::optional<std::string> fix = std::nullopt) {
    return {std::move(name),   "/audio/show",    "WAV · 24-bit · 48 kHz · stereo",
            std::move(result), std::move(error), std::move(fix)};
}

} // namespace tavrin::test
