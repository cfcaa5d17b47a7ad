#include "MainWindow.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "DropZone.h"
#include "GraphPanel.h"
#include "NoticeBar.h"
#include "PdfReportSheet.h"
#include "PresetFooter.h"
#include "ResultsTable.h"
#include "ResultsTableModel.h"
#include "RevealButton.h"
#include "TallyButton.h"
#include "ToneLabel.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;
namespace fs = std::filesystem;

/// The main window over a model measuring and fixing real files: what the toolbar, menus,
/// footer, drop zone, notice bar and alert show and do.
class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void commandsFollowMeasuringAndFixing() {
        AppFixture f;
        MainWindow window(f.model);
        AppCommands& menu = window.commands();
        const auto enabled = [](const std::vector<QObject*>& controls) {
            QList<bool> states;
            for (QObject* control : controls) // actions and buttons alike
                states << control->property("enabled").toBool();
            return states;
        };
        const std::vector<QObject*> all{
            menu.addFiles,      menu.exportCSV,     menu.exportPDF,       menu.fix,
            menu.reveal,        menu.remove,        menu.clearList,       menu.measureAgain,
            window.addButton(), window.fixButton(), window.exportButton()};

        QCOMPARE(window.dropZone()->isVisibleTo(&window), true);
        QVERIFY(!window.footer()->tallyShown());
        QCOMPARE(enabled(all), (QList{true, false, false, false, false, false, false, false, true,
                                      false, false}));

        QVERIFY(f.add({f.tone("loud.wav", -20), f.tone("good.wav", -23)}));
        QCOMPARE(window.footer()->activityText(), "Measuring 0 of 2");
        // Fix can start already: the rows join the run once they're measured.
        QCOMPARE(enabled(all),
                 (QList{true, false, false, true, false, false, true, true, true, true, false}));

        QVERIFY(f.settled());
        QTRY_COMPARE(window.footer()->activityText(), "");
        QCOMPARE(window.footer()->countText(), "2 files");
        QCOMPARE(window.footer()->passTally()->text(), "1 pass");
        QCOMPARE(window.footer()->failTally()->text(), "1 fail");
        QCOMPARE(menu.fix->text(), "Fix All Failing Files…");
        QTRY_COMPARE(enabled(all),
                     (QList{true, true, true, true, false, false, true, true, true, true, true}));

        f.model.setSelection({f.model.items()[1].id}); // the passing file: nothing to fix
        QCOMPARE(menu.fix->text(), "Fix Selected Files…");
        QCOMPARE(enabled({menu.fix, menu.reveal, menu.remove, window.fixButton()}),
                 (QList{false, true, true, false}));

        f.model.setSelection({});
        menu.fix->trigger();
        QCOMPARE(window.footer()->activityText(), "Fixing 1 of 1…");
        QCOMPARE(enabled({menu.fix, window.fixButton(), menu.exportCSV, menu.measureAgain,
                          menu.stopFixing}),
                 (QList{false, false, true, false, true}));
        QVERIFY(f.settled());
        QCOMPARE(window.footer()->activityText(), "");

        f.model.removeItems({f.model.items()[0].id});
        QCOMPARE(window.footer()->countText(), "1 file");

