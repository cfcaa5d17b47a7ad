// The command under faults that really happen: the process killed or interrupted while it writes,
// a disk that fills up, a folder that cannot be written.

#include "AudioFixtures.h"
#include "ChildProcess.h"
#include "Cli.h"
#include "SoundFiles.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tavrin;
using namespace tavrin::test;

namespace {

const fs::path examples = TAVRIN_EXAMPLES_DIR;

/// Starts the real command on `original`, its output discarded.
pid_t startFix(const fs::path& original) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(TAVRIN_CLI_PATH, "tavrin-cli", "fix", "--quiet", original.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

/// Polls `dir` until a file named `name` appears, or `writer` exits (its status then in `status`,
/// and it is reaped). True when the name appeared.
bool appears(const fs::path& dir, const std::function<bool(const std::string&)>& name, pid_t writer,
             int& status) {
    for (;;) {
        for (const auto& entry : fs::directory_iterator(dir))
            if (name(entry.path().filename().string()))
                return true;
        if (::waitpid(writer, &status, WNOHANG) == writer)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

/// Rounds of the kill test: TAVRIN_KILL_ROUNDS, or a few for every run of the suite.
int killRounds() {
    const char* rounds = std::getenv("TAVRIN_KILL_ROUNDS");
    return rounds ? std::max(1, std::atoi(rounds)) : 10;
}

} // namespace

// ---- Killed while writing --------------------------------------------------------------------

TEST(CliFaults, KilledFixLeavesTheCopyWholeOrAbsentAndTheNextWriteClearsUp) {
    TempDir dir;
    const fs::path original = dir / "long.wav";
    constexpr sf_count_t frames = 10 * 48000;
    encode(replicate(noise(-40, 10, 48000, 1), 2), 48000, original, "-c:a pcm_s24le");
    const std::string before = readBytes(original);
    const fs::path copy = dir / "long (EBU R 128).wav";
    const std::string temporaryStart = "." + copy.filename().string() + ".tavrin-";
    pid_t writer = 0;
    // A temporary of the current writer; one of an earlier, killed writer may still be there.
    const auto isTemporary = [&](const std::string& name) {
        return name.starts_with(temporaryStart) &&
               name.find("-" + std::to_string(writer) + "-") != std::string::npos;
    };
    const auto isCopy = [&](const std::string& name) { return name == copy.filename().string(); };

    // Whole runs time the write, from the temporary's appearance to the copy's; the longer of
    // two, as the machine may be busy with other work.
    int status = 0;
    std::chrono::steady_clock::duration span{};
    for (int run = 0; run < 2; ++run) {
        writer = startFix(original);
        ASSERT_TRUE(appears(dir.path(), isTemporary, writer, status));
        const auto writing = std::chrono::steady_clock::now();
        ASSERT_TRUE(appears(dir.path(), isCopy, writer, status));
        span = std::max(span, std::chrono::steady_clock::now() - writing);
        ::waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ASSERT_EQ(readAudio(copy).info.frames, frames);
        fs::remove(copy);
    }

    // Each kill lands at a random point of the write or a little after it.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> at(
        0, std::chrono::duration_cast<std::chrono::microseconds>(span * 1.3).count());
    int midWrite = 0, complete = 0, unkilled = 0;
    const int rounds = killRounds();
    for (int round = 0; round < rounds; ++round) {
        const auto delay = std::chrono::microseconds(at(random));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                     ", killed " + std::to_string(delay.count()) + " µs into the write");
        writer = startFix(original);
        // On a busy machine the whole write may pass unseen between two looks; that round
        // then checks a finished run instead.
        const bool killed = appears(dir.path(), isTemporary, writer, status);
        if (killed) {
            std::this_thread::sleep_for(delay);
            ::kill(writer, SIGKILL);
            ::waitpid(writer, &status, 0);
        } else {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            ++unkilled;
        }

        ASSERT_EQ(readBytes(original), before);
        bool ownTemporary = false, othersTemporary = false;
        for (const auto& name : namesIn(dir.path())) {
            if (name == original.filename().string() || isCopy(name))
                continue;
            ASSERT_TRUE(name.starts_with(temporaryStart)) << "unexpected file " << name;
            ownTemporary |= isTemporary(name);
            othersTemporary |= !isTemporary(name);
        }
        EXPECT_FALSE(othersTemporary) << "the writer clears the temporaries of earlier kills";
        if (fs::exists(copy)) {
            ASSERT_EQ(readAudio(copy).info.frames, frames) << "a copy under its name is whole";
            EXPECT_FALSE(ownTemporary);
            complete += killed;
            fs::remove(copy);
        } else {
            EXPECT_TRUE(ownTemporary);
            ++midWrite;
        }
    }
    std::cout << "[ kills    ] " << rounds << " rounds (seed " << seed << ", write "
              << std::chrono::duration_cast<std::chrono::milliseconds>(span).count()
              << " ms): " << midWrite << " mid-write, " << complete
              << " after the copy was complete, " << unkilled << " finished unseen\n";

    // The next write leaves the original, its whole copy and nothing else.
    ::waitpid(startFix(original), &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(namesIn(dir.path()),
              (std::vector<std::string>{copy.filename().string(), original.filename().string()}));
    EXPECT_EQ(readAudio(copy).info.frames, frames);
    EXPECT_EQ(readBytes(original), before);
}

TEST(CliFaults, InterruptedFixExitsWith130AndLeavesNoPartialCopy) {
    TempDir dir;
    // Long enough that the copy is still being written when the interrupt arrives.
    encode(replicate(noise(-40, 300, 48000, 1), 2), 48000, dir / "long.wav", "-c:a pcm_s24le");
    const std::string before = readBytes(dir / "long.wav");
    int status = 0;
    const pid_t writer = startFix(dir / "long.wav");
    const auto hidden = [](const std::string& name) { return name.starts_with("."); };
    ASSERT_TRUE(appears(dir.path(), hidden, writer, status)) << "the copy never started";
    ::kill(writer, SIGINT);
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"long.wav"});
    EXPECT_EQ(readBytes(dir / "long.wav"), before);
}

