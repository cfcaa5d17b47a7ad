#include "TavrinApp.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "InstanceChannel.h"
#include "MainWindow.h"
#include "SettingsWindow.h"

#include <QAction>
#include <QFileOpenEvent>
#include <QSignalSpy>
#include <QTabWidget>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;

/// The application as a whole: one model over the settings file, its windows, and files handed
/// over by a second launch.
class TavrinAppTest : public QObject {
    Q_OBJECT

private slots:
    void secondLaunchHandsItsFilesOver() {
        AppFixture f; // for the folder and files only
        const QString channel = f.folder.filePath("tavrin.socket");
        TavrinApp tavrin(f.settings, channel);
        QSignalSpy inserted(&tavrin.model(), &AppModel::itemsInserted);
        const std::vector files{f.tone("a.wav", -23), f.tone("b.wav", -20), f.tone("c.wav", -18)};
        QVERIFY(InstanceChannel::handOver(channel, files));
        QTRY_COMPARE(tavrin.model().items().size(), 3u);
        QCOMPARE(inserted.size(), 1);
        QVERIFY(InstanceChannel::handOver(channel, {files[0]}));
        QTRY_COMPARE(tavrin.model().notice(), "Those files are already in the list.");
        QVERIFY(!InstanceChannel::handOver(f.folder.filePath("nobody.socket"), files));
        QVERIFY(QTest::qWaitFor([&] { return !tavrin.model().isBusy(); }, 20000));
    }

    void filesOpenedFromTheDesktopArriveTogether() {
        AppFixture f;
        TavrinApp tavrin(f.settings, {});
        QSignalSpy inserted(&tavrin.model(), &AppModel::itemsInserted);
        for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
            QFileOpenEvent open(toQString(f.tone(name, -23)));
            QApplication::sendEvent(qApp, &open);
        }
        QTRY_COMPARE(tavrin.model().items().size(), 3u);
        QCOMPARE(inserted.size(), 1);
        QVERIFY(QTest::qWaitFor([&] { return !tavrin.model().isBusy(); }, 20000));
    }

    void windowsCommandsAndSettings() {
        AppFixture f;
        f.settings.setValue("preset", "spotify");
        TavrinApp tavrin(f.settings, {});
        MainWindow& window = tavrin.mainWindow();
        QCOMPARE(tavrin.model().specID(), "spotify");
        QCOMPARE(window.size(), QSize(1180, 720));
        QCOMPARE(window.minimumSize(), QSize(900, 520));

        window.commands().settings->trigger();
        SettingsWindow& settings = tavrin.showSettings(); // the same window, brought forward
        settings.tabs()->setCurrentIndex(1);
        settings.close();
        QCOMPARE(f.settings.value("settingsTab").toString(), "privacy");
        QCOMPARE(tavrin.showSettings().tabs()->currentIndex(), 1);

        window.commands().about->trigger();
        QVERIFY(tavrin.aboutBox());
        const QStringList credits = tavrin.aboutBox()->informativeText().split("\n\n");
        QCOMPARE(credits.size(), 3);
        QCOMPARE(credits[1], "Privacy: your audio never leaves this computer. Tavrin goes online "
                             "only to look for updates. Nothing is collected.");
        window.commands().checkForUpdates->trigger();
        const auto boxes = QApplication::topLevelWidgets();
        QVERIFY(std::ranges::any_of(boxes, [](QWidget* widget) {
            const auto* box = qobject_cast<QMessageBox*>(widget);
            return box && box->isVisible() && box->text() == "Updates aren’t checked";
        }));

        QSignalSpy closed(&window, &MainWindow::closed);
        window.close();
        QCOMPARE(closed.size(), 1);
    }
};

TAVRIN_APP_TEST(TavrinAppTest);
#include "TavrinAppTest.moc"