        // Clear List during a run asks first, and clears only once the run is stopped.
        QVERIFY(f.addAndMeasure({f.tone("long.wav", -30, 60)}));
        menu.fix->trigger();
        for (const QString answer : {"Keep Fixing", "Stop Fixing"}) {
            QTimer::singleShot(0, [answer] {
                auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QCOMPARE(question->text(), "Stop fixing?");
                for (QAbstractButton* button : question->buttons())
                    if (button->text() == answer)
                        button->click();
            });
            menu.clearList->trigger();
            QCOMPARE(f.model.items().empty(), answer == "Stop Fixing");
        }
        QVERIFY(f.settled()); // the copy being written stops, then the run ends
    }

    void presetsFromMenuPickerAndShortcuts() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto& specs = DeliverySpec::all();
        for (int press = 0; press < 2; ++press) {
            QTest::keyClick(&window, Qt::Key_3, Qt::ControlModifier);
            QCOMPARE(f.model.specID(), specs[2].id);
        }
        QVERIFY(window.commands().presets[2]->isChecked());
        QCOMPARE(window.presetPicker()->currentText(), QString::fromStdString(specs[2].name));
        QCOMPARE(window.windowTitle(), "Tavrin — " + QString::fromStdString(specs[2].name));
        QCOMPARE(window.footer()->cautionText(), "");

        // A preset with a caution says so in the picker and in the footer.
        const int youtube = window.presetPicker()->findData("youtube");
        QCOMPARE(window.presetPicker()->itemText(youtube), "YouTube (check before relying)");
        window.presetPicker()->setCurrentIndex(youtube);
        emit window.presetPicker()->activated(youtube);
        QCOMPARE(f.model.specID(), "youtube");
        QCOMPARE(window.footer()->cautionText(), QString::fromStdString(*specs[3].caution));
        QVERIFY(window.commands().presets[3]->isChecked());
    }

    /// Real key events: Tab runs through the preset, the toolbar, the list and the fixed copy's
    /// magnifier; the preset box ignores the wheel and keys while its popup is closed; Enter does
    /// what a double-click does; Ctrl+C copies the selected rows for a spreadsheet.
    void keyboardAndClipboard() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        QVERIFY(f.addAndMeasure({f.tone("loud.wav", -20), f.tone("good.wav", -23)}));
        f.model.setSelection({f.model.items()[0].id});
        f.model.fixFiles();
        QVERIFY(f.settled());
        f.model.dismissAlert();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        ResultsTable* table = window.table();
        QWidget* picker = window.presetPicker();
        table->setCurrentIndex(table->model()->index(0, 0)); // the fixed row
        QTRY_VERIFY(table->revealButton()->isVisibleTo(table));

        QWheelEvent wheel({10, 10}, picker->mapToGlobal(QPoint(10, 10)), {}, {0, -120},
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(picker, &wheel);
        const struct {
            QWidget* from;
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            QWidget* to;
        } steps[] = {
            {picker, Qt::Key_Tab, {}, window.addButton()},
            {window.exportButton(), Qt::Key_Tab, {}, table},
            {table, Qt::Key_Tab, {}, table->revealButton()},
            {table, Qt::Key_Backtab, Qt::ShiftModifier, window.exportButton()},
            {picker, Qt::Key_End, {}, picker},
            {picker, Qt::Key_Down, {}, picker},
        };
        for (const auto& step : steps) {
            step.from->setFocus();
            QTest::keyClick(step.from, step.key, step.modifiers);
            QCOMPARE(QApplication::focusWidget(), step.to);
        }
        QCOMPARE(f.model.specID(), DeliverySpec::ebuR128().id);

        const auto copy =
            std::get<FileItem::FixState::Done>(f.model.items()[0].fixFor(f.model.specID())->value)
                .copy;
        QTest::keyClick(table->revealButton(), Qt::Key_Space);
        table->setCurrentIndex(table->model()->index(1, 0));
        QTest::keyClick(table, Qt::Key_Return);
        QCOMPARE(f.desktop.revealed,
                 (std::vector<std::vector<fs::path>>{{copy}, {f.path("good.wav")}}));

        f.model.setSelection({f.model.items()[0].id, f.model.items()[1].id});
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        const QStringList lines = QApplication::clipboard()->text().split("\r\n");
        QCOMPARE(lines.size(), 4); // the titles, two rows and the last line's end
        QVERIFY(lines[0].startsWith("File\tFolder\tFormat\t"));
        QVERIFY(lines[1].startsWith("loud.wav\t" + f.folder.path() + "\tWAV"));
        QVERIFY(lines[1].contains("\t-20.0\t-23.0\t3.0\t")); // a plain minus: numbers stay numbers
    }

    void noticeNamesWhatNothingCanOpen() {
        AppFixture f;
        f.desktop.canOpen = false;
        MainWindow window(f.model);
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -23)}));
        f.model.setSelection({f.model.items()[0].id});
        const std::pair<QAction*, QString> cases[] = {
            {window.commands().help, "https://tavrin.app/help"},
            {window.commands().reveal, f.folder.path()}}; // the file's folder
        for (const auto& [command, what] : cases) {
            command->trigger();
            QCOMPARE(f.model.notice().value_or(""),
                     "Nothing on this computer can open " + what + ".");
        }
        QCOMPARE(f.desktop.opened, std::vector{AppCommands::helpUrl()});
    }

    void dropsAddFilesAndHighlight() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        const QColor accent = window.palette().color(QPalette::Highlight);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(toQString(f.tone("a.wav", -23))),
                      QUrl::fromLocalFile(toQString(f.tone("b.wav", -20)))});
        const QPoint at = window.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QDragLeaveEvent leave;
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});

        QApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QVERIFY(f.model.dropTargeted());
        QCOMPARE(window.dropZone()->borderColour(), accent);
        QVERIFY(!window.dropOverlayShown()); // the empty list highlights the drop zone instead
        QApplication::sendEvent(&window, &leave);
        QVERIFY(!f.model.dropTargeted());
        QVERIFY(window.dropZone()->borderColour() != accent);

        QApplication::sendEvent(&window, &enter);
        QApplication::sendEvent(&window, &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(f.model.items().size(), 2u);
        QVERIFY(!f.model.dropTargeted());
        QVERIFY(window.table()->isVisibleTo(&window));

        QApplication::sendEvent(&window, &enter);
        QVERIFY(window.dropOverlayShown());
        QApplication::sendEvent(&window, &leave);
        QVERIFY(!window.dropOverlayShown());
    }

    void noticeBarAndAlert() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        QVERIFY(!window.noticeBar()->isVisibleTo(&window));
        f.desktop.files = std::vector{f.path("tavrin.ini")};
        window.dropZone()->chooseButton()->click();
        QTRY_VERIFY(window.noticeBar()->isVisibleTo(&window));
        QCOMPARE(window.noticeBar()->text(), *f.model.notice());
        QTest::mouseClick(window.noticeBar()->closeButton(), Qt::LeftButton);
        QVERIFY(!f.model.notice());
        QVERIFY(!window.noticeBar()->isVisibleTo(&window));
        window.addButton()->click();
        QTRY_VERIFY(window.noticeBar()->isVisibleTo(&window));

        f.model.fixFiles(); // nothing listed: an alert says there is nothing to fix
        QMessageBox* box = window.alertBox();
        QVERIFY(box);
        QCOMPARE(box->text(), f.model.alert()->title);
        QCOMPARE(box->informativeText(), f.model.alert()->message);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QVERIFY(!f.model.alert());
        QVERIFY(!window.alertBox());
        f.model.fixFiles();
        QVERIFY(window.alertBox());
    }

    /// Clicking one row shows its graph under the table, described for assistive technology;
    /// a second row in the selection hides it. The maxima's cells say when they happen.
    void graphFollowsSelection() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        QVERIFY(
            f.addAndMeasure({f.tone("clicked.wav", -20, 5, -0.3), f.tone("quiet.wav", -30, 4)}));
        ResultsTable* table = window.table();
        const auto click = [table](int row, Qt::KeyboardModifiers modifiers) {
            const QRect cell = table->visualRect(table->model()->index(row, 1));
            QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, cell.center());
        };
        const auto tip = [table](int row, ResultsTableModel::Column column) {
            return table->model()->index(row, int(column)).data(Qt::ToolTipRole).toString();
        };
        const struct {
            int row;
            Qt::KeyboardModifiers modifiers;
            bool shown;
            QString description;
        } steps[] = {
            {0,
             {},
             true,
             "Short-term loudness steady at −20 LUFS; true peak over −1.0 dBTP at 0:00"},
            {1, Qt::ControlModifier, false, ""},
            {1, {}, true, "Short-term loudness steady at −30 LUFS; true peak never over −1.0 dBTP"},
        };
        for (const auto& step : steps) {
            click(step.row, step.modifiers);
            QTRY_COMPARE(window.graphPanel()->isVisible(), step.shown);
            QTRY_COMPARE(window.graphPanel()->accessibleDescription(), step.description);
        }
        QCOMPARE(tip(0, ResultsTableModel::Column::truePeak), "at 0:00");
        QCOMPARE(tip(0, ResultsTableModel::Column::maxShortTerm).left(5), "at 0:");
        // The row above the selected one goes: the graph stays the selected row's.
        f.model.removeItems({f.model.items()[0].id});
        QCOMPARE(window.graphPanel()->accessibleDescription(), steps[2].description);
    }

    /// Ctrl+wheel zooms about the pointer, the wheel then scrolls, a drag zooms to at least 10 s
    /// around what it covered, and Esc shows the whole file again; the description follows. Once
    /// the file is fixed, its copy's curve is drawn over it.
    void graphZoomsToAStretchAndBack() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        QVERIFY(f.addAndMeasure({f.tone("minute.wav", -20, 60)}));
        f.model.setSelection({f.model.items()[0].id});
        GraphPanel* graph = window.graphPanel();
        QTRY_VERIFY(graph->isVisible() && !graph->accessibleDescription().isEmpty());
        const QString whole = graph->accessibleDescription();
        const auto at = [graph](double seconds) {
            graph->repaint(); // the geometry of the view as drawn
            return QPointF(graph->geometry().xAt(seconds), graph->height() / 2.0);
        };
        const auto wheel = [graph](QPointF where, int notches, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(where, graph->mapToGlobal(where), {}, {0, 120 * notches},
                              Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(graph, &event);
        };
        const auto mouse = [graph](QEvent::Type type, QPointF where) {
            QMouseEvent event(type, where, graph->mapToGlobal(where), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              {});
            QApplication::sendEvent(graph, &event);
        };
        const QString rest = ", short-term loudness steady at −20 LUFS; true peak never over "
                             "−1.0 dBTP";
        wheel(at(30), 2, Qt::ControlModifier);
        QCOMPARE(graph->accessibleDescription(), "From 0:10.8 to 0:49.2" + rest);
        wheel(at(30), -1, {});
        QCOMPARE(graph->accessibleDescription(), "From 0:14.6 to 0:53" + rest);
        mouse(QEvent::MouseButtonPress, at(20));
        mouse(QEvent::MouseMove, at(22));
        mouse(QEvent::MouseButtonRelease, at(22));
        QCOMPARE(graph->accessibleDescription(), "From 0:16 to 0:26" + rest);
        QTest::keyClick(graph, Qt::Key_Escape);
        QCOMPARE(graph->accessibleDescription(), whole);
        QVERIFY(!graph->showsCopy());
        f.model.fixFiles();
        QVERIFY(f.settled());
        QTRY_VERIFY(graph->showsCopy());
    }

    // Export PDF Report asks who signs it off and whether to add the graphs, remembers the
    // answers, and the report carries them: on the first page, and at the foot of every page.
    void pdfExportAsksForItsSignOffAndRemembersIt() {
        AppFixture f;
        MainWindow window(f.model);
        QVERIFY(f.addAndMeasure({f.tone("passes.wav", -23), f.tone("quiet.wav", -30)}));
        f.desktop.saveAs = f.path("signed.pdf");
        QTRY_VERIFY(window.commands().exportPDF->isEnabled());
        window.commands().exportPDF->trigger();
        auto* sheet = window.findChild<PdfReportSheet*>();
        QVERIFY(sheet && sheet->isVisible());
        QTest::keyClicks(sheet->operatorField(), "Ann Lee");
        QTest::keyClicks(sheet->jobField(), "4711");
        QTest::keyClicks(sheet->notesField(), "Checked after the remaster.");
        sheet->graphsBox()->click();
        QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(f.path("signed.pdf")), 30000);
        const auto page = [&](int number) {
            QProcess text;
            text.start("pdftotext", {"-f", QString::number(number), "-l", QString::number(number),
                                     toQString(f.path("signed.pdf")), "-"});
            text.waitForFinished();
            return QString::fromUtf8(text.readAllStandardOutput());
        };
        QVERIFY(page(1).contains("Operator: Ann Lee · Job: 4711"));
        QVERIFY(page(1).contains("Notes: Checked after the remaster."));
        // After the table, a graph page per file, signed like every other.
        QVERIFY(page(3).contains("quiet.wav"));
        QVERIFY(page(3).contains("Tavrin · page 3 of 3"));
        QVERIFY(page(3).contains("Ann Lee · Job 4711"));
        window.commands().exportPDF->trigger();
        sheet = window.findChildren<PdfReportSheet*>().back();
        QCOMPARE(sheet->operatorField()->text(), "Ann Lee");
        QVERIFY(sheet->graphsBox()->isChecked());
        sheet->reject();
    }
};

TAVRIN_APP_TEST(MainWindowTest);
#include "MainWindowTest.moc"
