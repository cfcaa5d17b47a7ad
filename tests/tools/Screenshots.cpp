// Renders every state of the app's windows to PNG, in a light and a dark palette, from a real
// session: real files are measured and fixed, so what is shown is what a user would see.
// Usage: tavrin_screenshots OUTPUT_FOLDER (under a real display server, e.g. Xvfb).

#include "AppCommands.h"
#include "CustomTargetSheet.h"
#include "DamagedFiles.h"
#include "DropZone.h"
#include "FileSearch.h"
#include "FilterBar.h"
#include "GraphPanel.h"
#include "MainWindow.h"
#include "Paths.h"
#include "PdfReportSheet.h"
#include "PlayControls.h"
#include "PresetFooter.h"
#include "ResultsTable.h"
#include "SampleFiles.h"
#include "SettingsWindow.h"
#include "TallyButton.h"
#include "TargetFields.h"
#include "TargetsWindow.h"
#include "TavrinApp.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/Workflow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;
using namespace tavrin;
using namespace tavrin::app;

namespace {

/// Lets the event loop run until `done`, or for `milliseconds` at most.
bool waitUntil(const std::function<bool()>& done, int milliseconds = 60000) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

/// A stereo tone `minutes` long, written a second at a time so it costs little to make; long
/// enough to be caught while it is measured.
void writeLongTone(const fs::path& path, double minutes) {
    const std::string second = test::pcm16(test::replicate(test::sine(997, -18, 1, 48000), 2));
    const auto seconds = std::uint32_t(minutes * 60);
    const std::uint32_t size = std::uint32_t(second.size()) * seconds;
    std::ofstream out(path, std::ios::binary);
    out << test::Wav{.channels = 2, .data = {}, .riffSize = 36 + size, .dataSize = size}.bytes();
    for (std::uint32_t i = 0; i < seconds; ++i)
        out << second;
}

/// Six minutes at levels that wander the way a mixed programme's do, loud near the end, with two
/// clicks over the ceiling: a graph with something to show.
void writeProgramme(const fs::path& path) {
    constexpr double rate = 48000;
    std::vector<double> samples;
    for (int second = 0; second < 360; ++second) {
        const double level = -27 + 4 * std::sin(second / 9.0) + (second > 270 ? 8 : 0);
        const auto piece = test::sine(220 + (second % 5) * 110, level, 1, rate);
        samples.insert(samples.end(), piece.begin(), piece.end());
    }
    for (const double at : {83.4, 301.2})
        samples.at(std::size_t(at * rate)) = test::amplitude(-0.2);
    test::writeFile(
        path, test::Wav{.channels = 2, .data = test::pcm16(test::replicate(samples, 2))}.bytes());
}

/// Files in `paced` take about `seconds` each to measure, so a shot catches their batch part way;
/// every other file is measured as usual.
void paceMeasuring(const fs::path& paced, double seconds) {
    Workflow::replaceMeasuringStepForTesting([=](const fs::path& file, bool dualMono,
                                                 const ProgressFn& progress,
                                                 const CancelCheck& cancelled) {
        if (file.parent_path() != paced)
            return AudioFileMeter::measure(file, dualMono, progress, cancelled);
        constexpr int steps = 20;
        for (int step = 1; step <= steps; ++step) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds / steps));
            if (progress)
                progress(double(step) / steps);
        }
        return AudioFileMeter::measure(file, dualMono, {}, cancelled);
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavrin_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);
    const QPalette light = QApplication::style()->standardPalette(), dark = Theme::darkPalette();
    /// Saves `widget` as NAME-light.png and NAME-dark.png; `wholeScreenArea` also takes in what
    /// lies over it, such as a dialog.
    const auto shoot = [&](const QString& name, QWidget& widget, bool wholeScreenArea = false) {
        for (const auto& [look, palette] : {std::pair{"light", light}, {"dark", dark}}) {
            QApplication::setPalette(palette);
            waitUntil([] { return false; }, 150); // every widget repaints in the new palette
            const QRect area = widget.frameGeometry();
            const QPixmap image = wholeScreenArea
                                      ? widget.screen()->grabWindow(0, area.x(), area.y(),
                                                                    area.width(), area.height())
                                      : widget.grab();
            const QString file = output + "/" + name + "-" + look + ".png";
            image.save(file);
            std::printf("%s\n", qPrintable(file));
        }
        QApplication::setPalette(light);
    };
    QTemporaryDir files, preferences;
    QSettings settings(preferences.filePath("tavrin.ini"), QSettings::IniFormat);
    settings.setValue("preset", "apple-podcasts");
    TavrinApp tavrin(settings, {});
    AppModel& model = tavrin.model();
    MainWindow& window = tavrin.mainWindow();
    window.move(0, 0);
    window.show();
    waitUntil([&] { return window.isVisible(); });

    shoot("empty", window);
    model.setDropTargeted(true);
    shoot("empty-drag", window);
    model.setDropTargeted(false);

    const fs::path folder = toPath(files.path()) / "Season 3";
    fs::create_directories(folder);
    const auto file = [&](const char* name) { return folder / name; };
    test::writeTone(file("Episode 11 – Archive.wav"), -20);
    test::writeTone(file("Episode 12 – The Long Interview.wav"), -16);
    test::writeTone(file("Episode 13 – Field Recording at the Harbour Market, Early Morning "
                         "Session.wav"),
                    -21.3);
    test::writeTone(file("Episode 14 – Listener Mail.wav"), -12.4);
    test::writeTone(file("Episode 15 – Live Panel.wav"), -24, 3, -0.3);
    test::writeTone(file("Trailer (final).wav"), -19.2);
    test::writeSilence(file("Room Tone.wav"));
    test::writeUnreadable(file("Notes from the edit.wav"));
    // Two damaged masters: one clipped at full scale, one cut off after half its length.
    test::writeTone(file("Promo – Clipped Master.wav"), -19, 2, 0.0);
    const fs::path cut = test::writeTone(file("Promo – Cut Off.wav"), -16, 8);
    fs::resize_file(cut, fs::file_size(cut) / 2);
    test::writeCorruptMp3(file("Promo – Damaged Upload.mp3"));
    model.addFiles({folder});
    waitUntil([&] { return !model.adding() && !model.isBusy(); });

    // The archive episode goes missing before it is fixed: its copy can't be written.
    fs::remove(file("Episode 11 – Archive.wav"));
    const auto rowsNamed = [&](const std::string& start) {
        QSet<QUuid> ids;
        for (const FileItem& item : model.items())
            if (item.url.filename().string().starts_with(start))
                ids.insert(item.id);
        return ids;
    };
    model.setSelection(rowsNamed("Episode") + rowsNamed("Promo – Damaged"));
    model.fixFiles();
    waitUntil([&] { return !model.fixing() && window.alertBox(); });
    shoot("alert", window, true);
    model.dismissAlert();
    tavrin.showAboutPanel();
    waitUntil([&] { return tavrin.aboutBox() && tavrin.aboutBox()->isVisible(); });
    shoot("about", window, true);
    tavrin.aboutBox()->close();
    // The live panel's peaks stopped gain short; the limiter takes them.
    model.setSelection(rowsNamed("Episode 15"));
    model.fixWithLimiter();
    waitUntil([&] { return !model.fixing() && window.alertBox(); });
    model.dismissAlert();
    model.setSelection({});

    writeLongTone(file("Episode 16 – Season Finale.wav"), 10);
    test::writeTone(file("Bonus – Outtakes.wav"), -15);
    test::writeTone(file("Ad Read – Sponsor.wav"), -14);
    model.addFiles({file("Episode 16 – Season Finale.wav"), file("Bonus – Outtakes.wav"),
                    file("Ad Read – Sponsor.wav")});
    waitUntil([&] {
        if (model.adding())
            return false;
        const auto* measuring = std::get_if<FileItem::Reading::Measuring>(
            &model.items().at(model.items().size() - 3).reading.value);
        return measuring && measuring->fraction > 0.3;
    });
    model.addFiles({file("Room Tone.wav")}); // already listed: the notice bar says so
    waitUntil([&] { return !model.adding(); });
    model.setSelection({model.items().at(1).id});
    shoot("list", window);
    model.setDropTargeted(true);
    shoot("list-drag", window);
    model.setDropTargeted(false);

    // A fix run writing the long episode: its row says "Writing…", the footer says so too.
    waitUntil([&] { return !model.isBusy(); });
    // A search of a big share counts what it finds so far.
    emit model.findChild<FileSearch*>()->progress(12400);
    shoot("list-searching", window);
    model.dismissNotice();
    model.setSelection(rowsNamed("Episode 16"));
    model.fixFiles();
    shoot("list-fixing", window);
    // Clear List or Quit during the run ask first; this answer keeps it going.
    QTimer::singleShot(300, [&] {
        // Found by its text: the run's own alert may have come up over it meanwhile.
        QMessageBox* question = nullptr;
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(shown);
                box && box->isVisible() && box->text() == "Stop fixing?")
                question = box;
        shoot("stop-fixing", window, true);
        for (QAbstractButton* button : question ? question->buttons() : QList<QAbstractButton*>{})
            if (button->text() == "Keep Fixing")
                button->click();
    });
    window.stopFixingFirst();
    waitUntil([&] { return !model.fixing(); });
    model.dismissAlert();

    // A preset whose basis is uncertain says so in the footer.
    model.setSpecID(DeliverySpec::youtube().id);
    shoot("list-caution", window);
    model.setSpecID(DeliverySpec::applePodcasts().id);

    // Damaged audio: the cut-off promo fails for its damage, said over its Result cell; the damaged
    // upload's menu offers Fix Anyway, and its copy, listed, names its original.
    model.setSelection({});
    ResultsTable& table = *window.table();
    const auto cellOf = [&](const std::string& start, int column) {
        const QModelIndex index =
            table.model()->index(table.view().rowOf(*rowsNamed(start).begin()), column);
        table.scrollTo(index);
        return table.visualRect(index);
    };
    const auto pointAt = [&](QPoint at) {
        QHelpEvent tip(QEvent::ToolTip, at, table.viewport()->mapToGlobal(at));
        QApplication::sendEvent(table.viewport(), &tip);
        waitUntil([] { return QToolTip::isVisible(); }, 2000);
    };
    // Near the foot of the caution mark after "Fail", so the tip leaves the row itself in view.
    const QRect verdict = cellOf("Promo – Cut Off", ResultsTableModel::result);
    pointAt({verdict.left() + 68, verdict.bottom() - 2});
    shoot("list-damaged", window, true);
    QToolTip::hideText();
    // A right-click selects the row, which opens the graph under the table, then its menu.
    const QPoint pressed = cellOf("Promo – Damaged", ResultsTableModel::file).center();
    QMouseEvent press(QEvent::MouseButtonPress, pressed, table.viewport()->mapToGlobal(pressed),
                      Qt::RightButton, Qt::RightButton, {});
    QApplication::sendEvent(table.viewport(), &press);
    waitUntil([] { return false; }, 300);
    const QPoint damagedRow = cellOf("Promo – Damaged", ResultsTableModel::file).center();
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, damagedRow,
                                 table.viewport()->mapToGlobal(damagedRow));
    QApplication::sendEvent(table.viewport(), &rightClick);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    waitUntil([&] { return menu && menu->isVisible(); });
    shoot("context-menu", window, true);
    for (QAction* action : menu ? menu->actions() : QList<QAction*>{})
        if (action->text() == "Fix Anyway")
            action->trigger();
    menu->close();
    waitUntil([&] { return !model.fixing() && window.alertBox(); });
    shoot("alert-fix-anyway", window, true);
    model.dismissAlert();
    model.addFiles({file("Promo – Damaged Upload (Apple Podcasts).wav")});
    waitUntil([&] { return !model.adding() && !model.isBusy(); });
    const QRect copyName = cellOf("Promo – Damaged Upload (", ResultsTableModel::file);
    pointAt({copyName.left() + 40, copyName.bottom() - 10}); // the line naming its original
    shoot("list-copy", window, true);
    QToolTip::hideText();
    model.setSelection({});
    // At its smallest the window still shows every column, each narrower.
    const QSize roomy = window.size();
    window.resize(window.minimumSize());
    shoot("list-narrow", window);
    window.resize(roomy);

    // The failing files, loudest true peak first, as a header and a footer count arrange them.
    QHeaderView* header = window.table()->horizontalHeader();
    for (int click = 0; click < 2; ++click)
        emit header->sectionClicked(ResultsTableModel::truePeak);
    window.footer()->failTally()->click();
    shoot("list-sorted-filtered", window);
    window.filterBar()->showAllButton()->click();
    emit header->sectionClicked(ResultsTableModel::truePeak);

    // One row selected: its loudness over time under the table, the pointer over the loud end.
    writeProgramme(file("Interview – Full Mix.wav"));
    model.addFiles({file("Interview – Full Mix.wav")});
    waitUntil([&] { return !model.adding() && !model.isBusy(); });
    model.setSelection(rowsNamed("Interview"));
    window.table()->scrollToBottom();
    GraphPanel* graph = window.graphPanel();
    waitUntil([&] { return graph->isVisible() && !graph->accessibleDescription().isEmpty(); });
    const QPointF pointer(graph->width() * 0.8, graph->height() * 0.4);
    QMouseEvent hover(QEvent::MouseMove, pointer, graph->mapToGlobal(pointer), Qt::NoButton, {},
                      {});
    QApplication::sendEvent(graph, &hover);
    shoot("list-graph", window);
    // Zoomed by a drag across the second click, the pointer on it.
    graph->repaint();
    for (const auto& [type, seconds] :
         {std::pair{QEvent::MouseButtonPress, 293.0}, std::pair{QEvent::MouseMove, 309.0},
          std::pair{QEvent::MouseButtonRelease, 309.0}}) {
        const QPointF at(graph->geometry().xAt(seconds), graph->height() * 0.4);
        QMouseEvent drag(type, at, graph->mapToGlobal(at), Qt::LeftButton,
                         type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
        QApplication::sendEvent(graph, &drag);
    }
    graph->repaint();
    const QPointF onClick(graph->geometry().xAt(301.2), graph->height() * 0.4);
    QMouseEvent over(QEvent::MouseMove, onClick, graph->mapToGlobal(onClick), Qt::NoButton, {}, {});
    QApplication::sendEvent(graph, &over);
    shoot("list-graph-zoomed", window);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, {});
    QApplication::sendEvent(graph, &escape);
    // A fixed row: its copy's curve over its own.
    model.setSelection(rowsNamed("Episode 16"));
    waitUntil([&] { return graph->showsCopy(); });
    shoot("list-graph-copy", window);
    // Its cursor, where playing starts, with the Original / Copy switch set to the copy.
    graph->playControls().moveCursor(240);
    graph->playControls().toggleCopy();
    shoot("list-graph-cursor", window);

    paceMeasuring(toPath(files.path()) / "Promos", 1.2);
    // A batch of promos part way: once measuring has run 10 s, the footer estimates the time left.
    const fs::path promos = toPath(files.path()) / "Promos";
    fs::create_directories(promos);
    std::vector<fs::path> batch;
    for (int promo = 1; promo <= 12; ++promo)
        batch.push_back(
            test::writeTone(promos / ("Promo " + std::to_string(promo) + " – Spring Campaign.wav"),
                            promo % 3 ? -16.2 : -13.5));
    model.addFiles(batch);
    window.table()->scrollToBottom();
    waitUntil([&] {
        const auto progress = model.measuringProgress();
        return !progress || (progress->seconds > 10.5 && progress->done > 0);
    });
    shoot("list-measuring", window);
    waitUntil([&] { return !model.isBusy(); });

    const auto pdf = Report::pdf(model.reportRows(), model.currentSpec(), "Loudness report",
                                 "Tavrin", std::chrono::system_clock::now());
    std::ofstream(toPath(output) / "report.pdf", std::ios::binary)
        .write(reinterpret_cast<const char*>(pdf.data()), std::streamsize(pdf.size()));

    // A target of one's own: the sheet as it opens and with a mistake, the box listing it under
    // the presets, and the list checked and fixed against it.
    model.setSpecID(Workflow::customSpec(-18, 1, -2).id);
    window.commands().customTarget->trigger();
    auto* sheet = window.findChild<CustomTargetSheet*>();
    waitUntil([&] { return sheet && sheet->isVisible(); });
    sheet->field(Workflow::CustomNumber::target)->setText(QStringLiteral("−19.0"));
    sheet->field(Workflow::CustomNumber::maxTruePeak)->setText(QStringLiteral("−1.0"));
    shoot("custom-target", window, true);
    sheet->field(Workflow::CustomNumber::maxTruePeak)->setText(QStringLiteral("+1"));
    sheet->okButton()->click();
    shoot("custom-target-error", window, true);
    sheet->field(Workflow::CustomNumber::maxTruePeak)->setText(QStringLiteral("−1.0"));
    sheet->okButton()->click();
    model.setSelection({});
    model.fixFiles();
    waitUntil([&] { return !model.fixing() && window.alertBox(); });
    model.dismissAlert();
    shoot("list-custom", window);
    window.presetPicker()->showPopup();
    shoot("preset-box", window, true);
    window.presetPicker()->hidePopup();

    // Named targets: Manage Targets with one chosen, then with a mistake, and the list judged by
    // a target with range and short-term limits.
    for (const char* document :
         {R"({"version": 1, "name": "Network X promos", "target": -18, "tolerance": 1,
              "maxTruePeak": -2, "maxLoudnessRange": 8, "maxShortTerm": -10})",
          R"({"version": 1, "name": "Audible-style spoken word", "target": -19, "tolerance": 2,
              "maxTruePeak": -3, "maxSamplePeak": -3})"}) {
        const DeliverySpec target = Workflow::targetFromJson(document);
        model.putNamedTarget(target.id, target);
    }
    model.setSpecID("target:Network X promos");
    TargetsWindow& targets = window.manageTargets();
    targets.move(0, 0);
    waitUntil([&] { return targets.isVisible(); });
    shoot("manage-targets", targets);
    targets.fields()->field(Workflow::CustomNumber::maxShortTerm)->setText(QStringLiteral("+3"));
    targets.save();
    shoot("manage-targets-error", targets);
    targets.close();
    shoot("list-named-target", window);
    model.setSpecID("audiobook");
    shoot("list-audiobook", window);
    const auto audiobookPdf =
        Report::pdf(model.reportRows(), model.currentSpec(), "Loudness report", "Tavrin",
                    std::chrono::system_clock::now());
    std::ofstream(toPath(output) / "report-audiobook.pdf", std::ios::binary)
        .write(reinterpret_cast<const char*>(audiobookPdf.data()),
               std::streamsize(audiobookPdf.size()));
    model.setSpecID(DeliverySpec::applePodcasts().id);

    model.setOutputFolder(folder / "Fixed copies");
    SettingsWindow& settingsWindow = tavrin.showSettings();
    waitUntil([&] { return settingsWindow.isVisible(); });
    shoot("settings-over-window", window, true); // where it opens the first time
    settingsWindow.move(0, 0);
    for (int tab = 0; tab < settingsWindow.tabs()->count(); ++tab) {
        settingsWindow.tabs()->setCurrentIndex(tab);
        shoot("settings-" + settingsWindow.tabs()->tabText(tab).toLower(), settingsWindow);
    }
    settingsWindow.tabs()->setCurrentIndex(0);
    model.setCopyFormat(GainWriter::CopyFormat::original);
    shoot("settings-general-original-format", settingsWindow);
    settingsWindow.close();

    // The PDF report's sign-off, asked at export.
    window.commands().exportPDF->trigger();
    auto* pdfSheet = window.findChild<PdfReportSheet*>();
    waitUntil([&] { return pdfSheet && pdfSheet->isVisible(); });
    pdfSheet->operatorField()->setText(QStringLiteral("Ann Lee"));
    pdfSheet->jobField()->setText(QStringLiteral("SP-2026-114"));
    pdfSheet->notesField()->setPlainText(QStringLiteral("Season 3, episodes 11–16 and promos."));
    shoot("pdf-report-sheet", window, true);
    pdfSheet->reject();

    // The list saved as a session, then reopened after the disk changed: a master was replaced,
    // a file deleted, and a copy deleted outside the app.
    bool saved = false;
    model.saveSessionTo(folder / "Season 3 QC.tavrin", [&] { saved = true; });
    waitUntil([&] { return saved; });
    test::writeTone(file("Trailer (final).wav"), -16, 2);
    fs::remove(file("Bonus – Outtakes.wav"));
    fs::remove(file("Episode 14 – Listener Mail (Apple Podcasts).wav"));
    model.openSession(folder / "Season 3 QC.tavrin");
    waitUntil([&] { return !model.verifyingSession() && !model.isBusy(); });
    window.table()->scrollToTop();
    shoot("session-reopened", window);
    model.clearList();
    return 0;
}
