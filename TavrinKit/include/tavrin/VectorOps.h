#pragma once

#include <array>
#include <cstddef>

/// The per-sample kernels of the meter and the gain writer: one pass each, no allocation.
/// Callers own and reuse the buffers.
namespace tavrin::VectorOps {

/// out[i] = in[i] converted to double, for i < n.
void floatToDouble(const float* in, double* out, std::size_t n);

/// Largest |x[i]| for i < n; 0 when n is 0.
double maxMagnitude(const double* x, std::size_t n);

/// Sum of x[i]² for i < n; 0 when n is 0.
double sumOfSquares(const double* x, std::size_t n);

/// Two biquad sections in cascade over n samples, coefficients b0 b1 b2 a1 a2 per section.
/// `delay` carries the stream state between calls: x[n−1], x[n−2], then y[n−1], y[n−2] of
/// each section. `in` and `out` may be the same buffer.
void biquadCascade(const std::array<double, 10>& coefficients, std::array<double, 6>& delay,
                   const double* in, double* out, std::size_t n);

/// Correlation with a 32-tap filter: out[i] = Σ_p in[i + p] · taps[p] for i < n.
/// `in` holds n + 31 values; the taps are not reversed.
void correlate32(const double* in, const double* taps, double* out, std::size_t n);

/// x[i] *= factor, for i < n.
void scale(float* x, std::size_t n, float factor);

} // namespace tavrin::VectorOps
