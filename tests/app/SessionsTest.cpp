#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "AudioFixtures.h"
#include "MainWindow.h"
#include "ResultsTableModel.h"
#include "tavrin/workflow/Workflow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

namespace fs = std::filesystem;
using namespace tavrin::test;

namespace tavrin::app {

namespace {

/// Opens `session` in `f`'s model and waits until every file is checked and measured.
bool opened(AppFixture& f, const fs::path& session) {
    f.model.openSession(session);
    return QTest::qWaitFor([&] { return !f.model.verifyingSession(); }, 30000) && f.settled();
}

QString fixCell(AppFixture& f, int row) {
    const ResultsTableModel table(f.model);
    return table.index(row, ResultsTableModel::fix).data().toString();
}

/// Answers the next question box with the button titled `answer`, saying what it asked.
void answerNextQuestion(const QString& answer, QString* asked) {
    QTimer::singleShot(0, [answer, asked] {
        auto* question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(question);
        *asked = question->text();
        for (QAbstractButton* button : question->buttons())
            if (button->text() == answer)
                button->click();
    });
}

} // namespace

/// The list saved as a session and opened again as a user does after a restart: the rows come
/// back as they were, then the disk decides what still holds.
class SessionsTest : public QObject {
    Q_OBJECT

private slots:
    void aReopenedSessionShowsWhatChangedOnTheDisk() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({f.tone("passes.wav", -23), f.tone("quiet.wav", -30),
                                 f.tone("other.wav", -30), f.tone("gone.wav", -23)}));
        f.model.fixFiles();
        QVERIFY(f.settled());
        takeAlert(f.model);
        const fs::path session = f.path("Day 1.tavrin");
        f.desktop.saveAs = session;
        f.model.saveSessionAs();
        QVERIFY(QTest::qWaitFor([&] { return f.model.sessionPath() == session; }));
        QVERIFY(!f.model.sessionModified());
        QCOMPARE(f.model.recentSessions(), std::vector{session});

        // Untouched: the same rows, readings and copies, and nothing to save.
        AppFixture same;
        QVERIFY(opened(same, session));
        QCOMPARE(same.model.items().size(), 4u);
        for (std::size_t row = 0; row < 4; ++row) {
            QCOMPARE(*same.model.items()[row].result(), *f.model.items()[row].result());
            QCOMPARE(same.model.items()[row].fixes, f.model.items()[row].fixes);
        }
        QVERIFY(!same.model.sessionModified());

        // An original changed, one deleted, one copy deleted.
        f.tone("passes.wav", -20, 2);
        fs::remove(f.path("gone.wav"));
        fs::remove(f.path("other (EBU R 128).wav"));
        AppFixture later;
        QVERIFY(opened(later, session));
        const auto& rows = later.model.items();
        QCOMPARE(rows[0].sinceSaved, Session::State::changed);
        QCOMPARE(rows[3].sinceSaved, Session::State::missing);
        QCOMPARE(std::round(*rows[0].result()->integrated), -20.0);
        QCOMPARE(std::get<FileItem::Reading::Failed>(rows[3].reading.value).message,
                 Workflow::missingMessage(f.path("gone.wav")));
        QCOMPARE(fixCell(later, 1), "−23.0 LUFS, −23.0 dBTP");
        QCOMPARE(fixCell(later, 2), qs(Workflow::copyMissing));
        QVERIFY(later.model.sessionModified());
        const ResultsTableModel table(later.model);
        QVERIFY(table.index(0, ResultsTableModel::file)
                    .data(ResultsTableModel::CaptionRole)
                    .toString()
                    .startsWith(qs(Workflow::changedSinceSaved)));

        // The report names no copy that isn't there, and counts only those that are.
        const auto reported = later.model.reportRows();
        QCOMPARE(reported[2].fix, std::string(Workflow::copyMissing));
        QVERIFY(!reported[2].copy && reported[1].copy);

