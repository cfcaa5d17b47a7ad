#include "TavrinApp.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "AppTexts.h"
#include "InstanceChannel.h"
#include "MainWindow.h"
#include "SettingsWindow.h"

#include <QAction>
#include <QFileOpenEvent>
#include <QSignalSpy>

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
        QTRY_VERIFY(tavrin.model().notice()); // already listed
        QVERIFY(!InstanceChannel::handOver(f.folder.filePath("nobody.socket"), files));
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
    }

    void windowsCommandsAndSettings() {
        AppFixture f;
        f.settings.setValue("preset", "spotify");
        TavrinApp tavrin(f.settings, {});
        MainWindow& window = tavrin.mainWindow();
        QCOMPARE(tavrin.model().specID(), "spotify");

        const auto settingsWindows = [] {
            return std::ranges::count_if(QApplication::topLevelWidgets(), [](QWidget* widget) {
                return qobject_cast<SettingsWindow*>(widget) && widget->isVisible();
            });
        };
        window.commands().settings->trigger();
        QCOMPARE(settingsWindows(), 1);
        tavrin.showSettings();
        QCOMPARE(settingsWindows(), 1); // the same window, brought forward

        window.commands().about->trigger();
        QVERIFY(tavrin.aboutBox());
        QVERIFY(
            tavrin.aboutBox()->informativeText().contains(AppTexts::goesOnlineOnlyForUpdates()));
        window.commands().checkForUpdates->trigger();
        QVERIFY(std::ranges::any_of(QApplication::topLevelWidgets(), [](QWidget* widget) {
            const auto* box = qobject_cast<QMessageBox*>(widget);
            return box && box->isVisible() && box->text() == "Updates aren’t checked";
        }));
    }
};

TAVRIN_APP_TEST(TavrinAppTest);
#include "TavrinAppTest.moc"
