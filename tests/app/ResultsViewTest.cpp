#include "ResultsView.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "FilterBar.h"
#include "MainWindow.h"
#include "PresetFooter.h"
#include "ProgressText.h"
#include "ResultsTable.h"
#include "TallyButton.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/workflow/Workflow.h"

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QPushButton>
#include <QScopeGuard>
#include <atomic>
#include <thread>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;
using Column = ResultsTableModel::Column;
namespace fs = std::filesystem;

/// The table as arranged by header clicks and the footer's tally buttons, over a real window and
/// real files; and the footer's progress line while measuring.
class ResultsViewTest : public QObject {
    Q_OBJECT

private slots:
    void headersSortAndTalliesFilter() {
        AppFixture f;
        MainWindow window(f.model);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        writeSilence(f.path("Silence.wav"));
        writeUnreadable(f.path("Broken.wav"));
        QVERIFY(f.addAndMeasure({f.tone("Take 10.wav", -20), f.tone("take 2.wav", -23),
                                 f.tone("Take 1.wav", -26), f.path("Silence.wav"),
                                 f.path("Broken.wav"), f.tone("Take 3.wav", -23.5)}));
        ResultsTable& table = *window.table();
        PresetFooter& footer = *window.footer();
        const auto shown = [&] {
            QStringList names;
            for (int row = 0; row < table.model()->rowCount(); ++row)
                names << table.model()->index(row, Column::file).data().toString().chopped(4);
            return names;
        };
        const auto header = [&](Column column) {
            return [&table, column] {
                QHeaderView* h = table.horizontalHeader();
                const QPoint at(h->sectionViewportPosition(column) + 20, h->height() / 2);
                QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
            };
        };
        const auto click = [](QAbstractButton* button) {
            return [button] { QTest::mouseClick(button, Qt::LeftButton); };
        };
        const QStringList listed{"Take 10", "take 2", "Take 1", "Silence", "Broken", "Take 3"};
        const struct {
            const char* step;
            std::function<void()> act;
            QStringList shown;
            QString bar; // empty: no filter bar
        } steps[]{
            {"loudness up, none last",
             header(Column::integrated),
             {"Take 1", "Take 3", "take 2", "Take 10", "Silence", "Broken"},
             ""},
            {"loudness down, none still last",
             header(Column::integrated),
             {"Take 10", "take 2", "Take 3", "Take 1", "Silence", "Broken"},
             ""},
            {"third click: list order", header(Column::integrated), listed, ""},
            {"natural names",
             header(Column::file),
             {"Broken", "Silence", "Take 1", "take 2", "Take 3", "Take 10"},
             ""},
            {"problems first",
             header(Column::result),
             {"Take 10", "Take 1", "Broken", "Silence", "take 2", "Take 3"},
             ""},
            {"failing only",
             click(footer.failTally()),
             {"Take 10", "Take 1"},
             "Showing 2 failing files of 6"},
            {"passing only",
             click(footer.passTally()),
             {"take 2", "Take 3"},
             "Showing 2 passing files of 6"},
            {"passing again clears",
             click(footer.passTally()),
             {"Take 10", "Take 1", "Broken", "Silence", "take 2", "Take 3"},
             ""},
            {"without a reading",
             click(footer.otherTally()),
             {"Broken", "Silence"},
             "Showing 2 of 6 files without a reading"},
            {"Show All",
             click(window.filterBar()->showAllButton()),
             {"Take 10", "Take 1", "Broken", "Silence", "take 2", "Take 3"},
             ""},
        };
        for (const auto& step : steps) {
            QTest::qWait(QApplication::doubleClickInterval()); // each click is a click of its own
            step.act();
            QCOMPARE(shown(), step.shown);
            QCOMPARE(window.filterBar()->text(), step.bar);
            QCOMPARE(footer.failTally()->isChecked(), step.bar.contains("failing"));
        }
        QCOMPARE(footer.failTally()->accessibleName(), "Show only the 2 failing files");
        QCOMPARE(footer.otherTally()->accessibleName(), "Show only the 2 files without a reading");

        // Rows map back to the list: a double-click on the sorted view's first row reveals it.
        const QRect first = table.visualRect(table.model()->index(0, Column::file));
        QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, first.center());
        QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(f.desktop.revealed,
                 (std::vector<std::vector<std::filesystem::path>>{{f.path("Take 10.wav")}}));