        // Saving takes the changes in, and the row no longer says it changed.
        later.model.saveSession();
        QVERIFY(QTest::qWaitFor([&] { return !later.model.sessionModified(); }));
        QCOMPARE(later.model.items()[0].sinceSaved, Session::State::unchanged);
        QVERIFY(Session::load(session).rows[0].stamp->size > 0);
    }

    void copiesAreCheckedAgainstTheDiskWithoutASession() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({f.tone("quiet.wav", -30)}));
        f.model.fixFiles();
        QVERIFY(f.settled());
        takeAlert(f.model);
        fs::remove(f.path("quiet (EBU R 128).wav"));
        QCOMPARE(fixCell(f, 0), "−23.0 LUFS, −23.0 dBTP"); // until it is looked at
        f.desktop.saveAs = f.path("report.csv");
        f.model.exportCSV();
        QCOMPARE(fixCell(f, 0), qs(Workflow::copyMissing));
        QVERIFY(QTest::qWaitFor([&] { return fs::exists(f.path("report.csv")); }));
        QVERIFY(readBytes(f.path("report.csv")).find("quiet (EBU R 128).wav") == std::string::npos);
        QVERIFY(!f.model.sessionPath()); // no session is made of it
    }

    void whatCantBeOpenedOrSavedIsSaidAndHarmsNothing() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({f.tone("passes.wav", -23)}));
        writeBytes(f.path("notes.tavrin"), "{\"shopping\": [\"milk\"]}");
        f.model.openSession(f.path("notes.tavrin"));
        QCOMPARE(takeAlert(f.model), alert(Workflow::cantOpenSessionTitle,
                                           Workflow::sessionNotASessionMessage("notes.tavrin")));
        QCOMPARE(f.model.items().size(), 1u); // the list stays
        f.desktop.saveAs = f.path("no/such/Day 1.tavrin");
        f.model.saveSessionAs();
        QVERIFY(QTest::qWaitFor([&] { return f.model.alert().has_value(); }));
        QCOMPARE(takeAlert(f.model).first, qs(Workflow::cantSaveSessionTitle));
        QVERIFY(!f.model.sessionPath());
    }

    void theWindowNamesTheSessionAndAsksBeforeChangesAreLost() {
        AppFixture f;
        MainWindow window(f.model);
        QCOMPARE(window.windowTitle(), "Tavrin — EBU R 128");
        QVERIFY(f.addAndMeasure({f.tone("passes.wav", -23)}));
        f.desktop.saveAs = f.path("Day 1.tavrin");
        window.commands().saveSessionAs->trigger();
        QVERIFY(QTest::qWaitFor([&] { return f.model.sessionPath().has_value(); }));
        QCOMPARE(window.windowTitle(), "Day 1.tavrin[*] — Tavrin — EBU R 128");
        QVERIFY(!window.isWindowModified());
        QVERIFY(f.addAndMeasure({f.tone("quiet.wav", -30)}));
        QVERIFY(window.isWindowModified());
        // Cancel keeps the window; Save writes the session, then closes it.
        QString asked;
        answerNextQuestion("Cancel", &asked);
        QVERIFY(!window.close());
        QCOMPARE(asked, "Save the changes to Day 1.tavrin?");
        answerNextQuestion("Save", &asked);
        window.close();
        QVERIFY(QTest::qWaitFor([&] { return !f.model.sessionModified(); }));
        QCOMPARE(Session::load(f.path("Day 1.tavrin")).rows.size(), 2u);
        // Open Recent lists it, and opening it needs no question now.
        QCOMPARE(window.commands().openRecent->actions().size(), 1);
        window.commands().openRecent->actions().front()->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !f.model.verifyingSession(); }));
        QCOMPARE(f.model.items().size(), 2u);
    }
};

TAVRIN_APP_TEST(SessionsTest);

} // namespace tavrin::app

#include "SessionsTest.moc"
