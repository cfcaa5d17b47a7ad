// The app's graph panel at 1600 × 300 over a long file: how long drawing the graph takes (median
// of fresh draws), how long one hover event keeps the event loop (pointer moved, cursor painted
// over the kept image), longest and median of a sweep across the plot, and how long one Ctrl+wheel
// notch takes to zoom and draw again, from the whole file down to 10 s, at five places.
// Usage: tavrin_graph_panel_bench [hours = 24] (a mono 8 kHz tone, written to a temporary folder;
// past about 3.6 hours the timeline's steps are merged, so drawing costs the same for any longer
// file) (offscreen unless QT_QPA_PLATFORM says otherwise)
#include "AppModel.h"
#include "GraphPanel.h"
#include "MainWindow.h"
#include "SampleFiles.h"
#include "ScriptedDesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <vector>

namespace fs = std::filesystem;
using namespace tavrin;

namespace {

/// A mono 8 kHz tone `hours` long whose level wanders minute by minute, written a minute at a time.
void writeLongProgramme(const fs::path& path, double hours) {
    constexpr double rate = 8000;
    std::string minute;
    for (int second = 0; second < 60; ++second)
        minute += test::pcm16(
            test::replicate(test::sine(440, -30 + 8 * std::sin(second / 6.0), 1, rate), 1));
    const auto minutes = std::uint32_t(hours * 60);
    const std::uint32_t size = std::uint32_t(minute.size()) * minutes;
    std::ofstream out(path, std::ios::binary);
    out << test::Wav{.channels = 1,
                     .rate = 8000,
                     .data = {},
                     .riffSize = 36 + size,
                     .dataSize = size}
               .bytes();
    for (std::uint32_t i = 0; i < minutes; ++i)
        out << minute;
}

void waitFor(const std::function<bool()>& done) {
    while (!done())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const double hours = argc > 1 ? std::atof(argv[1]) : 24;
    QTemporaryDir folder;
    const fs::path file = fs::path(folder.path().toStdString()) / "long.wav";
    writeLongProgramme(file, hours);

    test::ScriptedDesktop desktop;
    app::AppModel model(desktop, nullptr, 2);
    app::MainWindow window(model);
    app::GraphPanel& graph = *window.graphPanel();
    graph.setWantedHeight(300);
    window.resize(1600, 900);
    window.show();
    QElapsedTimer clock;
    clock.start();
    model.addFiles({file});
    waitFor([&] { return !model.adding() && !model.isBusy(); });
    std::printf("measured %.1f h with its timeline in %.1f s\n", hours,
                double(clock.elapsed()) / 1000);
    model.setSelection({model.items().front().id});
    waitFor([&] { return !graph.accessibleDescription().isEmpty(); });
    std::printf("panel %d × %d\n", graph.width(), graph.height());

    std::vector<double> draws;
    for (int draw = 0; draw < 21; ++draw) {
        QEvent paletteChanged(QEvent::PaletteChange); // drops the kept image
        QApplication::sendEvent(&graph, &paletteChanged);
        clock.restart();
        graph.repaint();
        draws.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::vector<double> hovers;
    for (int x = 0; x < graph.width(); x += 3) {
        const QPointF at(x, graph.height() / 2.0);
        clock.restart();
        QMouseEvent move(QEvent::MouseMove, at, graph.mapToGlobal(at), Qt::NoButton, {}, {});
        QApplication::sendEvent(&graph, &move);
        graph.repaint();
        hovers.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::vector<double> zooms;
    for (const double place : {0.05, 0.3, 0.5, 0.7, 0.95}) {
        const QPointF at(graph.geometry().plotLeft +
                             place * (graph.geometry().plotRight - graph.geometry().plotLeft),
                         graph.height() / 2.0);
        // 0.8 of the view a notch: 45 notches take a day down to 10 s.
        for (int notch = 0; notch < 45; ++notch) {
            clock.restart();
            QWheelEvent wheel(at, graph.mapToGlobal(at), {}, {0, 120}, Qt::NoButton,
                              Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&graph, &wheel);
            graph.repaint();
            zooms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, {});
        QApplication::sendEvent(&graph, &escape);
        graph.repaint();
    }
    std::printf("drawing: median %.1f ms of %zu\n", median(draws), draws.size());
    std::printf("zoom notch: median %.1f ms, longest %.1f ms of %zu\n", median(zooms),
                *std::max_element(zooms.begin(), zooms.end()), zooms.size());
    std::printf("hover event: median %.2f ms, longest %.2f ms of %zu\n", median(hovers),
                *std::max_element(hovers.begin(), hovers.end()), hovers.size());
    return 0;
}
