// The program under faults that really happen: killed or interrupted while it writes, a pipe whose
// reader has gone, a disk that fills up, a folder that cannot be written, few file descriptors.

#include "AudioFixtures.h"
#include "ChildProcess.h"
#include "Cli.h"
#include "SoundFiles.h"

#include <algorithm>
#include <chrono>
#include <csignal>
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
const std::string passes = (examples / "Passes.flac").string();

/// Starts the real program with `args`, its standard output on the file descriptor `out` (or
/// discarded, as its standard error is).
pid_t start(const std::vector<std::string>& args, int out = -1, int err = -1) {
    std::vector<char*> argv{const_cast<char*>("tavrin-cli")};
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(err < 0 ? null : err, STDERR_FILENO);
        ::dup2(out < 0 ? null : out, STDOUT_FILENO);
        ::execv(TAVRIN_CLI_PATH, argv.data());
        ::_exit(127);
    }
    return child;
}

/// The status of the command run in this process, its output discarded.
int runHere(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    return cli::run(args, out, err);
}

/// A wait status as a shell gives it: the exit status, or 128 plus the signal that ended it.
int shellStatus(int status) {
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

int waitFor(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return shellStatus(status);
}

/// Polls `dir` until a file named `name` appears, or `writer` exits (its shell status then in
/// `status`, and it is reaped). True when the name appeared.
bool appears(const fs::path& dir, const std::function<bool(const std::string&)>& name, pid_t writer,
             int& status) {
    for (;;) {
        for (const auto& entry : fs::directory_iterator(dir))
            if (name(entry.path().filename().string()))
                return true;
        if (::waitpid(writer, &status, WNOHANG) == writer) {
            status = shellStatus(status);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

} // namespace

// ---- Killed while writing --------------------------------------------------------------------

TEST(CliFaults, KilledFixLeavesTheCopyWholeOrAbsentAndTheNextWriteClearsUp) {
    TempDir dir;
    const fs::path original = dir / "long.wav";
    constexpr sf_count_t frames = 10 * 48000;
    encode(replicate(noise(-40, 10, 48000, 1), 2), 48000, original, "-c:a pcm_s24le");
    const std::string before = readBytes(original);
    const std::vector<std::string> fix{"fix", "--quiet", original.string()};
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
        writer = start(fix);
        ASSERT_TRUE(appears(dir.path(), isTemporary, writer, status));
        const auto writing = std::chrono::steady_clock::now();
        ASSERT_TRUE(appears(dir.path(), isCopy, writer, status));
        span = std::max(span, std::chrono::steady_clock::now() - writing);
        ASSERT_EQ(waitFor(writer), 0);
        fs::remove(copy);
    }

    // Each kill lands at a random point of the write or a little after it.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> at(
        0, std::chrono::duration_cast<std::chrono::microseconds>(span * 1.3).count());
    int midWrite = 0, complete = 0, unkilled = 0;
    // TAVRIN_KILL_ROUNDS asks for more rounds than the few of every run of the suite.
    const char* asked = std::getenv("TAVRIN_KILL_ROUNDS");
    const int rounds = asked ? std::max(1, std::atoi(asked)) : 10;
    for (int round = 0; round < rounds; ++round) {
        const auto delay = std::chrono::microseconds(at(random));
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round) +
                     ", killed " + std::to_string(delay.count()) + " µs into the write");
        writer = start(fix);
        // On a busy machine the whole write may pass unseen between two looks; that round
        // then checks a finished run instead.
        const bool killed = appears(dir.path(), isTemporary, writer, status);
        if (killed) {
            std::this_thread::sleep_for(delay);
            ::kill(writer, SIGKILL);
            waitFor(writer);
        } else {
            ASSERT_EQ(status, 0);
            ++unkilled;
        }

        ASSERT_EQ(readBytes(original), before);
        auto left = namesIn(dir.path()); // besides the original and the copy
        std::erase_if(
            left, [&](const auto& name) { return name == original.filename() || isCopy(name); });
        if (fs::exists(copy)) {
            ASSERT_EQ(readAudio(copy).info.frames, frames) << "a copy under its name is whole";
            EXPECT_EQ(left, std::vector<std::string>{});
            complete += killed;
            fs::remove(copy);
        } else {
            // This writer's temporary alone: each writer clears those of earlier kills.
            ASSERT_EQ(left.size(), 1u);
            EXPECT_TRUE(isTemporary(left[0])) << left[0];
            ++midWrite;
        }
    }
    std::cout << "[ kills    ] " << rounds << " rounds (seed " << seed << ", write "
              << std::chrono::duration_cast<std::chrono::milliseconds>(span).count()
              << " ms): " << midWrite << " mid-write, " << complete
              << " after the copy was complete, " << unkilled << " finished unseen\n";

    // The next write leaves the original, its whole copy and nothing else.
    EXPECT_EQ(waitFor(start(fix)), 0);
    EXPECT_EQ(namesIn(dir.path()),
              (std::vector<std::string>{copy.filename().string(), original.filename().string()}));
    EXPECT_EQ(readAudio(copy).info.frames, frames);
}

