#pragma once

#include "tavrin/LoudnessResult.h"

#include <optional>

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

} // namespace tavrin::test
