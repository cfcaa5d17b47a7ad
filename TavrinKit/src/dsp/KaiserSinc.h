#pragma once

#include <vector>

namespace tavrin {

/// One phase of a Kaiser-windowed sinc interpolator of 2·halfWidth taps: the point `fraction` of
/// a sample period after input halfWidth − 1 of its inputs, normalised to unity gain at 0 Hz.
std::vector<double> kaiserSincPhase(double fraction, int halfWidth, double beta);

/// The largest Σ|tap| of the phases laid out one after another in `taps`, `length` taps each:
/// how far an interpolated point can exceed the largest magnitude of its inputs.
double largestTapSum(const std::vector<double>& taps, std::size_t length);

} // namespace tavrin