TEST(CliFaults, InterruptedFixExitsWith130AndLeavesNoPartialCopy) {
    TempDir dir;
    // Long enough that the copy is still being written when the interrupt arrives.
    encode(replicate(noise(-40, 300, 48000, 1), 2), 48000, dir / "long.wav", "-c:a pcm_s24le");
    int status = 0;
    const pid_t writer = start({"fix", "--quiet", (dir / "long.wav").string()});
    const auto hidden = [](const std::string& name) { return name.starts_with("."); };
    ASSERT_TRUE(appears(dir.path(), hidden, writer, status)) << "the copy never started";
    ::kill(writer, SIGINT);
    EXPECT_EQ(waitFor(writer), 130);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"long.wav"});
}

// ---- Standard output in a pipeline -----------------------------------------------------------

TEST(CliFaults, StandardOutputInAPipeline) {
    // The PDF arrives whole, and nothing else with it.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const pid_t checker = start({"check", "--pdf", "-", examples.string()}, fds[1]);
    ::close(fds[1]);
    const std::string out = readAll(fds[0]);
    EXPECT_EQ(waitFor(checker), 1);
    EXPECT_TRUE(out.starts_with("%PDF-") && out.ends_with("%%EOF\n"));
    // A reader that has gone ends the run, as it ends any filter, rather than leaving it to
    // measure on.
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    EXPECT_EQ(waitFor(start({"check", "--json", examples.string()}, fds[1])), 128 + SIGPIPE);
    ::close(fds[1]);
    // Results that can't be delivered, standard output being on a full disk, are an error, said.
    TempDir dir;
    const fs::path said = dir / "stderr";
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    const int err = ::open(said.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(waitFor(start({"check", "--csv", "-", passes}, full)), 3);
    EXPECT_EQ(waitFor(start({"check", passes}, full, err)), 3);
    ::close(full);
    ::close(err);
    EXPECT_EQ(readBytes(said), "The results couldn’t be written to standard output.\n");
}

// ---- Reports that cannot be saved ------------------------------------------------------------

TEST(CliFaults, ReportsIntoAFullFolderSayWhyAndKeepTheLastOnes) {
    TempDir dir;
    const fs::path folder = dir / "reports";
    fs::create_directory(folder);
    const std::string csv = (folder / "r.csv").string(), pdf = (folder / "r.pdf").string();
    const std::string outcome = inChild([&] {
        if (!ownMounts() || !mountTmpfs(folder, "size=64k"))
            return noMounts;
        writeBytes(csv, "the last CSV report");
        writeBytes(pdf, "the last PDF report");
        // Fill every last byte, so that not even a short CSV fits.
        const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        while (::write(fd, "x", 1) > 0) {
        }
        ::close(fd);
        std::ostringstream out, err;
        const int status = cli::run({"check", "--csv", csv, "--pdf", pdf, passes}, out, err);
        std::string result = std::to_string(status) + "\n" + err.str();
        for (const auto& name : namesIn(folder))
            result += name + ";";
        return result + "\n" + readBytes(csv) + "\n" + readBytes(pdf);
    });
    if (outcome == noMounts)
        GTEST_SKIP() << "A full folder needs a RAM disk mounted, which only root may do.";
    const std::string because =
        " couldn’t be written in " + folder.string() + " (No space left on device).\n";
    EXPECT_EQ(outcome, "3\nr.csv" + because + "r.pdf" + because +
                           "filler;r.csv;r.pdf;\nthe last CSV report\nthe last PDF report");
}

TEST(CliFaults, ReportSaveKilledPartWayKeepsTheOldReportAndTheNextSaveClearsUp) {
    TempDir dir;
    const fs::path csv = dir / "r.csv";
    writeBytes(csv, "the last CSV report");
    const std::vector<std::string> check{"check", "--csv", csv.string(), passes};
    // The file size limit kills the child (SIGXFSZ) in the middle of writing the report.
    inChild([&] {
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return std::to_string(runHere(check));
    });
    ASSERT_EQ(namesIn(dir.path()).size(), 2u);
    EXPECT_TRUE(namesIn(dir.path())[0].starts_with(".r.csv.tavrin-")) << "the temporary stays";
    EXPECT_EQ(readBytes(csv), "the last CSV report");

    EXPECT_EQ(runHere(check), 0);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.csv"});
    EXPECT_TRUE(readBytes(csv).starts_with("File,Folder,"));
}

// ---- Few file descriptors --------------------------------------------------------------------

// Anything the program kept open per file would run out long before the last of these files.
TEST(CliFaults, ManyFilesAreMeasuredAndFixedWithFewDescriptors) {
    constexpr int count = 100;
    TempDir dir;
    fs::create_directories(dir / "in");
    // Half a second, far too quiet for EBU R 128, so that every file gets a copy.
    encode({noise(-40, 0.5, 8000, 7)}, 8000, dir / "take.wav", "-c:a pcm_s16le");
    for (int i = 1; i <= count; ++i)
        fs::copy_file(dir / "take.wav", dir / "in" / ("take " + std::to_string(i) + ".wav"));
    const std::string outcome = inChild([&] {
        const rlimit few{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &few);
        return std::to_string(runHere({"fix", "--out", (dir / "out").string(), "--csv",
                                       (dir / "fix.csv").string(), (dir / "in").string()}));
    });
    EXPECT_EQ(outcome, "0") << "every file has a passing copy and the report is written";
    EXPECT_EQ(namesIn(dir / "out").size(), std::size_t(count));
    EXPECT_EQ(std::ranges::count(readBytes(dir / "fix.csv"), '\n'), count + 1);
}
