#pragma once

// Work off the GUI thread whose result comes back to it.

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <memory>

namespace tavrin::app {

/// Runs `work` on `pool`, then `done` with its result on `context`'s thread, always from the event
/// loop: never inside the call, even when the work is over at once, so `done` can't reenter the
/// code that started it. The owner of `pool` must wait for it before `context` is destroyed.
template <typename Work, typename Done>
void runThen(QThreadPool& pool, QObject* context, Work work, Done done) {
    pool.start([context, work = std::move(work), done = std::move(done)]() mutable {
        QMetaObject::invokeMethod(
            context,
            [done = std::move(done), result = work()]() mutable { done(std::move(result)); },
            Qt::QueuedConnection);
    });
}

inline std::shared_ptr<std::atomic<bool>> newStopFlag() {
    return std::make_shared<std::atomic<bool>>(false);
}

} // namespace tavrin::app
