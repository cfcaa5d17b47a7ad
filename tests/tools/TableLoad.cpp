// Loads the main window with 5,000 measured rows and prints what it costs: adding them, the first
// screen, scrolling frame by frame, the longest stall of the event loop while they are measured,
// and memory. Usage: tavrin_tableload [ROWS]   (offscreen unless QT_QPA_PLATFORM says otherwise)

#include "MainWindow.h"
#include "Paths.h"
#include "ResultsTable.h"
#include "SampleFiles.h"
#include "ScriptedDesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
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

double milliseconds(QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;

    // One short file under many names: hard links cost no space and measure alike.
    QTemporaryDir folder;
    const fs::path root = app::toPath(folder.path());
    test::writeTone(root / "original.wav", -20, 1);
    fs::create_directories(root / "list");
    std::vector<fs::path> files;
    for (int i = 0; i < rows; ++i) {
        files.push_back(root / "list" / ("Episode " + std::to_string(10000 + i) + ".wav"));
        fs::create_hard_link(root / "original.wav", files.back());
    }

    test::ScriptedDesktop desktop;
    app::AppModel model(desktop, nullptr, unsigned(QThread::idealThreadCount()));
    app::MainWindow window(model, desktop);
    window.show();
    QCoreApplication::processEvents();
    const double before = residentMegabytes();

    QElapsedTimer timer;
    timer.start();
    model.addFiles({root / "list"});
    const double added = milliseconds(timer);
    timer.restart();
    window.repaint();
    const double firstScreen = milliseconds(timer);

    // The event loop's longest stall while every row is measured, from a 5 ms ticker.
    QElapsedTimer measuring, tick;
    measuring.start();
    tick.start();
    const double guiBefore = threadSeconds();
    double worstStall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        worstStall = std::max(worstStall, milliseconds(tick));
        tick.restart();
    });
    ticker.start(5);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!model.isBusy())
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    ticker.stop();
    const double measured = milliseconds(measuring);
    const double guiBusy = threadSeconds() - guiBefore;
    QCoreApplication::processEvents();

    // A new preset re-judges every row: the table, footer, menus and toolbar all follow.
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

    std::printf("rows: %zu\n", model.items().size());
    std::printf("add %d files: %.1f ms; first screen: %.1f ms\n", rows, added, firstScreen);
    std::printf("measure all: %.1f s; meanwhile the GUI thread used %.1f s of CPU and its longest "
                "stall was %.1f ms\n",
                measured / 1000, guiBusy, worstStall);
    std::printf("switch preset, everything updated and painted: %.1f ms\n", presetSwitch);
    std::printf("scroll: %zu frames, median %.2f ms, worst %.2f ms\n", frames.size(),
                frames[frames.size() / 2], frames.back());
    std::printf("memory: %.1f MB before, %.1f MB with the rows (%.1f KB per row)\n", before,
                residentMegabytes(), (residentMegabytes() - before) * 1024 / rows);
    return 0;
}
