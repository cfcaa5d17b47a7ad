// Many files in one run, with few file descriptors to spare, so that anything the command keeps
// open per file runs out long before the end. (scripts/load-test measures the full-size runs.)

#include "AudioFixtures.h"
#include "ChildProcess.h"
#include "Cli.h"

#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

} // namespace

TEST(CliLoad, HundredsOfShortFilesAreMeasuredAndFixedWithFewDescriptors) {
    constexpr int count = 300;
    TempDir dir;
    fs::create_directories(dir / "in");
    fs::create_directories(dir / "out");
    // Half a second, far too quiet for EBU R 128, so that every file gets a copy.
    encode({noise(-40, 0.5, 8000, 7)}, 8000, dir / "take.wav", "-c:a pcm_s16le");
    for (int i = 1; i <= count; ++i)
        fs::copy_file(dir / "take.wav", dir / "in" / ("take " + std::to_string(i) + ".wav"));

    const std::string outcome = inChild([&] {
        const rlimit few{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &few);
        std::ostringstream out, err;
        const int status = cli::run({"fix", "--quiet", "--out", (dir / "out").string(), "--csv",
                                     (dir / "fix.csv").string(), (dir / "in").string()},
                                    out, err);
        return std::to_string(status) + "\n" + err.str() + lastLine(out.str());
    });
    EXPECT_EQ(outcome, "0\nFixed copies: 300 copies written to out, each measured again.");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), count);
    const std::string csv = readBytes(dir / "fix.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), count + 1);
}
