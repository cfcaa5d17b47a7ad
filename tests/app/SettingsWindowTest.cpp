#include "SettingsWindow.h"

#include "AppFixture.h"
#include "AppTests.h"
#include "PresetFooter.h"
#include "ResultsTableModel.h"
#include "TallyButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
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

    /// The choice reaches the store, the sentence under it and the next fix run.
    void copiesKeepTheOriginalsFormatWhenChosen() {
        AppFixture f;
        const auto mp3 = f.path("quiet.mp3");
        const std::string encode = "ffmpeg -nostdin -loglevel error -y -i '" +
                                   f.tone("quiet.wav", -30, 4).string() +
                                   "' -c:a libmp3lame -b:a 128k '" + mp3.string() + "'";
        QCOMPARE(std::system(encode.c_str()), 0);
        SettingsWindow window(f.model, &f.settings);
        window.show();
        QComboBox* picker = window.copyFormatPicker();
        QCOMPARE(picker->currentText(), "WAV or AIFF (lossless)");
        QVERIFY(window.copiesText().contains("Tags and metadata aren’t copied."));
        emit picker->activated(1);
        QVERIFY(f.model.copyFormat() == GainWriter::CopyFormat::original);
        QCOMPARE(f.settings.value("copyFormat").toString(), "original");
        QVERIFY(window.copiesText().endsWith("lossy copies are checked again after encoding."));

        QVERIFY(f.addAndMeasure({mp3}));
        f.model.fixFiles();
        QVERIFY(f.settled());
        const auto row = f.model.reportRows().front();
        QVERIFY(row.fix && row.fix->starts_with("quiet (EBU R 128).mp3: "));
        QVERIFY(row.fix->ends_with("; MP3 128 kbps"));
    }

    /// The choice, made with the keyboard, judges the list again at once and is kept.
    void damagedAudioFailsUnlessItOnlyWarns() {
        AppFixture f;
        QVERIFY(f.addAndMeasure({writeCutOffTone(f.path("cut.wav"), -23)}));
        const PresetFooter footer(f.model);
        const ResultsTableModel table(f.model);
        const auto shown = [&] {
            return QStringList{table.index(0, ResultsTableModel::result).data().toString(),
                               footer.passTally()->text(), footer.failTally()->text(),
                               footer.damagedTally()->text()};
        };
        QCOMPARE(shown(), (QStringList{"Fail", "0 pass", "1 fail", "1 damaged"}));
        SettingsWindow window(f.model, &f.settings);
        window.show();
        QComboBox* picker = window.damagePicker();
        QCOMPARE(picker->currentText(), "Fails the file");
        QSignalSpy judged(&table, &QAbstractItemModel::dataChanged); // views redraw every row
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_Down);
        QCOMPARE(judged.size(), 1);
        QCOMPARE(picker->currentText(), "Only warns");
        QCOMPARE(shown(), (QStringList{"Pass", "1 pass", "0 fail", "1 damaged"}));
        QCOMPARE(f.settings.value("damagedAudio").toString(), "warns");
        QVERIFY(AppModel(f.desktop, &f.settings, 2).damagePolicy() == DamagePolicy::warn);
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
