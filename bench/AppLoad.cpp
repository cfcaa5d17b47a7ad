// Loads the app's main window with thousands of short files at once and prints what it costs:
// adding them, the first screen, measuring them all (with the GUI thread's CPU time and the longest
// its event loop went without turning meanwhile), switching preset, scrolling the table frame by
// frame, and memory; then the CLI checking the same files at the same width, for the ratio.
// With --tree, a folder tree is added once measuring runs: its entries, its audio files and the
// longest the event loop went without turning from the add until its rows are listed (no CLI run).
// With --reopen, the list is then saved as a session and opened again: the save, the time until
// its rows are on screen, and the longest event-loop gap while its files are verified (no CLI run).
// Usage: tavrin_app_load [--reopen] [--tree DIR] [files = 5000] [seconds per file = 0.5] [a WAV
// file to use instead] (offscreen unless QT_QPA_PLATFORM says otherwise)

#include "MainWindow.h"
#include "Paths.h"
#include "ResultsTable.h"
#include "SampleFiles.h"
#include "ScriptedDesktop.h"
#include "TavrinApp.h"
#include "tavrin/workflow/Workflow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace tavrin;

namespace {

double residentMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.simplified().split(' ').at(1).toDouble() / 1024;
    return 0;
}

/// CPU time the calling thread has used, in seconds.
double threadSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double milliseconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

/// Every file and folder under `root`; counting them also warms the file system's caches.
std::size_t entriesUnder(const fs::path& root) {
    std::size_t entries = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        ++entries;
    return entries;
}

/// Lets the event loop run until what was added is listed.
void waitUntilListed(app::AppModel& model) {
    QEventLoop loop;
    QObject::connect(&model, &app::AppModel::addingChanged, &loop, [&] {
        if (!model.adding())
            loop.quit();
    });
    if (model.adding())
        loop.exec();
}

/// Adds a tree at `start` and keeps the longest gap in the event loop from then until the first
/// turn after its rows are listed.
struct TreeAdd {
    enum class Stage { waiting, searching, listed, done } stage = Stage::waiting;
    double longestGap = 0;
    std::size_t rowsBefore = 0;
    std::size_t rowsAfter = 0;

    void start(app::AppModel& model, const fs::path& tree) {
        rowsBefore = model.items().size();
        stage = Stage::searching;
        QObject::connect(&model, &app::AppModel::addingChanged, [this, &model] {
            if (!model.adding() && stage == Stage::searching) {
                stage = Stage::listed;
                rowsAfter = model.items().size();
            }
        });
        model.addFiles({tree});
    }
    void loopTurned(double gap) {
        if (stage == Stage::searching || stage == Stage::listed)
            longestGap = std::max(longestGap, gap);
        if (stage == Stage::listed)
            stage = Stage::done;
    }
};

/// Runs the event loop, ticking every millisecond, until `done()` holds; returns the longest the
/// loop went between ticks. `turned` hears each gap.
double longestGapUntil(const std::function<bool()>& done,
                       const std::function<void(double)>& turned = {}) {
    QElapsedTimer tick;
    tick.start();
    double longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    // A loop of its own: the application's quit would close the window.
    QEventLoop loop;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double gap = milliseconds(tick);
        longestGap = std::max(longestGap, gap);
        if (turned)
            turned(gap);
        tick.restart();
        if (done())
            loop.quit();
    });
    ticker.start(1);
    loop.exec();
    return longestGap;
}

