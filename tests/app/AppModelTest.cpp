#include "AppModel.h"

#include "AppTests.h"
#include "HandWritten.h"
#include "Paths.h"
#include "ScriptedDesktop.h"
#include "tavrin/Report.h"
#include "tavrin/Workflow.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace tavrin::test;

namespace tavrin::app {

namespace {

using Reading = FileItem::Reading;
using Fix = FileItem::FixState;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

/// A 16-bit 48 kHz WAV of a 997 Hz tone: stereo at `dBFS` reads about `dBFS` LUFS. `click` puts
/// one sample of that level at the start, for true peaks far above the tone.
fs::path wav(const fs::path& path, double dBFS, std::uint16_t channels = 2, double seconds = 1,
             std::optional<double> click = std::nullopt) {
    Channels tone = replicate(sine(997, dBFS, seconds, 48000), channels);
    if (click)
        for (auto& channel : tone)
            channel[10] = amplitude(*click);
    Wav file;
    file.channels = channels;
    file.data = pcm16(tone);
    writeFile(path, file.bytes());
    return path;
}

int rows(const AppModel& model) {
    return static_cast<int>(model.items().size());
}

bool holds(const FileItem& item, auto kind) {
    return std::holds_alternative<decltype(kind)>(item.reading.value);
}

int count(const AppModel& model, auto kind) {
    return static_cast<int>(std::ranges::count_if(
        model.items(), [&](const FileItem& item) { return holds(item, kind); }));
}

/// Lets the event loop run until every row is measured and no fix run is left.
bool settled(const AppModel& model) {
    return QTest::qWaitFor([&] { return !model.isBusy() && !model.fixing(); }, 60000);
}

const Fix::Done* done(const FileItem& item) {
    return item.fix ? std::get_if<Fix::Done>(&item.fix->value) : nullptr;
}

} // namespace

/// The model driven through its operations, with real files measured on its own threads and a
/// scripted desktop in place of the panels.
class AppModelTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedDesktop m_desktop;

    fs::path path(const std::string& name) const { return toPath(m_dir.path()) / name; }
    /// Stands in for a worker's report reaching the model.
    static void report(AppModel& model, int row, Reading reading, int generationsBack = 0) {
        model.applyReading(model.items()[std::size_t(row)].id, model.m_generation - generationsBack,
                           std::move(reading), std::nullopt);
    }
    static void waitForWorkers(AppModel& model) {
        model.m_measurePool.waitForDone();
        QCoreApplication::processEvents();
    }

private slots:
    void init() {
        m_desktop = ScriptedDesktop{};
        fs::remove_all(toPath(m_dir.path()));
        fs::create_directories(toPath(m_dir.path()));
    }

    void addingFilesSaysWhenNothingIsNew() {
        AppModel model(m_desktop, nullptr, 2);
        fs::create_directory(path("notes"));
        writeFile(path("notes/readme.txt"), "not audio");
        model.addFiles({path("notes")});
        QCOMPARE(model.notice(), QString::fromUtf8(Workflow::noAudioFilesNotice));
        QVERIFY(model.items().empty());

        fs::create_directory(path("show"));
        for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"})
            wav(path("show") / name, -23);
        model.addFiles({path("show/a.wav")});
        model.addFiles({path("show/a.wav")});
        QCOMPARE(model.notice(), QStringLiteral("Those files are already in the list."));
        QCOMPARE(rows(model), 1);

        QSignalSpy inserted(&model, &AppModel::itemsAboutToBeInserted);
        model.addFiles({path("show")});
        QVERIFY(!model.notice());
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted[0], (QVariantList{1, 3}));
        QVERIFY(model.items()[3].url == path("show/d.wav"));