// ---- Reports that cannot be saved ------------------------------------------------------------

TEST(CliFaults, ReportIntoAFullOrReadOnlyFolderSaysWhyAndChangesNothing) {
    TempDir dir;
    const fs::path folder = dir / "reports";
    fs::create_directory(folder);
    const std::string csv = (folder / "r.csv").string(), pdf = (folder / "r.pdf").string();
    const struct {
        const char* fault;
        std::string description;
    } cases[] = {
        {"full", "No space left on device"},
        {"read-only", "Read-only file system"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string outcome = inChild([&] {
            if (!ownMounts() || !mountTmpfs(folder, "size=64k"))
                return noMounts;
            writeBytes(csv, "the last CSV report");
            writeBytes(pdf, "the last PDF report");
            if (std::string(c.fault) == "full") {
                // Fill every last byte, so that not even a short CSV fits.
                const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
                const std::string block(4096, 'x');
                while (::write(fd, block.data(), block.size()) > 0) {
                }
                while (::write(fd, "x", 1) > 0) {
                }
                ::close(fd);
            } else if (!makeReadOnly(folder)) {
                return std::string("could not make the folder read-only");
            }
            std::ostringstream out, err;
            const int status =
                cli::run({"check", "--csv", csv, "--pdf", pdf, (examples / "Passes.flac").string()},
                         out, err);
            std::string result = std::to_string(status) + "\n" + err.str();
            for (const auto& name : namesIn(folder))
                result += name + ";";
            return result + "\n" + readBytes(csv) + "\n" + readBytes(pdf);
        });
        if (outcome == noMounts)
            GTEST_SKIP() << "A full or read-only folder needs a RAM disk mounted, which only root "
                            "may do.";
        const std::string because =
            " couldn’t be written in " + folder.string() + " (" + c.description + ").\n";
        const std::string filler = std::string(c.fault) == "full" ? "filler;" : "";
        EXPECT_EQ(outcome, "3\nr.csv" + because + "r.pdf" + because + filler +
                               "r.csv;r.pdf;\nthe last CSV report\nthe last PDF report");
    }
}

TEST(CliFaults, ReportSaveKilledPartWayKeepsTheOldReportAndTheNextSaveClearsUp) {
    TempDir dir;
    const fs::path csv = dir / "r.csv";
    writeBytes(csv, "the last CSV report");
    const auto check = [&](std::ostream& out, std::ostream& err) {
        return cli::run({"check", "--csv", csv.string(), (examples / "Passes.flac").string()}, out,
                        err);
    };
    // The file size limit kills the child (SIGXFSZ) in the middle of writing the report.
    inChild([&] {
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::ostringstream out, err;
        check(out, err);
        return std::string("not killed");
    });
    const auto names = namesIn(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[0].starts_with(".r.csv.tavrin-")) << names[0];
    EXPECT_EQ(readBytes(csv), "the last CSV report");

    std::ostringstream out, err;
    EXPECT_EQ(check(out, err), 0) << err.str();
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.csv"});
    EXPECT_TRUE(readBytes(csv).starts_with("File,Folder,"));
}
