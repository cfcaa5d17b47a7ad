#include "tavrin/core/Expects.h"

#include <cstdio>
#include <cstdlib>

namespace tavrin::detail {

void contractFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: contract violated: %s\n", file, line, condition);
    std::abort();
}

} // namespace tavrin::detail
