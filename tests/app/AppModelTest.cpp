#include "AppModel.h"

#include "AppFixture.h"
#include "AppTests.h"
#include "FaultyMeasuring.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/Workflow.h"

#include <QSignalSpy>
#include <QTimer>
#include <cmath>
#include <fstream>

namespace fs = std::filesystem;
using namespace tavrin::test;

namespace tavrin::app {

namespace {

using Reading = FileItem::Reading;

int count(const AppModel& model, auto kind) {
    return static_cast<int>(std::ranges::count_if(model.items(), [](const FileItem& item) {
        return std::holds_alternative<decltype(kind)>(item.reading.value);
    }));
}

} // namespace

/// The model driven through its operations, with real files measured on its own threads and a
/// scripted desktop in place of the panels.
class AppModelTest : public QObject {
    Q_OBJECT

    /// Stands in for a worker's report reaching the model.
    static void report(AppModel& model, int row, Reading reading, int generationsBack = 0) {
        Measurer& measurer = model.m_measurer;
        measurer.report(model.items()[std::size_t(row)].id, measurer.m_generation - generationsBack,
                        std::move(reading), std::nullopt);
    }

private slots:
    void addingFilesSaysWhenNothingIsNew() {
        AppFixture f;
        fs::create_directory(f.path("notes"));
        writeFile(f.path("notes/readme.txt"), "not audio");
        QVERIFY(f.add({f.path("notes")}));
        QCOMPARE(f.model.notice(), qs(Workflow::noAudioFilesNotice));
        QVERIFY(f.model.items().empty());
        QVERIFY(f.add({f.path("gone.wav")})); // as a command line names it
        QCOMPARE(f.model.notice(), "Nothing at " + f.folder.filePath("gone.wav") + "; skipped.");

        fs::create_directory(f.path("show"));
        for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"})
            f.tone(QStringLiteral("show/") + name, -23);
        QVERIFY(f.add({f.path("show/a.wav")}));
        QVERIFY(f.add({f.path("show/a.wav")}));
        QCOMPARE(f.model.notice(), QStringLiteral("Those files are already in the list."));
        QCOMPARE(f.model.items().size(), 1u);

        QSignalSpy inserted(&f.model, &AppModel::itemsAboutToBeInserted);
        QVERIFY(f.add({f.path("show")}));
        QVERIFY(!f.model.notice());
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0], (QVariantList{1, 3}));
        QVERIFY(f.model.items()[3].url == f.path("show/d.wav"));
    }

    /// A big folder is searched while the event loop goes on turning; adds are listed in the order
    /// they were asked for, each in the search's order, and Clear List drops a search in flight.
    void addingSearchesOffTheGuiThreadInOrder() {
        AppFixture f;
        const fs::path tree = f.path("tree"); // 40 reels of 60 entries, every other one a take
        for (int reel = 0; reel < 40; ++reel) {
            const fs::path folder = tree / ("Reel " + std::to_string(reel));
            fs::create_directories(folder);
            for (int take = 0; take < 60; ++take)
                writeFile(folder / ("Take " + std::to_string(take) + (take % 2 ? ".txt" : ".WAV")),
                          "");
        }
        const fs::path lone = f.tone("lone.wav", -23);
        int turns = 0, turnsBeforeListed = -1;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++turns; });
        connect(&f.model, &AppModel::itemsAboutToBeInserted, [&] {
            if (turnsBeforeListed < 0)
                turnsBeforeListed = turns;
        });
        ticker.start(0);
        f.model.addFiles({tree});
        QVERIFY(f.add({lone}));
        QVERIFY(turnsBeforeListed > 0);
        auto expected = AudioTypes::audioFiles({tree});
        QCOMPARE(expected.size(), 1200u); // more than are listed in one turn
        expected.push_back(lone);
        const auto listed = [&f] {
            std::vector<fs::path> urls;
            for (const FileItem& item : f.model.items())
                urls.push_back(item.url);
            return urls;
        };
        QVERIFY(listed() == expected);

        f.model.clearList();
        f.model.addFiles({tree});
        f.model.clearList();
        QVERIFY(!f.model.adding());
        QVERIFY(f.add({lone}));
        QVERIFY(listed() == std::vector{lone});
    }

    void rowsStartInListOrderAtMostFourAtOnce() {
        AppFixture f(10);
        std::vector<fs::path> takes;
        for (int i = 0; i < 9; ++i)
            takes.push_back(f.tone("take" + QString::number(i) + ".wav", -23, 2));
        std::vector<int> started;
        int mostAtOnce = 0;
        connect(&f.model, &AppModel::itemChanged, [&](int row) {
            const auto* measuring =
                std::get_if<Reading::Measuring>(&f.model.items()[std::size_t(row)].reading.value);
            if (measuring && measuring->fraction == 0)
                started.push_back(row);
            mostAtOnce = std::max(mostAtOnce, count(f.model, Reading::Measuring{}));
        });
        f.model.addFiles({takes.begin(), takes.begin() + 6});
        // Rows added while the loop runs join it, behind the rows already waiting.
        f.model.addFiles({takes.begin() + 6, takes.end()});
        QVERIFY(f.settled());
        QCOMPARE(started, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(mostAtOnce, 4);
        QCOMPARE(count(f.model, Reading::Measured{}), 9);
        QVERIFY(!f.model.items()[0].format.empty());
    }

    /// A fault of Tavrin's own on a measuring thread fails its row alone, in a sentence.
    void anInternalFaultFailsItsRowAlone() {
        AppFixture f;
        const fs::path faulty = f.tone("faulty.wav", -23);
        const FaultyMeasuring fault(faulty);
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -23), faulty}));
        QCOMPARE(count(f.model, Reading::Measured{}), 1);
        QVERIFY(f.model.items()[1].reading ==
                Reading{Reading::Failed{std::string(Workflow::internalMeasuringError)}});
    }

    void removedAndClearedRowsIgnoreLateResults() {
        AppFixture f(4);
        QVERIFY(f.add({f.tone("a.wav", -23, 5), f.tone("b.wav", -23, 5), f.tone("c.wav", -23, 5),
                       f.tone("d.wav", -23), f.tone("e.wav", -23)}));
        const auto id = [&f](int row) { return f.model.items()[std::size_t(row)].id; };
        const QUuid first = id(0), second = id(1);
        f.model.setSelection({first, second});
        // Each run removed is heard of with every row already found where it now is.
        int misplaced = 0;
        connect(&f.model, &AppModel::itemsRemoved, this, [&] {
            for (int row = 0; row < int(f.model.items().size()); ++row)
                misplaced += f.model.indexOf(id(row)) != row;
        });
        f.model.removeItems({first, id(3), id(4)});
        QCOMPARE(misplaced, 0);
        QCOMPARE(f.model.selection(), QSet<QUuid>{second});
        QVERIFY(f.settled());
        QCOMPARE(f.model.items().size(), 2u);
        QCOMPARE(count(f.model, Reading::Measured{}), 2);

        f.model.measureAgain();
        QSignalSpy changed(&f.model, &AppModel::itemChanged);
        f.model.clearList();
        QVERIFY(f.model.items().empty());
        f.model.m_measurer.m_pool.waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(changed.size(), 0);
        QVERIFY(!f.model.isBusy());
    }

    void lateAndStaleReportsChangeNothing() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -23)}));
        const FileItem measured = f.model.items()[0];
        report(f.model, 0, {Reading::Measuring{0.5}});
        QCOMPARE(f.model.items()[0], measured);

        f.model.measureAgain();
        report(f.model, 0, {Reading::Failed{"from an older run"}}, 1);
        QVERIFY(std::holds_alternative<Reading::Measuring>(f.model.items()[0].reading.value));
        QVERIFY(f.settled());
        QCOMPARE(f.model.items()[0], measured);
    }

    void dualMonoMeasuresAgainOnlyWhenItChanges() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({writeTone(f.path("mono.wav"), -20, 1, std::nullopt, 1)}));
        const double single = *f.model.items()[0].result()->integrated;

        QSignalSpy changed(&f.model, &AppModel::itemChanged);
        f.model.setDualMono(true);
        QVERIFY(f.model.isBusy());
        QVERIFY(f.settled());
        QCOMPARE(std::round((*f.model.items()[0].result()->integrated - single) * 10), 30.0);
        changed.clear();
        f.model.setDualMono(true);
        QCOMPARE(changed.size(), 0);

        // A preset only changes the verdict, never the reading.
        const auto before = f.model.verdict(f.model.items()[0]);
        f.model.setSpecID(DeliverySpec::spotify().id);
        QCOMPARE(changed.size(), 0);
        QVERIFY(f.model.verdict(f.model.items()[0]) != before);

        f.model.setDualMono(false);
        QVERIFY(f.settled());
        QCOMPARE(*f.model.items()[0].result()->integrated, single);
    }

    /// Only the row asked for last is measured again for its timeline: moving on stops the one
    /// before, removing the row stops its own, and a row asked for again is measured anew.
    void onlyTheLastTimelineAskedForIsMeasured() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -20, 20), f.tone("b.wav", -20, 20)}));
        const QUuid a = f.model.items()[0].id, b = f.model.items()[1].id;
        QVERIFY(!f.model.timeline(a) && f.model.measuringTimeline(a));
        QVERIFY(!f.model.timeline(b) && f.model.measuringTimeline(b));
        QVERIFY(!f.model.measuringTimeline(a));
        f.model.removeItems({b});
        QVERIFY(!f.model.measuringTimeline(b));
        f.model.timeline(a);
        QTRY_VERIFY(f.model.timeline(a) != nullptr);
    }

    void reportRowsAndSaving() {
        AppFixture f;
        writeFile(f.path("broken.wav"), "RIFF");
        QVERIFY(f.addAndMeasure(
            {f.tone("quiet.wav", -30), f.tone("peaky.wav", -40, 1, -0.5), f.path("broken.wav")}));
        f.model.fixFiles();
        QVERIFY(f.settled());

        // The unreadable file fails with the reader's own sentence, and no format.
        const auto* failed = std::get_if<Reading::Failed>(&f.model.items()[2].reading.value);
        QVERIFY(failed);
        QVERIFY(failed->message == Workflow::measure(f.path("broken.wav"), false).error);
        const auto rows = f.model.reportRows();
        QCOMPARE(rows.size(), std::size_t(3));
        QVERIFY(rows[0].fix->starts_with("quiet (EBU R 128).wav: −23.0 LUFS, "));
        QVERIFY(rows[1].fix == Workflow::fixTextRefused);
        QVERIFY(rows[2].error == failed->message);
        QVERIFY(rows[2].format.empty());

        f.model.setSpecID(DeliverySpec::atscA85().id);
        QVERIFY(!f.model.reportRows()[0].fix);
        f.model.exportCSV(); // cancelled
        QCOMPARE(f.desktop.lastSuggestedName, QStringLiteral("Loudness report – ATSC A85.csv"));
        // The report is the list at the command, whatever happens while it is being written.
        const std::string atCommand = Report::csv(f.model.reportRows(), DeliverySpec::atscA85());
        f.desktop.saveAs = f.path("r.csv");
        f.model.exportCSV();
        f.model.setSpecID(DeliverySpec::ebuR128().id);
        f.model.removeItems({f.model.items()[0].id});
        f.model.m_reports.m_pool.waitForDone();
        std::ifstream saved(f.path("r.csv"), std::ios::binary);
        QVERIFY(std::string(std::istreambuf_iterator<char>(saved), {}) == atCommand);

        f.desktop.saveAs = f.path("r.csv") / "r.pdf"; // under a file: not even root writes there
        f.model.dismissAlert();
        f.model.exportPDF();
        QTRY_VERIFY(f.model.alert());
        QCOMPARE(takeAlert(f.model),
                 alert(Workflow::cantSaveReportTitle,
                       Workflow::cantSaveReportMessage(
                           *f.desktop.saveAs, std::make_error_code(std::errc::not_a_directory))));
        QVERIFY(f.desktop.opened.empty());

        // Nor over a listed file by another name (its bytes not audio), nor over any audio.
        fs::create_symlink(f.path("broken.wav"), f.path("listed.csv"));
        for (const char* name : {"listed.csv", "quiet.wav"}) {
            f.desktop.saveAs = f.path(name);
            f.model.exportCSV();
            QTRY_VERIFY(f.model.alert());
            QCOMPARE(takeAlert(f.model), alert(Workflow::cantSaveReportTitle,
                                               Workflow::reportReplacesAudioMessage(name)));
        }
        std::ifstream broken(f.path("broken.wav"), std::ios::binary);
        QVERIFY(std::string(std::istreambuf_iterator<char>(broken), {}) == "RIFF");

        // A report that draws as nothing, or whose drawing fails, is no file and no crash.
        const struct {
            std::function<std::string()> render;
            std::string_view sentence;
        } failures[] = {{[] { return std::string(); }, Workflow::reportNotDrawn},
                        {[]() -> std::string { throw std::logic_error("drawing failed"); },
                         Workflow::internalReportError}};
        for (const auto& failure : failures) {
            f.model.m_reports.saveOffThread(failure.render, f.path("nothing.pdf"));
            QTRY_VERIFY(f.model.alert());
            QCOMPARE(takeAlert(f.model),
                     alert(Workflow::cantSaveReportTitle, std::string(failure.sentence)));
        }
        QVERIFY(!fs::exists(f.path("nothing.pdf")));
    }

    void settingsLoadAndStore() {
        AppFixture f;
        QVERIFY(f.model.specID() == DeliverySpec::ebuR128().id);
        QVERIFY(!f.model.dualMono() && !f.model.outputFolder());
        f.model.setSpecID("youtube");
        f.model.setDualMono(true);
        f.model.setOutputFolder(f.path("out"));
        {
            AppModel stored(f.desktop, &f.settings, 2);
            QVERIFY(stored.specID() == "youtube" && stored.dualMono());
            QVERIFY(stored.outputFolder() == f.path("out"));
            stored.setOutputFolder(std::nullopt);
            QVERIFY(!f.settings.contains("outputFolder"));
        }
        // Without a store nothing is read or written.
        AppModel unstored(f.desktop, nullptr, 2);
        QVERIFY(unstored.specID() == DeliverySpec::ebuR128().id && !unstored.dualMono());
        unstored.setSpecID("spotify");
        QCOMPARE(f.settings.value("preset").toString(), QStringLiteral("youtube"));
        // A preset this version doesn't know reads as the default, and stays stored.
        f.settings.setValue("preset", "no-such-preset");
        AppModel unknown(f.desktop, &f.settings, 2);
        QVERIFY(unknown.specID() == DeliverySpec::ebuR128().id);
        QCOMPARE(f.settings.value("preset").toString(), QStringLiteral("no-such-preset"));
    }
};

TAVRIN_APP_TEST(AppModelTest);

} // namespace tavrin::app

#include "AppModelTest.moc"
