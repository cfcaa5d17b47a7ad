#include "AppModel.h"

#include "AppFixture.h"
#include "AppTests.h"
#include "AppTexts.h"
#include "DamagedFiles.h"
#include "FaultyMeasuring.h"
#include "ResultsTableModel.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/Workflow.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <set>

namespace fs = std::filesystem;
using namespace tavrin::test;

namespace tavrin::app {

namespace {

using Reading = FileItem::Reading;
using Fix = FileItem::FixState;
using Alert = std::pair<QString, QString>;

int count(const AppModel& model, auto kind) {
    return static_cast<int>(std::ranges::count_if(model.items(), [](const FileItem& item) {
        return std::holds_alternative<decltype(kind)>(item.reading.value);
    }));
}

/// The alert's title and message, dismissed; both empty when there is none.
Alert takeAlert(AppModel& model) {
    Alert shown;
    if (model.alert())
        shown = {model.alert()->title, model.alert()->message};
    model.dismissAlert();
    return shown;
}

Alert alert(std::string_view title, const std::string& message) {
    return {qs(title), qs(message)};
}

const Fix::Done* done(const FileItem& item) {
    const Fix* fix = item.fixFor(DeliverySpec::ebuR128().id);
    return fix ? std::get_if<Fix::Done>(&fix->value) : nullptr;
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

    void fixAlertsSayWhatHappened() {
        {
            // As the tally counts them, and as tavrin-cli says it: silence has no reading.
            AppFixture g;
            writeSilence(g.path("silence.wav"));
            QVERIFY(g.addAndMeasure({g.tone("passes.wav", -23), g.path("silence.wav")}));
            g.model.fixFiles();
            QCOMPARE(takeAlert(g.model),
                     alert(Workflow::nothingToFixTitle, "Every file with a reading passes EBU R "
                                                        "128; 1 file has none."));
            // A file the tally fails for its damage alone is no gain's to fix.
            QVERIFY(g.addAndMeasure({writeCutOffTone(g.path("cut.wav"), -23)}));
            g.model.fixFiles();
            QCOMPARE(takeAlert(g.model).second, qs(Workflow::onlyDamageFailsMessage(1)));
        }
        AppFixture f;
        QVERIFY(f.addAndMeasure({f.tone("passes.wav", -23), f.tone("quiet.wav", -30),
                                 f.tone("peaky.wav", -40, 1, -0.5)}));
        const auto& ebu = DeliverySpec::ebuR128();
        const QUuid passes = f.model.items()[0].id, quiet = f.model.items()[1].id,
                    peaky = f.model.items()[2].id;

        f.model.setSelection({passes});
        f.model.fixFiles();
        QCOMPARE(takeAlert(f.model), alert(Workflow::nothingToFixTitle,
                                           Workflow::nothingToFixMessage(ebu, true, 1, 0)));
        f.model.setSelection({peaky});
        f.model.fixFiles();
        QCOMPARE(takeAlert(f.model), alert(Workflow::cantFixTitle, Workflow::cantFixMessage(ebu)));
        QVERIFY(!f.model.fixing());
        QVERIFY(std::holds_alternative<Fix::Refused>(f.model.items()[2].fixFor(ebu.id)->value));

        f.model.setSelection({});
        f.model.fixFiles();
        QVERIFY(f.model.fixing());
        f.model.fixFiles(); // a second Fix while the run goes on does nothing
        QVERIFY(f.settled());
        QCOMPARE(takeAlert(f.model),
                 alert(Workflow::fixedCopiesTitle,
                       Workflow::fixedCopiesMessage({.written = 1, .jobs = 1, .skipped = 1},
                                                    std::nullopt)));
        const FileItem& fixed = f.model.items()[1];
        QVERIFY(done(fixed));
        QVERIFY(done(fixed)->copy == f.path("quiet (EBU R 128).wav"));
        QCOMPARE(Verdict::make(done(fixed)->result, ebu).status, Verdict::Status::pass);
        QVERIFY(std::holds_alternative<Reading::Measured>(fixed.reading.value)); // stays
        QVERIFY(!fs::exists(f.path("quiet (EBU R 128) 2.wav")));

        // Another preset: the plan shows again, and the copy is revealed only under its own.
        f.model.setSpecID(DeliverySpec::applePodcasts().id);
        QVERIFY(!f.model.items()[1].fixFor(f.model.specID()));
        f.model.revealInFinder({quiet, passes});
        f.model.setSpecID(ebu.id);
        f.model.revealInFinder({quiet});
        QCOMPARE(f.desktop.revealed,
                 (std::vector<std::vector<fs::path>>{{f.path("passes.wav"), f.path("quiet.wav")},
                                                     {f.path("quiet (EBU R 128).wav")}}));

        // Each preset keeps its own fix.
        f.model.setSpecID(DeliverySpec::applePodcasts().id);
        f.model.setSelection({quiet});
        f.model.fixFiles();
        QVERIFY(f.settled());
        takeAlert(f.model);
        f.model.setSpecID(ebu.id);
        QVERIFY(done(f.model.items()[1])->copy == f.path("quiet (EBU R 128).wav"));

        // Listed afresh, the row finds its earlier copy instead of writing "… 2".
        f.model.clearList();
        QVERIFY(f.addAndMeasure({f.path("quiet.wav")}));
        f.model.fixFiles();
        QVERIFY(f.settled());
        QCOMPARE(takeAlert(f.model).second,
                 qs(Workflow::fixedCopiesMessage({.kept = 1}, std::nullopt)));
        QVERIFY(done(f.model.items()[0])->copy == f.path("quiet (EBU R 128).wav"));
        QVERIFY(!fs::exists(f.path("quiet (EBU R 128) 2.wav")));
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

    /// The run takes what was asked for at the click, rows measured meanwhile included; rows
    /// removed, cleared or stopped before their copy starts get none, and the summary counts
    /// exactly the copies on disk.
    void theFixRunOwnsItsRows() {
        AppFixture f; // measures one file at a time
        fs::create_directory(f.path("out"));
        f.model.setOutputFolder(f.path("out"));
        QVERIFY(f.addAndMeasure(
            {f.tone("a.wav", -30, 20), f.tone("b.wav", -30, 20), f.tone("c.wav", -30, 20)}));
        QVERIFY(f.add({f.tone("d.wav", -30, 20), f.tone("e.wav", -30, 20)}));
        f.model.fixFiles();
        QVERIFY(f.model.fixing() && f.model.isBusy());
        QCOMPARE(f.model.fixProgress()->current, 1);
        const auto fixOf = [&f](int row) {
            return f.model.items()[std::size_t(row)].fixFor(DeliverySpec::ebuR128().id)->value;
        };
        QVERIFY(std::holds_alternative<Fix::Writing>(fixOf(0)));
        QVERIFY(std::holds_alternative<Fix::Queued>(fixOf(2))); // waits its turn
        f.model.removeItems({f.model.items()[1].id});           // b: its copy hasn't started
        QVERIFY(f.add({f.tone("late.wav", -30)}));              // after the click: not in this run
        f.model.measureAgain();                                 // refused while the run lasts
        f.model.setDualMono(true);
        QVERIFY(!f.model.dualMono());
        QVERIFY(f.settled());
        const auto copies = [&f](const std::string& preset) {
            std::set<std::string> names;
            for (const auto& entry : fs::directory_iterator(f.path("out")))
                if (entry.path().filename().string().find("(" + preset + ")") != std::string::npos)
                    names.insert(entry.path().stem().string());
            return names;
        };
        QVERIFY(copies("EBU R 128") == (std::set<std::string>{"a (EBU R 128)", "c (EBU R 128)",
                                                              "d (EBU R 128)", "e (EBU R 128)"}));
        QCOMPARE(takeAlert(f.model).second,
                 qs(Workflow::fixedCopiesMessage({.written = 4, .jobs = 4, .notStarted = 1},
                                                 f.path("out"))));
        QVERIFY(!f.model.items().back().fixFor(DeliverySpec::ebuR128().id));

        // Stopped at once, or the list cleared mid-run: whatever the summary says is on disk.
        for (const auto& spec : {DeliverySpec::applePodcasts(), DeliverySpec::spotify()}) {
            f.model.setSpecID(spec.id);
            f.model.fixFiles();
            QVERIFY(f.model.fixing());
            spec.id == DeliverySpec::spotify().id ? f.model.clearList() : f.model.stopFixing();
            QVERIFY(f.settled());
            const int written = static_cast<int>(copies(spec.shortName()).size());
            QCOMPARE(takeAlert(f.model).second,
                     qs(Workflow::fixedCopiesMessage(
                         {.written = written, .jobs = written, .notStarted = 5 - written},
                         f.path("out"))));
            QVERIFY(written < 5);
        }
    }

    /// Damaged files' findings reach their rows, the CSV and the PDF. While damage fails files,
    /// Fix leaves a damaged one alone and says why; once damage only warns, it is fixed like any
    /// other, as a copy of damaged audio.
    void damageReachesTheRowsAndTheReports() {
        AppFixture f;
        writeFile(f.path("clipped-cut-off.wav"),
                  Wav{.data = pcm16({sine(997, 0, 1, 48000)}), .dataSize = 4 * 48000}.bytes());
        writeCorruptMp3(f.path("corrupt.mp3"));
        writeZeroedFlac(f.path("zeroed.flac"));
        QVERIFY(f.addAndMeasure(
            {f.path("clipped-cut-off.wav"), f.path("corrupt.mp3"), f.path("zeroed.flac")}));
        const FileItem& mp3 = f.model.items()[1];
        f.model.setSelection({mp3.id});
        f.model.fixFiles();
        QVERIFY(f.settled());
        QCOMPARE(takeAlert(f.model),
                 alert(Workflow::damagedNotFixedTitle, Workflow::damagedLeftMessage(1)));
        QVERIFY(f.model.reportRows()[1].fix == Workflow::fixTextDamaged(mp3.findings()));

        const auto& spec = f.model.currentSpec();
        const std::string csv = Report::csv(f.model.reportRows(), spec);
        const auto pdf = Report::pdf(f.model.reportRows(), spec, "Report", "Tavrin", {});
        writeBytes(f.path("r.pdf"), std::string(pdf.begin(), pdf.end()));
        QProcess pdftotext;
        pdftotext.start("pdftotext", {f.folder.filePath("r.pdf"), "-"});
        QVERIFY(pdftotext.waitForFinished());
        const QString pdfText = QString::fromUtf8(pdftotext.readAll()).simplified();
        for (const FileItem& item : f.model.items()) {
            QVERIFY(anyDamage(item.findings()));
            QCOMPARE(f.model.verdict(item)->status, Verdict::Status::fail);
            const auto result =
                ResultsTableModel::cell(item, spec, DamagePolicy::fail, ResultsTableModel::result);
            QVERIFY(result.warningMark);
            for (const std::string& sentence : findingSentences(item.findings())) {
                QVERIFY(result.toolTip.contains(qs(sentence)));
                QVERIFY(csv.find(sentence) != std::string::npos);
                QVERIFY2(pdfText.contains(qs(sentence)), sentence.c_str());
            }
        }

        f.model.setDamagePolicy(DamagePolicy::warn);
        QVERIFY(!mp3.fixFor(spec.id)); // the refusal no longer holds
        f.model.fixFiles();
        QVERIFY(f.settled());
        QCOMPARE(takeAlert(f.model).second,
                 qs(Workflow::fixedCopiesMessage({.written = 1, .jobs = 1, .ofDamaged = 1},
                                                 std::nullopt)));
        QVERIFY(f.model.reportRows()[1].fix->ends_with("; copy of damaged audio"));
        QVERIFY(ResultsTableModel::cell(mp3, spec, DamagePolicy::warn, ResultsTableModel::fix)
                    .warningMark);
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
