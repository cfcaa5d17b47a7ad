// Measuring many files with their timelines: a long run holds only the few readings in flight,
// not one per file, whatever the reports keep.

#include "Measuring.h"

#include "AudioFixtures.h"
#include "Cli.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

using namespace tavrin;
using namespace tavrin::test;

// When a file starts, every file timelinesAhead places before it has been printed and its timeline
// released, even while the first file holds the printing up: left free, the workers would race
// through the whole list, and the readings kept for the reports would keep every timeline.
TEST(Measuring, ATimelineIsReleasedOnceItsLineIsPrinted) {
    TempDir dir;
    std::vector<std::string> args{
        "check", "--json", "--timeline", "--jobs", "2", "--csv", (dir / "r.csv").string()};
    std::vector<std::weak_ptr<const Timeline>> timelines(12);
    std::vector<bool> measured(timelines.size());
    for (std::size_t i = 0; i < timelines.size(); ++i) {
        args.push_back((dir / ("take " + std::to_string(i) + ".flac")).string());
        fs::create_hard_link(fs::path(TAVRIN_EXAMPLES_DIR) / "Passes.flac", args.back());
    }
    const std::size_t ahead = cli::timelinesAhead(2);
    std::mutex mutex;
    std::vector<std::size_t> held; // files not printed and released when one far on started
    Workflow::replaceMeasuringStepForTesting([&](const fs::path& file, bool dualMono,
                                                 const ProgressFn& progress,
                                                 const CancelCheck& isCancelled) {
        const std::size_t k = std::stoul(file.stem().string().substr(5));
        {
            const std::lock_guard lock(mutex);
            for (std::size_t j = 0; j + ahead <= k; ++j)
                if (!measured[j] || !timelines[j].expired())
                    held.push_back(j);
        }
        if (k == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto measurement = AudioFileMeter::measure(file, dualMono, progress, isCancelled, true);
        const std::lock_guard lock(mutex);
        timelines[k] = measurement.timeline;
        measured[k] = true;
        return measurement;
    });
    std::ostringstream out, err;
    const int status = cli::run(args, out, err);
    Workflow::replaceMeasuringStepForTesting({});
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(std::ranges::count(out.str(), '\n'), 12);
    EXPECT_EQ(held, std::vector<std::size_t>{});
}
