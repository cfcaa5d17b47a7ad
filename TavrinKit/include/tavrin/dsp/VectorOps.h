#pragma once

#include "tavrin/dsp/KWeighting.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <string_view>

/// The per-sample kernels of the meter and the gain writer: one pass each, no allocation.
/// Callers own and reuse the buffers. Each kernel exists for the generic x86-64 (or any other)
/// instruction set and, where the processor has them, for AVX2 and AVX-512; the widest one the
/// processor supports is used unless a test or benchmark selects another.
namespace tavrin::VectorOps {

enum class InstructionSet { generic, avx2, avx512 };

/// Whether this processor can run kernels built for `set`.
bool isAvailable(InstructionSet set);
/// The instruction set in use: the widest available one unless select() chose another.
InstructionSet active();
/// Switches every kernel to `set`, which must be available. For tests, benchmarks and programs
/// that compare instruction sets; call it only while nothing is measuring.
void select(InstructionSet set);
/// select() by name ("generic", "avx2", "avx512"); false, changing nothing, for a name that is
/// unknown or an instruction set this processor lacks.
bool selectByName(std::string_view name);

/// out[i] = in[i] converted to double, for i < n.
void floatToDouble(const float* in, double* out, std::size_t n);

/// out[i] = the i-th 16-bit integer at `in` over 2^15, for i < n; `swapped` when its bytes are
/// in the other order than the processor's.
void int16ToFloat(const unsigned char* in, float* out, std::size_t n, bool swapped);
/// out[i] = the i-th 24-bit integer at `in`, little- or big-endian, over 2^23, for i < n, computed
/// as the top of a 32-bit integer over 2^31 in single precision; `in` is readable 4 bytes past
/// its last sample.
void int24ToFloat(const unsigned char* in, float* out, std::size_t n, bool bigEndian);

/// out[c][f] = sample c of frame f of `frames` interleaved frames of `channels` (1 or 2)
/// little-endian integers of `bytes` (2, 3 or 4) bytes at `in`, over full scale: the values
/// int16ToFloat() and int24ToFloat() give, and a 32-bit sample's rounded to single precision, in
/// double precision. Three-byte samples are read 4 bytes past their end.
void pcmToDoubles(const unsigned char* in, std::size_t frames, std::size_t channels,
                  std::size_t bytes, double* const* out);

/// a[i] = in[2i] and b[i] = in[2i + 1], for i < n: interleaved pairs split in two.
void splitPairs(const float* in, float* a, float* b, std::size_t n);

/// True when every x[i], i < n, is a finite number (neither NaN nor infinite).
bool allFinite(const float* x, std::size_t n);

/// The K-weighting filter, the shelf and the high-pass in cascade, in the forms the kernels run.
/// The high-pass's feed-forward part, the second difference d[i] = x[i] − 2·x[i−1] + x[i−2], can
/// go first; what is left is one fourth-order recursion, output y[i] following from d[i − 2 … i]
/// and y[i − 4 … i − 1]. A block of 8 outputs from i on is then a sum of responses:
/// `block8[8·k + r]` is output i + r's response to d[i − 2 + k] for k < 10, and
/// `block8[8·(10 + k) + r]` its response to y[i − 4 + k] for k < 4.
struct KWeightingFilter {
    std::array<double, 7> sections; ///< b0 b1 b2 a1 a2 of the shelf, then a1 a2 of the high-pass
    std::array<double, 14 * 8> block8;
};

/// The filter of `shelf` and `highPass`, whose b0 b1 b2 must be 1, −2, 1 (as at every rate).
KWeightingFilter kWeightingFilter(const Biquad& shelf, const Biquad& highPass);

/// K-weights n samples of `lanes` (1 or 2) channels at once, in[j] pointing at channel j's, and
/// sets sums[j] to the sum of squares of channel j's filtered samples; with two lanes and
/// `products`, sums[2] to the sum of the products of their filtered samples. `state` holds eight
/// doubles per lane carried from one call to the next, all zero at the start of a stream.
void kWeightedEnergy(const KWeightingFilter& filter, double* state, const double* const* in,
                     std::size_t lanes, std::size_t n, double* sums, bool products = false);

/// What one pass of the true-peak detector finds.
struct PeakScan {
    double interpolated; ///< largest magnitude of the interpolated points (or the start value)
    double sample;       ///< largest |in[i]| over all n + 31 inputs; NaN values are ignored
    /// Where the largest interpolated point lies when the scan raised `interpolated`: i + 15 + q/4
    /// for output i of the phase of q quarters, between in[i + 15] and in[i + 16]; −1 otherwise.
    double interpolatedAt = -1;
    std::size_t sampleAt = 0; ///< index of the first input of magnitude `sample`
    /// Largest magnitude of the interpolated points, or the start value `run` if larger.
    double run = 0;
    double sum = 0; ///< Σ in[i] over all n + 31 inputs
};

/// How far the interpolated points can stray from the inputs they are made of, so that a scan can
/// skip points that cannot matter.
struct PeakBounds {
    double whole; ///< the largest Σ|tap| of a phase
    /// The largest Σ|tap| of a phase outside its eight central taps (12 … 19): a point is within
    /// this times its inputs' largest magnitude of the sum over its central taps alone.
    double outer;
};

/// One pass over n + 31 inputs: output i of phase k is Σ_p in[i + p] · taps[32·k + p], and the
/// result holds the largest output magnitude of the three phases, or `interpolated` if larger,
/// with the largest input magnitude. Outputs that `bounds` show cannot reach past `interpolated`
/// are skipped, which never changes the result. `run` is a second, usually lower, running peak
/// raised by the same outputs: the peak of a stretch of time as well as the file's, in one pass.
PeakScan scanPeaks(const double* in, std::size_t n, const double* taps, const PeakBounds& bounds,
                   double interpolated, double run = HUGE_VAL);

/// The largest output magnitude of `phases` interpolation phases of `length` taps each, laid out
/// one after another in `taps`, over n outputs: output i of phase k is
/// Σ_p in[i + p] · taps[length·k + p], reading n + length − 1 inputs. No output is skipped.
double polyphasePeak(const double* in, std::size_t n, const double* taps, std::size_t phases,
                     std::size_t length);

/// The largest |x[i]| of finite values x[i], i < n; 0 when n is 0.
double maxMagnitude(const double* x, std::size_t n);

/// Σ x[i]², i < n; 0 when n is 0.
double sumOfSquares(const double* x, std::size_t n);

/// x[i] *= factor, for i < n.
void scale(float* x, std::size_t n, float factor);

} // namespace tavrin::VectorOps
