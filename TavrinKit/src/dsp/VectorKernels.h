#pragma once

#include "tavrin/dsp/VectorOps.h"

#include <cstddef>

namespace tavrin::VectorOps::detail {

/// One instruction set's build of every kernel (see VectorOps.h for their contracts).
struct KernelTable {
    void (*floatToDouble)(const float*, double*, std::size_t);
    bool (*allFinite)(const float*, std::size_t);
    void (*kWeightedEnergy)(const KWeightingFilter&, double*, const double* const*, std::size_t,
                            std::size_t, double*, bool);
    PeakScan (*scanPeaks)(const double*, std::size_t, const double*, const PeakBounds&, double,
                          double);
    void (*scale)(float*, std::size_t, float);
    void (*int16ToFloat)(const unsigned char*, float*, std::size_t, bool);
    void (*int24ToFloat)(const unsigned char*, float*, std::size_t, bool);
    void (*pcmToDoubles)(const unsigned char*, std::size_t, std::size_t, std::size_t,
                         double* const*);
    void (*splitPairs)(const float*, float*, float*, std::size_t);
    double (*maxMagnitude)(const double*, std::size_t);
    double (*polyphasePeak)(const double*, std::size_t, const double*, std::size_t, std::size_t);
    double (*sumOfSquares)(const double*, std::size_t);
};

extern const KernelTable genericKernels;
extern const KernelTable avx2Kernels;
extern const KernelTable avx512Kernels;

} // namespace tavrin::VectorOps::detail
