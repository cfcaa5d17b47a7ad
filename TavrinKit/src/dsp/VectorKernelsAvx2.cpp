#include "dsp/VectorKernels.h"

#include <cmath>
#include <type_traits>

#define TAVRIN_KERNEL_TABLE avx2Kernels
#define TAVRIN_VECTOR_WIDTH 4
#include "dsp/VectorKernels.inc"
