#include "Measuring.h"

#include "CliTexts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tavrin::cli {
namespace {

/// The state the workers and the reporting thread share, under one lock.
struct Board {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Reading>> readings;
    std::vector<double> fractions;
    std::size_t next = 0;     ///< the next file a worker takes
    std::size_t reported = 0; ///< the file being handed over, or waited for
    std::size_t running = 0;
    bool stopping = false; ///< workers take no more files
    bool cancelled = false;

    /// The next file to measure, once it is close enough to the one being handed over; none
    /// when the work stops or every file is taken.
    std::optional<std::size_t> take(std::size_t ahead) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopping || next < reported + ahead; });
        if (stopping || next >= readings.size())
            return std::nullopt;
        return next++;
    }

    /// Tells the workers to take no more files and to stop the ones they measure.
    void stop() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
    }
};

void drawProgress(std::ostream& out, const Board& board, std::size_t done,
                  const std::vector<std::filesystem::path>& files) {
    // The first file still being measured, with its percentage.
    std::string line = CliTexts::measuring(done, files.size());
    for (std::size_t i = done; i < files.size(); ++i)
        if (!board.readings[i] && board.fractions[i] >= 0) {
            line += ": " + files[i].filename().string() + " " +
                    std::to_string(static_cast<int>(board.fractions[i] * 100)) + "%";
            break;
        }
    out << "\r\033[K" << line << std::flush;
}

} // namespace

void measureFiles(const std::vector<std::filesystem::path>& files, bool dualMono, int jobs,
                  const std::function<void(std::size_t, const Reading&)>& onReading,
                  std::ostream* progress, const CancelCheck& isCancelled, bool withTimeline) {
    Board board;
    board.readings.resize(files.size());
    board.fractions.assign(files.size(), -1.0);
    std::atomic<bool> stop{false};
    const CancelCheck stopping = [&] { return stop.load(); };
    const std::size_t width =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), files.size());
    // A timeline weighs megabytes: readings finished early must not pile up behind a long file.
    const std::size_t ahead = withTimeline ? timelinesAhead(jobs) : files.size();

    auto work = [&] {
        while (const auto next = board.take(ahead)) {
            const std::size_t i = *next;
            const ProgressFn onProgress = [&, i](double fraction) {
                const std::lock_guard lock(board.mutex);
                board.fractions[i] = fraction;
            };
            try {
                Reading reading =
                    Workflow::measure(files[i], dualMono, onProgress, stopping, withTimeline);
                const std::lock_guard lock(board.mutex);
                board.readings[i] = std::move(reading);
            } catch (const Cancelled&) {
                break;
            }
            board.changed.notify_all();
        }
        const std::lock_guard lock(board.mutex);
        --board.running;
        board.changed.notify_all();
    };

    board.running = width;
    std::vector<std::jthread> workers;
    for (std::size_t w = 0; w < width; ++w)
        workers.emplace_back(work);
    // However this function is left, the workers stop at their next chunk before they are joined.
    struct StopOnExit {
        Board& board;
        std::atomic<bool>& stop;
        ~StopOnExit() {
            stop = true;
            board.stop();
        }
    } stopOnExit{board, stop};

    std::size_t& reported = board.reported; // changed only here, under the lock
    std::unique_lock lock(board.mutex);
    while (reported < files.size()) {
        // The predicate catches a reading stored while this thread was printing, which would
        // otherwise wait for the next file or the timeout; the timeout redraws the progress.
        board.changed.wait_for(lock, std::chrono::milliseconds(100), [&] {
            return board.cancelled || board.readings[reported].has_value();
        });
        if (isCancelled && isCancelled()) {
            stop = true;
            board.cancelled = true;
        }
        if (board.cancelled) {
            board.stopping = true;
            board.changed.notify_all();
            board.changed.wait(lock, [&] { return board.running == 0; });
            if (progress)
                *progress << "\r\033[K" << std::flush;
            throw Cancelled();
        }
        while (reported < files.size() && board.readings[reported]) {
            {
                // Taken off the board, and released before a file further on may start.
                const Reading reading = std::move(*board.readings[reported]);
                board.readings[reported].reset();
                lock.unlock();
                if (progress)
                    *progress << "\r\033[K" << std::flush;
                onReading(reported, reading);
            }
            lock.lock();
            ++reported;
            board.changed.notify_all();
        }
        if (progress && reported < files.size())
            drawProgress(*progress, board, reported, files);
    }
    if (progress)
        *progress << "\r\033[K" << std::flush;
}

} // namespace tavrin::cli