/// Saves the measured list as a session whose files are all read again when it is opened, then
/// opens it in a window of its own as after a restart: the save, the time until its rows are on
/// screen, and the longest event-loop gap while every file is verified.
void benchSession(app::AppModel& model, test::ScriptedDesktop& desktop, const fs::path& root,
                  unsigned processors) {
    desktop.saveAs = root / "bench.tavrin";
    model.setSessionVerify(Session::Verify::always);
    QElapsedTimer timer;
    timer.start();
    model.saveSessionAs();
    longestGapUntil([&] { return model.sessionPath().has_value(); });
    const double saved = milliseconds(timer);

    test::ScriptedDesktop elsewhere;
    app::AppModel reopened(elsewhere, nullptr, processors);
    app::MainWindow window(reopened);
    window.show();
    QCoreApplication::processEvents();
    timer.restart();
    reopened.openSession(*desktop.saveAs);
    window.repaint();
    const double shown = milliseconds(timer);
    timer.restart();
    const double gap = longestGapUntil([&] { return !reopened.verifyingSession(); });
    std::printf(
        "session of %zu rows: saved (every file hashed) in %.1f ms; opened and on screen in "
        "%.1f ms; every file read again and verified in %.1f ms, longest event-loop gap "
        "%.1f ms\n",
        reopened.items().size(), saved, shown, milliseconds(timer), gap);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    app::keepFreedMemoryForReuse(); // as the app does
    QApplication app(argc, argv);
    std::optional<fs::path> tree;
    const bool session = argc > 1 && std::string_view(argv[1]) == "--reopen";
    if (session) {
        --argc;
        ++argv;
    }
    if (argc > 2 && std::string_view(argv[1]) == "--tree") {
        tree = fs::absolute(argv[2]);
        argc -= 2;
        argv += 2;
    }
    const int count = argc > 1 ? std::stoi(argv[1]) : 5000;
    const double seconds = argc > 2 ? std::stod(argv[2]) : 0.5;

    // One short file under many names: hard links cost no space and measure alike.
    QTemporaryDir folder;
    const fs::path root = app::toPath(folder.path());
    // The given file, or a 16-bit stereo tone of `seconds`.
    if (argc > 3)
        fs::copy_file(argv[3], root / "original.wav");
    else
        test::writeTone(root / "original.wav", -20, seconds);
    fs::create_directories(root / "list");
    for (int i = 0; i < count; ++i)
        fs::create_hard_link(root / "original.wav",
                             root / "list" / ("Episode " + std::to_string(10000 + i) + ".wav"));

    test::ScriptedDesktop desktop;
    const auto processors = unsigned(QThread::idealThreadCount());
    app::AppModel model(desktop, nullptr, processors);
    app::MainWindow window(model);
    window.show();
    QCoreApplication::processEvents();
    const double before = residentMegabytes();

    QElapsedTimer timer;
    timer.start();
    model.addFiles({root / "list"});
    waitUntilListed(model);
    const double added = milliseconds(timer);
    timer.restart();
    window.repaint();
    const double firstScreen = milliseconds(timer);

    const std::size_t treeEntries = tree ? entriesUnder(*tree) : 0;
    TreeAdd treeAdd;
    if (tree)
        QTimer::singleShot(100, &model, [&] { treeAdd.start(model, *tree); });

    // Until the last row is measured, a 1 ms ticker times the gaps in the event loop.
    QElapsedTimer measuring;
    measuring.start();
    const double guiBefore = threadSeconds();
    const double longestGap = longestGapUntil(
        [&] {
            const bool treeListed = !tree || treeAdd.stage == TreeAdd::Stage::done;
            return !model.isBusy() && !model.adding() && treeListed;
        },
        [&](double gap) { treeAdd.loopTurned(gap); });
    const double measured = milliseconds(measuring);
    const double guiBusy = threadSeconds() - guiBefore;
    QCoreApplication::processEvents();

    // A new preset judges every row again: the table, footer, menus and toolbar all follow.
    timer.restart();
    model.setSpecID(DeliverySpec::applePodcasts().id);
    QCoreApplication::processEvents();
    window.repaint();
    const double presetSwitch = milliseconds(timer);

    // Scroll from top to bottom three rows at a time, painting every frame.
    QScrollBar* bar = window.table()->verticalScrollBar();
    const int step = window.table()->verticalHeader()->defaultSectionSize() * 3;
    std::vector<double> frames;
    for (int value = 0; value <= bar->maximum(); value += step) {
        bar->setValue(value);
        timer.restart();
        window.table()->viewport()->repaint();
        frames.push_back(milliseconds(timer));
    }
    std::sort(frames.begin(), frames.end());

    std::printf("%zu rows of %.1f s on %u processors\n", model.items().size(), seconds, processors);
    std::printf("add: %.1f ms; first screen: %.1f ms\n", added, firstScreen);
    std::printf("measure all: %.2f s; meanwhile the GUI thread used %.1f s of CPU and its longest "
                "event-loop gap was %.1f ms\n",
                measured / 1000, guiBusy, longestGap);
    std::printf("switch preset, everything updated and painted: %.1f ms\n", presetSwitch);
    std::printf("scroll: %zu frames, median %.2f ms, worst %.2f ms\n", frames.size(),
                frames[frames.size() / 2], frames.back());
    std::printf("memory: %.1f MB before, %.1f MB with the rows (%.1f KB per row)\n", before,
                residentMegabytes(),
                (residentMegabytes() - before) * 1024 / double(model.items().size()));
    if (tree) {
        std::printf("tree: %zu entries, %zu audio files, longest event-loop gap %.1f ms\n",
                    treeEntries, treeAdd.rowsAfter - treeAdd.rowsBefore, treeAdd.longestGap);
        return 0;
    }

    if (session) {
        benchSession(model, desktop, root, processors);
        return 0;
    }

    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.setStandardErrorFile(QProcess::nullDevice());
    timer.restart();
    cli.start(QStringLiteral(TAVRIN_CLI_PATH),
              {QStringLiteral("check"), QStringLiteral("--json"), QStringLiteral("--jobs"),
               QString::number(Workflow::measuringWidth(processors)),
               app::toQString(root / "list")});
    cli.waitForFinished(-1);
    const double cliSeconds = milliseconds(timer) / 1000;
    std::printf("tavrin-cli check --json on the same files: %.2f s; the app took %.2fx as long\n",
                cliSeconds, measured / 1000 / cliSeconds);
    return 0;
}
