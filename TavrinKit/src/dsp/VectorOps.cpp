#include "tavrin/dsp/VectorOps.h"

#include "dsp/VectorKernels.h"
#include "tavrin/core/Expects.h"

#include <atomic>
#include <string_view>

namespace tavrin::VectorOps {
namespace {

const detail::KernelTable& table(InstructionSet set) {
    switch (set) {
    case InstructionSet::avx512:
        return detail::avx512Kernels;
    case InstructionSet::avx2:
        return detail::avx2Kernels;
    case InstructionSet::generic:
        break;
    }
    return detail::genericKernels;
}

InstructionSet widestAvailable() {
    for (auto set : {InstructionSet::avx512, InstructionSet::avx2})
        if (isAvailable(set))
            return set;
    return InstructionSet::generic;
}

/// The choice, made on first use (thread-safe as a function-local static) and changed only by
/// select().
std::atomic<InstructionSet>& chosen() {
    static std::atomic<InstructionSet> set{widestAvailable()};
    return set;
}

const detail::KernelTable& kernels() {
    return table(chosen().load(std::memory_order_relaxed));
}

} // namespace

bool isAvailable(InstructionSet set) {
#if defined(__x86_64__) && defined(__GNUC__)
    switch (set) {
    case InstructionSet::avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("fma");
    case InstructionSet::avx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case InstructionSet::generic:
        return true;
    }
    return false;
#else
    return set == InstructionSet::generic;
#endif
}

InstructionSet active() {
    return chosen().load();
}

void select(InstructionSet set) {
    TAVRIN_EXPECTS(isAvailable(set));
    chosen().store(set);
}

bool selectByName(std::string_view name) {
    for (auto set : {InstructionSet::generic, InstructionSet::avx2, InstructionSet::avx512})
        if (name == (set == InstructionSet::generic ? "generic"
                     : set == InstructionSet::avx2  ? "avx2"
                                                    : "avx512")) {
            if (!isAvailable(set))
                return false;
            select(set);
            return true;
        }
    return false;
}

void floatToDouble(const float* in, double* out, std::size_t n) {
    kernels().floatToDouble(in, out, n);
}

bool allFinite(const float* x, std::size_t n) {
    return kernels().allFinite(x, n);
}

namespace {

/// The responses of a block of 8 outputs of the recursion with numerator `b` on the second
/// differences and denominator `a` (a[0] = 1), worked out in extended precision so that each is
/// rounded once.
std::array<double, 14 * 8> blockResponses(const std::array<long double, 3>& b,
                                          const std::array<long double, 5>& a) {
    constexpr std::size_t B = 8;
    std::array<double, 14 * 8> out{};
    for (std::size_t column = 0; column < B + 6; ++column) {
        // Index 4 + t holds time i + t: the values before the block, then the block.
        std::array<long double, B + 4> d{}, y{};
        (column < B + 2 ? d[column + 2] : y[column - B - 2]) = 1;
        for (std::size_t r = 0; r < B; ++r) {
            long double sum = 0;
            for (std::size_t t = 0; t < 5; ++t)
                sum += (t < 3 ? b[t] * d[4 + r - t] : 0) - (t > 0 ? a[t] * y[4 + r - t] : 0);
            y[4 + r] = sum;
            out[B * column + r] = static_cast<double>(sum);
        }
    }
    return out;
}

} // namespace

KWeightingFilter kWeightingFilter(const Biquad& shelf, const Biquad& highPass) {
    TAVRIN_EXPECTS(highPass.b0 == 1 && highPass.b1 == -2 && highPass.b2 == 1);
    KWeightingFilter filter{};
    filter.sections = {shelf.b0, shelf.b1, shelf.b2, shelf.a1, shelf.a2, highPass.a1, highPass.a2};
    // The two recursions as one: the product of the sections' denominators.
    const std::array<long double, 3> sa{1, shelf.a1, shelf.a2}, ha{1, highPass.a1, highPass.a2};
    std::array<long double, 5> a{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            a[i + j] += sa[i] * ha[j];
    const std::array<long double, 3> b{shelf.b0, shelf.b1, shelf.b2};
    filter.block8 = blockResponses(b, a);
    return filter;
}

void kWeightedEnergy(const KWeightingFilter& filter, double* state, const double* const* in,
                     std::size_t lanes, std::size_t n, double* sums, bool products) {
    TAVRIN_EXPECTS(lanes == 1 || lanes == 2);
    kernels().kWeightedEnergy(filter, state, in, lanes, n, sums, products);
}

PeakScan scanPeaks(const double* in, std::size_t n, const double* taps, const PeakBounds& bounds,
                   double interpolated, double run) {
    return kernels().scanPeaks(in, n, taps, bounds, interpolated, run);
}

double polyphasePeak(const double* in, std::size_t n, const double* taps, std::size_t phases,
                     std::size_t length) {
    return kernels().polyphasePeak(in, n, taps, phases, length);
}

double maxMagnitude(const double* x, std::size_t n) {
    return kernels().maxMagnitude(x, n);
}

double sumOfSquares(const double* x, std::size_t n) {
    return kernels().sumOfSquares(x, n);
}

void scale(float* x, std::size_t n, float factor) {
    kernels().scale(x, n, factor);
}

void int16ToFloat(const unsigned char* in, float* out, std::size_t n, bool swapped) {
    kernels().int16ToFloat(in, out, n, swapped);
}

void int24ToFloat(const unsigned char* in, float* out, std::size_t n, bool bigEndian) {
    kernels().int24ToFloat(in, out, n, bigEndian);
}

void pcmToDoubles(const unsigned char* in, std::size_t frames, std::size_t channels,
                  std::size_t bytes, double* const* out) {
    TAVRIN_EXPECTS((channels == 1 || channels == 2) && bytes >= 2 && bytes <= 4);
    kernels().pcmToDoubles(in, frames, channels, bytes, out);
}

void splitPairs(const float* in, float* a, float* b, std::size_t n) {
    kernels().splitPairs(in, a, b, n);
}

} // namespace tavrin::VectorOps
