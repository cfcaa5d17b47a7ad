#pragma once

// Private to TavrinKit: helper threads shared by the whole process, lending the machine's idle
// processors to one measurement at a time.

#include <cstddef>
#include <type_traits>

namespace tavrin::ParallelTasks {

/// A task by reference, without the allocation a std::function of a capturing lambda costs on
/// every chunk: `call(context, i)` runs task i.
struct TaskRef {
    void (*call)(void* context, std::size_t i);
    void* context;
};

void run(std::size_t count, TaskRef task, bool shared);

/// The processors this process may run on: fewer than the machine's under taskset or in a
/// container, so that helpers never wait their turn on the processor of the thread they help.
int processorsAllowed();
/// The threads run() shares tasks among at most: the caller's and the helpers'.
int threadCount();
/// The processors allowed that no file being measured or written holds: what one file may borrow
/// for threads of its own.
int idleProcessors();

/// Runs task(0) … task(count − 1), each once, and returns when all are done: on the calling
/// thread, joined by the helpers when `shared` and no other caller has them. Tasks are taken in
/// index order, so put the longest first. Rethrows the first exception a task threw, once every
/// task has ended.
template <class Task> void run(std::size_t count, Task& task, bool shared) {
    run(count,
        TaskRef{[](void* context, std::size_t i) { (*static_cast<Task*>(context))(i); }, &task},
        shared);
}

/// Counts the files being measured or written in the process while it lives.
class Running {
public:
    Running();
    ~Running();
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    /// True while this is the only one: only then do helpers join it, so that several files at
    /// once share the processors instead of asking for more threads than there are.
    bool alone() const;
};

} // namespace tavrin::ParallelTasks
