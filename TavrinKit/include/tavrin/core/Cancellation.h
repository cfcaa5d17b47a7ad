#pragma once

#include <exception>
#include <functional>

namespace tavrin {

/// Asked before each chunk of long work (measuring, writing a copy): returning true stops the work
/// with Cancelled. An empty function means the work is never cancelled. It is called on the
/// working thread, so it must only read something that is safe to read from there, such as a
/// std::atomic<bool> set by a GUI thread or a volatile std::sig_atomic_t set by a signal handler.
using CancelCheck = std::function<bool()>;

/// Receives the fraction of a file done, in [0, 1], on the working thread. An empty function means
/// no progress reports.
using ProgressFn = std::function<void(double fraction)>;

/// Thrown when a CancelCheck asked to stop. Never an AudioFileError, so a caller can tell a
/// stopped measurement from a failed one; it carries no user-facing text.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

/// Throws Cancelled when `isCancelled` says to stop.
inline void stopIfCancelled(const CancelCheck& isCancelled) {
    if (isCancelled && isCancelled())
        throw Cancelled();
}

} // namespace tavrin
