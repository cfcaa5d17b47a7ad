#include "AppFixture.h"
#include "AppModel.h"
#include "AppTests.h"
#include "DamagedFiles.h"
#include "ResultsTableModel.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/Workflow.h"

#include <QProcess>
#include <set>

namespace fs = std::filesystem;
using namespace tavrin::test;

namespace tavrin::app {

using Reading = FileItem::Reading;
using Fix = FileItem::FixState;

/// Fix runs driven through the model, writing real copies of real files: what each run takes,
/// what it says, and what becomes of damaged audio.
class FixRunnerTest : public QObject {
    Q_OBJECT

private slots:
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

    /// With "Use the limiter", Fix does what `fix --limiter` does in one run: the files gain
    /// alone fixes get the very gain copies a plain Fix writes, the rest limited copies.
    void useTheLimiterFixesEverythingInOneRun() {
        AppFixture plain, oneStep;
        for (AppFixture* f : {&plain, &oneStep})
            QVERIFY(
                f->addAndMeasure({f->tone("quiet.wav", -30), f->tone("peaky.wav", -30, 1, -3)}));
        oneStep.model.setLimitWhereGainCant(true);
        for (AppFixture* f : {&plain, &oneStep}) {
            f->model.fixFiles();
            QVERIFY(f->settled());
        }
        QCOMPARE(takeAlert(oneStep.model),
                 alert(Workflow::fixedCopiesTitle,
                       Workflow::fixedCopiesMessage({.written = 2, .jobs = 2}, std::nullopt)));
        const auto *gain = done(oneStep.model.items()[0]), *same = done(plain.model.items()[0]);
        QVERIFY(gain && same && !gain->limiting);
        QCOMPARE(gain->copy.filename(), same->copy.filename());
        QCOMPARE(gain->result, same->result);
        QCOMPARE(gain->gain, same->gain);
        QCOMPARE(gain->stamp.size, same->stamp.size);
        const auto* limited = done(oneStep.model.items()[1]);
        QVERIFY(limited && limited->limiting);
        QCOMPARE(toQString(limited->copy.filename()), "peaky (EBU R 128, limited).wav");
        QVERIFY(!done(plain.model.items()[1])); // left, as described, without the setting
        QCOMPARE(AppSettings(&oneStep.settings).limitWhereGainCant(), true);
    }
};

TAVRIN_APP_TEST(FixRunnerTest);

} // namespace tavrin::app

#include "FixRunnerTest.moc"
