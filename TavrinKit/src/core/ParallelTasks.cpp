#include "core/ParallelTasks.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <sched.h>
#include <thread>
#include <vector>

namespace tavrin::ParallelTasks {
namespace {

std::atomic<int> filesAtWork{0};

/// Waits up to a tenth of a millisecond for `ready`, without sleeping: jobs come every fraction
/// of a millisecond while a file is measured, and a thread put to sleep between them takes longer
/// than that to wake.
template <class Ready> void spinBriefly(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(100);
    while (!ready() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
}

/// The tasks of one call to run(), on the caller's stack.
struct Job {
    std::size_t count;
    TaskRef task;
    std::atomic<std::size_t> next{0};
    std::atomic<int> helpers{0}; ///< helpers inside work(), changed under the pool's mutex
    std::exception_ptr error{};
};

class Helpers {
public:
    static Helpers& instance() {
        static Helpers helpers; // joined when the process exits
        return helpers;
    }

    /// Runs `job` with the helpers; false when another caller has them or there are none.
    bool run(Job& job) {
        const std::unique_lock inUse(m_inUse, std::try_to_lock);
        if (!inUse || m_threads.empty())
            return false;
        {
            const std::lock_guard lock(m_mutex);
            m_job = &job;
            ++m_generation;
        }
        m_wake.notify_all();
        work(job);
        spinBriefly([&job] { return job.helpers.load() == 0; });
        std::unique_lock lock(m_mutex);
        m_job = nullptr; // no helper joins any more; wait for those inside
        m_left.wait(lock, [&job] { return job.helpers == 0; });
        return true;
    }

    static void work(Job& job) {
        for (std::size_t i; (i = job.next++) < job.count;) {
            try {
                job.task.call(job.task.context, i);
            } catch (...) {
                static std::mutex errorMutex;
                const std::lock_guard lock(errorMutex);
                if (!job.error)
                    job.error = std::current_exception();
            }
        }
    }

private:
    Helpers() {
        for (int i = 1; i < threadCount(); ++i)
            m_threads.emplace_back([this] { serve(); });
    }

    ~Helpers() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (auto& thread : m_threads)
            thread.join();
    }

    void serve() {
        std::uint64_t seen = 0;
        for (;;) {
            Job* job = nullptr;
            spinBriefly([&] { return m_generation.load() != seen || m_stopping.load(); });
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return m_stopping || (m_job && m_generation != seen); });
                if (m_stopping)
                    return;
                seen = m_generation;
                job = m_job;
                ++job->helpers;
            }
            work(*job);
            {
                const std::lock_guard lock(m_mutex);
                --job->helpers;
            }
            m_left.notify_all();
        }
    }

    std::mutex m_inUse; ///< held by the caller whose job the helpers run
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_left;
    Job* m_job = nullptr;
    std::atomic<std::uint64_t> m_generation{0}; ///< changed under m_mutex
    std::atomic<bool> m_stopping{false};        ///< changed under m_mutex
    std::vector<std::thread> m_threads;
};

} // namespace

int processorsAllowed() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return CPU_COUNT(&set);
    return int(std::thread::hardware_concurrency());
}

int threadCount() {
    return std::min(processorsAllowed(), 16);
}

int idleProcessors() {
    return std::max(processorsAllowed() - filesAtWork.load(), 0);
}

void run(std::size_t count, TaskRef task, bool shared) {
    Job job{count, task};
    if (!shared || count < 2 || !Helpers::instance().run(job))
        Helpers::work(job);
    if (job.error)
        std::rethrow_exception(job.error);
}

Running::Running() {
    ++filesAtWork;
}

Running::~Running() {
    --filesAtWork;
}

bool Running::alone() const {
    return filesAtWork.load() == 1;
}

} // namespace tavrin::ParallelTasks
