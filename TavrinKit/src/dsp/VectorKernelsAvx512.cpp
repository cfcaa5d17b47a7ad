#include "dsp/VectorKernels.h"

#include <cmath>
#include <type_traits>

#define TAVRIN_KERNEL_TABLE avx512Kernels
#define TAVRIN_VECTOR_WIDTH 8
#include "dsp/VectorKernels.inc"
