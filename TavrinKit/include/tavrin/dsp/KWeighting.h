#pragma once

#include <array>
#include <cstddef>

namespace tavrin {

/// One second-order section in normalised form (a0 = 1):
/// y[n] = b0·x[n] + b1·x[n−1] + b2·x[n−2] − a1·y[n−1] − a2·y[n−2].
struct Biquad {
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;

    bool operator==(const Biquad&) const = default;

    /// Magnitude response in dB at `frequency` Hz for a section running at `sampleRate` Hz.
    double magnitudeDB(double frequency, double sampleRate) const;
};

namespace KWeighting {

/// The two K-weighting sections of BS.1770 for `sampleRate` Hz, designed from the analogue
/// prototype so any rate is weighted correctly: the high-frequency shelf, then the high-pass.
std::array<Biquad, 2> stages(double sampleRate);

/// The frames after which the filter at `sampleRate` has forgotten its start: any state it began
/// in has decayed below 1e-10 of its size. Filtering that many frames before a stretch, from
/// rest, leaves nearly the state the whole stream leaves there: loudness read from there on
/// differs by less than 1e-10 LU.
std::size_t settlingFrames(double sampleRate);

} // namespace KWeighting
} // namespace tavrin
