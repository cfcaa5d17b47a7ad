#include "dsp/VectorKernels.h"

#include <cmath>
#include <type_traits>

#define TAVRIN_KERNEL_TABLE genericKernels
#define TAVRIN_VECTOR_WIDTH 2
#include "dsp/VectorKernels.inc"
