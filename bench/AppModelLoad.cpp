// Adds many short files to the app's model at once and reports how long until the last is
// measured, and the longest the GUI thread went without turning its event loop meanwhile.
// Usage: tavrin_app_model_load [files = 5000] [seconds per file = 0.5]

#include "AppModel.h"
#include "HandWritten.h"
#include "Paths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

class NoDesktop : public tavrin::app::Desktop {
    void chooseFiles(const QString&, const QString&,
                     std::function<void(std::vector<std::filesystem::path>)>) override {}
    void chooseFolder(const QString&, const QString&,
                      std::function<void(std::filesystem::path)>) override {}
    void chooseSaveFile(const QString&, const tavrin::app::FileType&,
                        std::function<void(std::filesystem::path)>) override {}
    void reveal(const std::vector<std::filesystem::path>&) override {}
    void openUrl(const QUrl&) override {}
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto ms = [](qint64 ns) { return static_cast<double>(ns) / 1e6; };
    const int count = argc > 1 ? std::stoi(argv[1]) : 5000;
    const double seconds = argc > 2 ? std::stod(argv[2]) : 0.5;

    QTemporaryDir dir;
    const auto folder = tavrin::app::toPath(dir.path());
    tavrin::test::Wav wav;
    wav.channels = 2;
    wav.data = tavrin::test::pcm16(
        tavrin::test::replicate(tavrin::test::sine(997, -23, seconds, 48000), 2));
    const std::string bytes = wav.bytes();
    for (int i = 0; i < count; ++i)
        std::ofstream(folder / ("Take " + std::to_string(i) + ".wav"), std::ios::binary) << bytes;

    NoDesktop desktop;
    const auto processors = static_cast<unsigned>(QThread::idealThreadCount());
    tavrin::app::AppModel model(desktop, nullptr, processors);

    QElapsedTimer clock;
    qint64 lastTick = 0, longestGap = 0, ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        ++ticks;
    });
    QObject::connect(&model, &tavrin::app::AppModel::itemChanged, [&](int row) {
        if (row + 1 == count && !model.isBusy())
            app.quit();
    });

    clock.start();
    model.addFiles({folder});
    const qint64 added = clock.nsecsElapsed();
    lastTick = added;
    ticker.start(1);
    app.exec();
    const qint64 finished = clock.nsecsElapsed();
    std::printf("%d files of %.1f s on %u processors: added in %.1f ms, last measured after "
                "%.2f s; longest event-loop gap while measuring %.1f ms over %lld ticks\n",
                count, seconds, processors, ms(added), ms(finished) / 1000, ms(longestGap),
                static_cast<long long>(ticks));
    return 0;
}
