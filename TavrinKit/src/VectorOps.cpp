#include "tavrin/VectorOps.h"

#include "VectorKernels.h"
#include "tavrin/Expects.h"

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

void sumOfSquares(const double* y, std::size_t frames, std::size_t lanes, double* sums) {
    kernels().sumOfSquares(y, frames, lanes, sums);
}

void biquadCascade(const double* coefficients, double* delay, const double* const* in, double* out,
                   std::size_t lanes, std::size_t n) {
    kernels().biquadCascade(coefficients, delay, in, out, lanes, n);
}

PeakScan scanPeaks(const double* in, std::size_t n, const double* taps, const PeakBounds& bounds,
                   double interpolated, double run) {
    return kernels().scanPeaks(in, n, taps, bounds, interpolated, run);
}

double maxMagnitude(const double* x, std::size_t n) {
    return kernels().maxMagnitude(x, n);
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

void splitPairs(const float* in, float* a, float* b, std::size_t n) {
    kernels().splitPairs(in, a, b, n);
}

} // namespace tavrin::VectorOps