        // A selected row filtered away leaves the selection, so Fix can't act on it unseen.
        QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ControlModifier,
                          table.visualRect(table.model()->index(4, Column::file)).center());
        QCOMPARE(f.model.selection().size(), 2);
        QTest::mouseClick(footer.failTally(), Qt::LeftButton);
        QCOMPARE(f.model.selection(), QSet{f.model.items()[0].id});

        // Exports take every row in list order, whatever the view shows.
        f.desktop.saveAs = f.path("report.csv");
        window.commands().exportCSV->trigger();
        QTRY_VERIFY(QFile::exists(f.folder.filePath("report.csv")));
        QFile csv(f.folder.filePath("report.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(csv.readAll());
        qsizetype at = 0;
        for (const QString& name : listed) {
            at = text.indexOf(name + ".wav,", at);
            QVERIFY2(at > 0, qPrintable(name));
        }
    }

    void progressLineWhileMeasuring_data() {
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("total");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::addRow("nothing yet") << 0 << 300 << 30.0 << "Measuring 0 of 300";
        QTest::addRow("before 10 s") << 120 << 300 << 9.9 << "Measuring 120 of 300";
        QTest::addRow("minutes") << 120 << 300 << 40.0 << "Measuring 120 of 300 — about 1 min left";
        QTest::addRow("never under 5 s") << 3 << 4 << 12.0 << "Measuring 3 of 4 — about 5 s left";
        QTest::addRow("fives") << 10 << 14 << 56.0 << "Measuring 10 of 14 — about 20 s left";
        QTest::addRow("57.5 s is a minute")
            << 1 << 2 << 57.5 << "Measuring 1 of 2 — about 1 min left";
        QTest::addRow("59.6 min is an hour")
            << 1 << 2 << 3576.0 << "Measuring 1 of 2 — about 1 h left";
        QTest::addRow("hours") << 1 << 3 << 3600.0 << "Measuring 1 of 3 — about 2 h left";
        QTest::addRow("all done") << 300 << 300 << 100.0 << "Measuring 300 of 300";
    }

    void progressLineWhileMeasuring() {
        QFETCH(int, done);
        QFETCH(int, total);
        QFETCH(double, seconds);
        QTEST(measuringText(done, total, seconds), "text");
    }

    void progressCountsTheBatchSinceIdle() {
        AppFixture f;
        const auto progress = [&f] {
            const auto now = f.model.measuringProgress();
            return now ? std::pair{now->done, now->total} : std::pair{-1, -1};
        };
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -23), f.tone("b.wav", -23)}));
        QCOMPARE(progress(), (std::pair{-1, -1}));
        // Measuring waits until the counts are read, however fast the machine.
        std::atomic<bool> held = true;
        Workflow::replaceMeasuringStepForTesting([&held](const fs::path& file, bool dualMono,
                                                         const ProgressFn& report,
                                                         const CancelCheck& cancel) {
            while (held)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return AudioFileMeter::measure(file, dualMono, report, cancel);
        });
        const auto release = qScopeGuard([&] {
            held = false;
            f.settled();
            Workflow::replaceMeasuringStepForTesting({});
        });
        QVERIFY(f.add({f.tone("c.wav", -23)}));
        QCOMPARE(progress(), (std::pair{0, 1})); // a and b were an earlier batch
        QVERIFY(f.add({f.tone("d.wav", -23)}));
        QCOMPARE(progress(), (std::pair{0, 2}));
        held = false;
        QVERIFY(f.settled());
        QCOMPARE(progress(), (std::pair{-1, -1}));
    }
};

TAVRIN_APP_TEST(ResultsViewTest);
#include "ResultsViewTest.moc"