        m_desktop.files.reset(); // the user cancels
        model.chooseFiles();
        QCOMPARE(m_desktop.lastMessage,
                 QStringLiteral("Choose audio files or folders to check against EBU R 128."));
        QCOMPARE(m_desktop.lastPrompt, QStringLiteral("Check"));
        QCOMPARE(rows(model), 4);
        QVERIFY(settled(model));
        QCOMPARE(count(model, Reading::Measured{}), 4);
    }

    void rowsStartInListOrderAtMostFourAtOnce() {
        for (int i = 0; i < 9; ++i)
            wav(path("take" + std::to_string(i) + ".wav"), -23, 2, 2);
        AppModel model(m_desktop, nullptr, 10);
        std::vector<int> started;
        int mostAtOnce = 0;
        connect(&model, &AppModel::itemChanged, [&](int row) {
            const FileItem& item = model.items()[std::size_t(row)];
            if (holds(item, Reading::Measuring{}) &&
                std::get<Reading::Measuring>(item.reading.value).fraction == 0)
                started.push_back(row);
            mostAtOnce = std::max(mostAtOnce, count(model, Reading::Measuring{}));
        });
        model.addFiles({path("take0.wav"), path("take1.wav"), path("take2.wav"), path("take3.wav"),
                        path("take4.wav"), path("take5.wav")});
        QCOMPARE(count(model, Reading::Measuring{}), 4);
        // Rows added while the loop runs join it, behind the rows already waiting.
        model.addFiles({path("take6.wav"), path("take7.wav"), path("take8.wav")});
        QCOMPARE(count(model, Reading::Measuring{}), 4);
        QVERIFY(settled(model));
        QCOMPARE(started, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(mostAtOnce, 4);
        QCOMPARE(count(model, Reading::Measured{}), 9);
        QVERIFY(!model.items()[0].format.empty());
    }

    void removedAndClearedRowsIgnoreLateResults() {
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            wav(path(name), -23, 2, 5);
        AppModel model(m_desktop, nullptr, 4);
        model.addFiles({path("a.wav"), path("b.wav"), path("c.wav")});
        const QUuid first = model.items()[0].id, second = model.items()[1].id;
        model.setSelection({first, second});
        model.removeItems({first});
        QCOMPARE(model.selection(), QSet<QUuid>{second});
        QVERIFY(settled(model));
        QCOMPARE(rows(model), 2);
        QCOMPARE(count(model, Reading::Measured{}), 2);

        model.measureAgain();
        QSignalSpy changed(&model, &AppModel::itemChanged);
        model.clearList();
        QVERIFY(model.items().empty());
        waitForWorkers(model);
        QCOMPARE(changed.size(), 0);
        QVERIFY(!model.isBusy());
    }

    void lateAndStaleReportsChangeNothing() {
        AppModel model(m_desktop, nullptr, 2);
        model.addFiles({wav(path("a.wav"), -23)});
        QVERIFY(settled(model));
        const FileItem measured = model.items()[0];
        report(model, 0, {Reading::Measuring{0.5}});
        QCOMPARE(model.items()[0], measured);

        model.measureAgain();
        report(model, 0, {Reading::Failed{"from an older run"}}, 1);
        QVERIFY(holds(model.items()[0], Reading::Measuring{}));
        QVERIFY(settled(model));
        QCOMPARE(model.items()[0], measured);
    }

    void anUnreadableFileFailsWithTheReadersSentence() {
        writeFile(path("broken.wav"), "RIFF");
        AppModel model(m_desktop, nullptr, 2);
        model.addFiles({path("broken.wav")});
        QVERIFY(settled(model));
        const auto* failed = std::get_if<Reading::Failed>(&model.items()[0].reading.value);
        QVERIFY(failed);
        QVERIFY(failed->message == Workflow::measure(path("broken.wav"), false).error);
        QVERIFY(model.items()[0].format.empty());
    }

    void dualMonoMeasuresAgainOnlyWhenItChanges() {
        AppModel model(m_desktop, nullptr, 2);
        model.addFiles({wav(path("mono.wav"), -20, 1)});
        QVERIFY(settled(model));
        const double single = *model.items()[0].result()->integrated;

        QSignalSpy changed(&model, &AppModel::itemChanged);
        model.setDualMono(true);
        QVERIFY(holds(model.items()[0], Reading::Measuring{}));
        QVERIFY(settled(model));
        QCOMPARE(std::round((*model.items()[0].result()->integrated - single) * 10), 30.0);
        changed.clear();
        model.setDualMono(true);
        QCOMPARE(changed.size(), 0);

        // A preset only changes the verdict, never the reading.
        const auto before = model.verdict(model.items()[0]);
        model.setSpecID(DeliverySpec::spotify().id);
        QCOMPARE(changed.size(), 0);
        QVERIFY(model.verdict(model.items()[0]) != before);

        model.setDualMono(false);
        QVERIFY(settled(model));
        QCOMPARE(*model.items()[0].result()->integrated, single);
    }

    void fixAlertsSayWhatHappened() {
        AppModel model(m_desktop, nullptr, 2);
        model.addFiles({wav(path("passes.wav"), -23), wav(path("quiet.wav"), -30),
                        wav(path("peaky.wav"), -40, 2, 1, -0.5)});
        QVERIFY(settled(model));
        const QUuid passes = model.items()[0].id, quiet = model.items()[1].id,
                    peaky = model.items()[2].id;
        const auto alertIs = [&](const char* title, const QString& message) {
            const bool same =
                model.alert() && model.alert()->title == title && model.alert()->message == message;
            if (!same && model.alert())
                qWarning() << model.alert()->title << model.alert()->message;
            model.dismissAlert();
            return same;
        };

        model.setSelection({passes});
        model.fixFiles();
        QVERIFY(alertIs("Nothing to fix", "The selected files pass EBU R 128 or have no reading."));
        model.setSelection({peaky});
        model.fixFiles();
        QVERIFY(alertIs("Can’t fix with gain alone",
                        "Reaching EBU R 128’s target would push the true peak over −1.0 dBTP. "
                        "These files need a limiter first; the Fix column says by how much."));
        QVERIFY(!model.fixing());
        QVERIFY(std::holds_alternative<Fix::Refused>(model.items()[2].fix->value));

        model.setSelection({});
        model.fixFiles();
        QVERIFY(model.fixing());
        model.fixFiles(); // a second Fix while the run goes on does nothing
        QVERIFY(settled(model));
        QVERIFY(alertIs("Fixed copies",
                        "1 copy written next to the originals, each measured again. 1 file can’t "
                        "reach the target with gain alone; the Fix column says why."));
        const FileItem& fixed = model.items()[1];
        QVERIFY(done(fixed));
        QVERIFY(done(fixed)->copy == path("quiet (EBU R 128).wav"));
        QCOMPARE(Verdict::make(done(fixed)->result, model.currentSpec()).status,
                 Verdict::Status::pass);
        QVERIFY(holds(fixed, Reading::Measured{})); // the original's reading stays
        QVERIFY(!fs::exists(path("quiet (EBU R 128) 2.wav")));

        // Another preset: the plan shows again, and the copy is revealed only under its own.
        model.setSpecID(DeliverySpec::applePodcasts().id);
        QVERIFY(!model.items()[1].fixFor(model.specID()));
        model.revealInFinder({quiet, passes});
        model.setSpecID(DeliverySpec::ebuR128().id);
        model.revealInFinder({quiet});
        QCOMPARE(m_desktop.revealed,
                 (std::vector<std::vector<fs::path>>{{path("passes.wav"), path("quiet.wav")},
                                                     {path("quiet (EBU R 128).wav")}}));
    }

    void aRowRemovedDuringTheRunCountsAsNotWritten() {
        fs::create_directory(path("Deliveries"));
        AppModel model(m_desktop, nullptr, 2);
        model.addFiles(
            {wav(path("one.wav"), -30), wav(path("two.wav"), -31), wav(path("three.wav"), -32)});
        QVERIFY(settled(model));
        m_desktop.folder = path("Deliveries");
        model.chooseOutputFolder();
        QCOMPARE(m_desktop.lastPrompt, QStringLiteral("Use Folder"));
        model.fixFiles();
        model.removeItems({model.items()[2].id});
        QVERIFY(settled(model));
        QCOMPARE(model.alert()->message,
                 QStringLiteral("2 copies written to Deliveries, each measured again. 1 couldn’t "
                                "be written (see the Fix column)."));
        QVERIFY(fs::exists(path("Deliveries/two (EBU R 128).wav")));
    }

    void reportRowsAndSaving() {
        AppModel model(m_desktop, nullptr, 2);
        writeFile(path("broken.wav"), "RIFF");
        model.addFiles({wav(path("quiet.wav"), -30), wav(path("peaky.wav"), -40, 2, 1, -0.5),
                        path("broken.wav")});
        QVERIFY(settled(model));
        model.fixFiles();
        QVERIFY(settled(model));

        auto rows = model.reportRows();
        QCOMPARE(rows.size(), std::size_t(3));
        QVERIFY(rows[0].fix->starts_with("quiet (EBU R 128).wav: −23.0 LUFS, "));
        QVERIFY(rows[1].fix == Workflow::fixTextRefused);
        QVERIFY(rows[2].error == std::get<Reading::Failed>(model.items()[2].reading.value).message);
        QVERIFY(rows[2].format.empty());
        QVERIFY(rows[2].folder == toPath(m_dir.path()).string());

        model.setSpecID(DeliverySpec::atscA85().id);
        QVERIFY(!model.reportRows()[0].fix);
        QCOMPARE(model.reportBaseName(), QStringLiteral("Loudness report – ATSC A85"));

        model.exportCSV(); // cancelled
        QCOMPARE(m_desktop.lastSuggestedName, QStringLiteral("Loudness report – ATSC A85.csv"));
        m_desktop.saveAs = path("r.csv");
        model.exportCSV();
        std::ifstream saved(path("r.csv"), std::ios::binary);
        const std::string csv{std::istreambuf_iterator<char>(saved), {}};
        QVERIFY(csv == Report::csv(model.reportRows(), DeliverySpec::atscA85()));

        // Root may write anywhere, but not under a file.
        const bool root = ::geteuid() == 0;
        fs::create_directory(path("locked"));
        ::chmod(path("locked").c_str(), 0500);
        const fs::path folder = root ? path("r.csv") : path("locked");
        m_desktop.saveAs = folder / "r.pdf";
        model.exportPDF();
        QVERIFY(model.alert());
        QCOMPARE(model.alert()->title, QStringLiteral("Couldn’t save the report"));
        QCOMPARE(model.alert()->message,
                 "r.pdf couldn’t be written in " + toQString(folder) +
                     (root ? " (Not a directory)." : " (Permission denied)."));
        QVERIFY(m_desktop.opened.empty());
    }

    void settingsLoadAndStore() {
        const QString file = m_dir.filePath("settings.ini");
        {
            QSettings settings(file, QSettings::IniFormat);
            AppModel model(m_desktop, &settings, 2);
            QVERIFY(model.specID() == DeliverySpec::ebuR128().id);
            QVERIFY(!model.dualMono());
            QVERIFY(!model.outputFolder());
            model.setSpecID("youtube");
            model.setDualMono(true);
            model.setOutputFolder(path("out"));
        }
        {
            QSettings settings(file, QSettings::IniFormat);
            AppModel model(m_desktop, &settings, 2);
            QVERIFY(model.specID() == "youtube");
            QVERIFY(model.dualMono());
            QVERIFY(model.outputFolder() == path("out"));
            model.setOutputFolder(std::nullopt);
            settings.setValue("preset", "no-such-preset");
        }
        {
            QSettings settings(file, QSettings::IniFormat);
            AppModel model(m_desktop, &settings, 2);
            QVERIFY(model.specID() == DeliverySpec::ebuR128().id);
            QVERIFY(!settings.contains("outputFolder"));
            QCOMPARE(settings.value("preset").toString(), QStringLiteral("no-such-preset"));
        }
        // Without a store nothing is read or written.
        AppModel model(m_desktop, nullptr, 2);
        QVERIFY(!model.persist() && !model.dualMono());
        model.setSpecID("spotify");
        model.setOutputFolder(path("elsewhere"));
        QSettings settings(file, QSettings::IniFormat);
        QCOMPARE(settings.value("preset").toString(), QStringLiteral("no-such-preset"));
        QVERIFY(!settings.contains("outputFolder"));
    }
};

TAVRIN_APP_TEST(AppModelTest);

} // namespace tavrin::app

#include "AppModelTest.moc"
