#pragma once

#include <cstddef>

/// The per-sample kernels of the meter and the gain writer: one pass each, no allocation.
/// Callers own and reuse the buffers. Each kernel exists for the generic x86-64 (or any other)
/// instruction set and, where the processor has them, for AVX2 and AVX-512; the widest one the
/// processor supports is used unless a test or benchmark selects another.
namespace tavrin::VectorOps {

enum class InstructionSet { generic, avx2, avx512 };

/// Whether this processor can run kernels built for `set`.
bool isAvailable(InstructionSet set);
/// The instruction set in use. The first call picks the widest available one, or the one named
/// by the TAVRIN_SIMD environment variable ("generic", "avx2", "avx512") when it is available.
InstructionSet active();
/// Switches every kernel to `set`, which must be available. For tests and benchmarks; call it
/// only while nothing is measuring.
void select(InstructionSet set);

/// out[i] = in[i] converted to double, for i < n.
void floatToDouble(const float* in, double* out, std::size_t n);

/// True when every x[i], i < n, is a finite number (neither NaN nor infinite).
bool allFinite(const float* x, std::size_t n);

/// Largest |x[i]| for i < n; 0 when n is 0. NaN values are ignored.
double maxMagnitude(const double* x, std::size_t n);

/// Per-lane sums of squares over `frames` frames of `lanes` interleaved lanes (1, 2 or 4):
/// sums[j] = Σ_i y[i·lanes + j]².
void sumOfSquares(const double* y, std::size_t frames, std::size_t lanes, double* sums);

/// The two K-weighting sections in cascade, run over `lanes` (1, 2 or 4) channels at once:
/// in[j] points at channel j's n samples; out receives the n·lanes filtered samples interleaved
/// (out[i·lanes + j]). `coefficients` holds b0 b1 b2 a1 a2 of each section; `delay` holds six
/// doubles of stream state per lane, carried from one call to the next.
void biquadCascade(const double* coefficients, double* delay, const double* const* in, double* out,
                   std::size_t lanes, std::size_t n);

/// Largest magnitude of the three interpolation phases over n outputs, or `peak` if larger:
/// output i of phase k is Σ_p in[i + p] · taps[32·k + p], so `in` holds n + 31 values.
/// `tapGain` bounds the gain of every phase (its largest Σ|tap|): blocks whose input cannot
/// reach past `peak` are skipped, which never changes the result.
double interpolatedPeak(const double* in, std::size_t n, const double* taps, double tapGain,
                        double peak);

/// x[i] *= factor, for i < n.
void scale(float* x, std::size_t n, float factor);

} // namespace tavrin::VectorOps
