#include "AppFixture.h"
#include "AppTests.h"
#include "AppTexts.h"
#include "GraphPanel.h"
#include "MainWindow.h"
#include "PlayControls.h"
#include "ResultsTable.h"

#include <QMouseEvent>
#include <QTest>
#include <QToolButton>

namespace tavrin::test {

using namespace app;

/// Playing from the graph into whatever output the machine has: the tests' script gives it a
/// null sink. Positions are asserted, never sound.
class PlaybackTest : public QObject {
    Q_OBJECT

    static void click(GraphPanel* graph, double seconds) {
        graph->repaint(); // the geometry as drawn
        const QPointF at(graph->geometry().xAt(seconds), graph->height() / 2.0);
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, graph->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
            QApplication::sendEvent(graph, &event);
        }
    }

    /// Shows `window`, active for its keys.
    static bool show(MainWindow& window) {
        window.show();
        QApplication::setActiveWindow(&window);
        return QTest::qWaitForWindowActive(&window);
    }

    /// Selects the first row: the graph's play controls.
    static PlayControls& selectFirst(AppFixture& f, MainWindow& window) {
        f.model.setSelection({f.model.items()[0].id});
        window.table()->setFocus(); // as a click on the row leaves it
        return window.graphPanel()->playControls();
    }

private slots:
    void playsFromTheCursorAndSwitchesToTheCopyInStep() {
        AppFixture f;
        MainWindow window(f.model);
        QVERIFY(show(window));
        QVERIFY(f.addAndMeasure({f.tone("minute.wav", -20, 60)}));
        f.model.fixFiles();
        QVERIFY(f.settled());
        PlayControls& controls = selectFirst(f, window);
        auto* play = controls.findChild<QToolButton*>("play");
        if (!Player::outputAvailable()) {
            QVERIFY(!play->isEnabled());
            QCOMPARE(play->toolTip(), AppTexts::noAudioOutput());
            return;
        }
        QTest::keyClick(window.table(), Qt::Key_Space);
        QVERIFY(controls.isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(controls.cursor() > 0.05, 5000);

        QTRY_VERIFY(!window.graphPanel()->accessibleDescription().isEmpty()); // drawn
        click(window.graphPanel(), 30);
        QVERIFY(controls.isPlaying());
        QVERIFY(std::abs(controls.cursor() - 30) < 0.5);
        QTRY_VERIFY_WITH_TIMEOUT(controls.player().hasCopy(), 5000);
        const double before = controls.cursor();
        QTest::keyClick(window.table(), Qt::Key_C);
        QVERIFY(controls.hearsCopy());
        QVERIFY(controls.cursor() >= before);
        QTRY_VERIFY_WITH_TIMEOUT(controls.cursor() > before + 0.05, 5000); // played on

        QTest::keyClick(window.table(), Qt::Key_Space);
        QVERIFY(!controls.isPlaying());
        const double paused = controls.cursor();
        QTest::qWait(150);
        QCOMPARE(controls.cursor(), paused);

        emit window.table()->playRequested(f.model.items()[0].id, 41.5);
        QVERIFY(controls.isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(controls.cursor() > 41.55, 5000);
    }

    void stopsWhenTheFileOrItsRowGoes() {
        AppFixture f;
        MainWindow window(f.model);
        QVERIFY(show(window));
        QVERIFY(f.addAndMeasure({f.tone("a.wav", -20, 20), f.tone("b.wav", -20, 20)}));
        PlayControls& controls = selectFirst(f, window);
        if (!Player::outputAvailable())
            QSKIP("No audio output to play through.");
        controls.togglePlaying();
        QTRY_VERIFY_WITH_TIMEOUT(controls.cursor() > 0, 5000); // the file is open
        std::filesystem::remove(f.path("a.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(!controls.isPlaying(), 5000);
        QCOMPARE(f.model.notice(), AppTexts::cantPlay("a.wav", AppTexts::fileGone()));

        f.model.setSelection({f.model.items()[1].id});
        controls.togglePlaying();
        QVERIFY(controls.isPlaying());
        f.model.removeItems({f.model.items()[1].id});
        QVERIFY(!controls.isPlaying());
    }
};

} // namespace tavrin::test

using tavrin::test::PlaybackTest;
TAVRIN_APP_TEST(PlaybackTest);
#include "PlaybackTest.moc"
