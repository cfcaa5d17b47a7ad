#pragma once

/// Caller contracts. A violated contract is a programming error, never a user-facing failure:
/// it prints where it happened and stops the program in every build type.
#define TAVRIN_EXPECTS(cond)                                                                       \
    ((cond) ? static_cast<void>(0) : ::tavrin::detail::contractFailed(#cond, __FILE__, __LINE__))

namespace tavrin::detail {
[[noreturn]] void contractFailed(const char* condition, const char* file, int line);
} // namespace tavrin::detail
