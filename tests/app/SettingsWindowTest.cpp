#include "SettingsWindow.h"

#include "AppFixture.h"
#include "AppTests.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>

using namespace tavrin;
using namespace tavrin::app;
using namespace tavrin::test;

/// The settings window's controls against the model's settings and a real settings file.
class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void tabIsKeptAcrossWindows() {
        AppFixture f;
        {
            SettingsWindow window(f.model, &f.settings);
            QCOMPARE(window.tabs()->currentIndex(), 0);
            QTest::mouseClick(window.tabs()->tabBar(), Qt::LeftButton, {},
                              window.tabs()->tabBar()->tabRect(1).center());
        }
        SettingsWindow again(f.model, &f.settings);
        QCOMPARE(again.tabs()->currentIndex(), 1);
    }

    void whereFixedCopiesGo() {
        AppFixture f;
        SettingsWindow window(f.model, &f.settings);
        window.show();
        QComboBox* picker = window.destinationPicker();
        QCOMPARE(picker->currentText(), "Next to each original");
        QCOMPARE(window.folderText(), "");

        emit picker->activated(1); // the panel is cancelled
        QCOMPARE(picker->currentIndex(), 0);

        f.desktop.folder = f.path("Deliveries");
        emit picker->activated(1);
        QCOMPARE(picker->currentText(), "In Deliveries");
        QCOMPARE(window.folderText(), f.folder.filePath("Deliveries"));
        f.desktop.folder = f.path("Masters");
        emit picker->activated(1); // chosen again: asks again
        QCOMPARE(picker->currentText(), "In Masters");
        QVERIFY(f.model.outputFolder() == f.path("Masters"));
        f.desktop.folder = "/";
        emit picker->activated(1);
        QCOMPARE(picker->currentText(), "In /");

        emit picker->activated(0);
        QVERIFY(!f.model.outputFolder());
        QCOMPARE(picker->itemText(1), "In a folder…");
    }

    void dualMonoToggle() {
        AppFixture f;
        SettingsWindow window(f.model, &f.settings);
        window.show();
        QTest::mouseClick(window.dualMonoToggle(), Qt::LeftButton, {},
                          QPoint(8, window.dualMonoToggle()->height() / 2));
        QVERIFY(f.model.dualMono());
        f.model.setDualMono(false);
        QVERIFY(!window.dualMonoToggle()->isChecked());
    }
};

TAVRIN_APP_TEST(SettingsWindowTest);
#include "SettingsWindowTest.moc"
