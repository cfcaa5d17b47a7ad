#pragma once

namespace tavrin::Limiter {

/// What limiting did to a copy.
struct Summary {
    double gain = 0;         ///< dB, the static gain under the limiting
    double maxReduction = 0; ///< dB, the largest peak reduction
    double seconds = 0;      ///< how long the reduction exceeds actingReduction
    bool operator==(const Summary&) const = default;
};

} // namespace tavrin::Limiter
