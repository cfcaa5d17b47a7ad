#include "TavrinApp.h"

#include "AppCommands.h"
#include "AppFixture.h"
#include "AppTests.h"
#include "InstanceChannel.h"
#include "MainWindow.h"
#include "ResultsTable.h"
#include "SettingsWindow.h"

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileOpenEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPushButton>
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

    /// View › Appearance changes every window at once, is remembered, and System gives the
    /// desktop's look back.
    void appearanceFromTheViewMenu() {
        AppFixture f;
        const QString systemStyle = QApplication::style()->name();
        const QPalette systemPalette = QApplication::palette();
        {
            TavrinApp tavrin(f.settings, {});
            const auto& looks = tavrin.mainWindow().commands().appearances;
            QVERIFY(looks[0]->isChecked());
            looks[2]->trigger();
            QVERIFY(Theme::isDark(QApplication::palette()));
            QTRY_VERIFY(Theme::isDark(tavrin.mainWindow().palette()));
            looks[1]->trigger();
            QVERIFY(!Theme::isDark(QApplication::palette()));
            looks[2]->trigger();
        }
        TavrinApp again(f.settings, {}); // a relaunch keeps it
        QVERIFY(again.mainWindow().commands().appearances[2]->isChecked());
        QVERIFY(Theme::isDark(QApplication::palette()));
        again.mainWindow().commands().appearances[0]->trigger();
        QCOMPARE(QApplication::style()->name(), systemStyle);
        QCOMPARE(QApplication::palette().color(QPalette::Window),
                 systemPalette.color(QPalette::Window));
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
    }

    /// What the user left is there after a relaunch: the window's size, the columns' widths (all in
    /// view at the smallest size), the Settings window's place over the main window, and the
    /// folders each panel was last used in; the Settings window's chooser is its own.
    void windowsAndPanelsRememberAcrossRelaunch() {
        AppFixture f;
        const auto tone = f.tone("a.wav", -20);
        QDir(f.folder.path()).mkdir("Reports");
        const auto panel = [] { // the file dialog on screen, once it is there
            QFileDialog* shown = nullptr;
            (void)QTest::qWaitFor([&shown] {
                for (QWidget* widget : QApplication::topLevelWidgets())
                    if (widget->isVisible() && qobject_cast<QFileDialog*>(widget))
                        shown = static_cast<QFileDialog*>(widget);
                return shown != nullptr;
            });
            return shown;
        };
        const auto answer = [](QDialog* dialog, const QString& folder, const QString& name) {
            static_cast<QFileDialog*>(dialog)->setDirectory(folder);
            static_cast<QFileDialog*>(dialog)->selectFile(name);
            dialog->accept();
        };
        const auto columnWidths = [](TavrinApp& tavrin) {
            QList<int> widths;
            for (int column = 0; column < ResultsTableModel::columns; ++column)
                widths << tavrin.mainWindow().table()->columnWidth(column);
            return widths;
        };
        QSize size;
        QList<int> widths;
        QPoint settingsPlace;
        {
            TavrinApp tavrin(f.settings, {});
            MainWindow& window = tavrin.mainWindow();
            window.show();
            window.resize(window.minimumSize());
            QHeaderView* header = window.table()->horizontalHeader();
            header->resizeSection(ResultsTableModel::file, 200);
            tavrin.model().chooseFiles();
            answer(panel(), f.folder.path(), "a.wav");
            QTRY_VERIFY(!tavrin.model().isBusy());
            QTRY_COMPARE(header->sectionViewportPosition(ResultsTableModel::fix) +
                             header->sectionSize(ResultsTableModel::fix),
                         window.table()->viewport()->width()); // every column in view
            QVERIFY(header->sectionSize(ResultsTableModel::fix) >= 150);

            tavrin.model().exportCSV(); // first time: beside the listed files
            QFileDialog* save = panel();
            QCOMPARE(save->directory().path(), f.folder.path());
            QCOMPARE(save->selectedFiles(), {f.folder.filePath("Loudness report – EBU R 128.csv")});
            answer(save, f.folder.filePath("Reports"), "r.csv");

            tavrin.model().setOutputFolder(f.path("Reports"));
            SettingsWindow& settings = tavrin.showSettings();
            QApplication::setActiveWindow(&settings);
            QVERIFY(QTest::qWaitForWindowActive(&settings));
            QVERIFY((settings.frameGeometry().center() - window.frameGeometry().center())
                        .manhattanLength() <= 6); // give or take the frame
            QTest::mouseClick(settings.changeFolderButton(), Qt::LeftButton);
            QFileDialog* chooser = panel();
            QCOMPARE(chooser->parentWidget(), &settings);
            QCOMPARE(chooser->directory().path(), f.folder.filePath("Reports"));
            static_cast<QDialog*>(chooser)->reject();
            settings.move(settings.pos() + QPoint(40, 30));
            settingsPlace = settings.pos();
            const QPointer<SettingsWindow> closing = &settings;
            QTest::keyClick(&settings, Qt::Key_W, Qt::ControlModifier);
            QTRY_VERIFY(!closing);
            size = window.size();
            widths = columnWidths(tavrin);
        }
        TavrinApp tavrin(f.settings, {});
        tavrin.mainWindow().show();
        QCOMPARE(tavrin.mainWindow().size(), size);
        QCOMPARE(tavrin.showSettings().pos(), settingsPlace);
        tavrin.model().chooseFiles();
        QFileDialog* open = panel();
        QCOMPARE(open->directory().path(), f.folder.path());
        answer(open, f.folder.path(), "a.wav");
        QTRY_VERIFY(!tavrin.model().isBusy());
        QTRY_COMPARE(columnWidths(tavrin), widths);
        tavrin.model().exportCSV();
        QCOMPARE(panel()->directory().path(), f.folder.filePath("Reports"));
        static_cast<QDialog*>(panel())->reject();
    }

    /// A Linux name in Latin-1, not UTF-8, is measured whichever way it comes in.
    void namesThatAreNotUtf8ArriveByEveryRoute_data() {
        QTest::addColumn<QString>("route");
        for (const char* route : {"argument", "drop", "hand-over"})
            QTest::newRow(route) << QString(route);
    }

    void namesThatAreNotUtf8ArriveByEveryRoute() {
        QFETCH(QString, route);
        AppFixture f;
        const QString channel = f.folder.filePath("tavrin.socket");
        TavrinApp tavrin(f.settings, channel);
        const char* name = "b\xe9"
                           "b\xc3\xa9.wav";
        const auto file = writeTone(toPath(f.folder.path()) / name, -23);
        QMimeData data; // as a file manager drags it: the name's bytes, percent-encoded
        data.setData("text/uri-list", "file://" + QByteArray(file.c_str()).toPercentEncoding("/"));
        QDragEnterEvent enter({}, Qt::CopyAction, &data, Qt::LeftButton, {});
        QDropEvent drop({}, Qt::CopyAction, &data, Qt::LeftButton, {});
        const char* argv[] = {"tavrin", name}; // relative to the folder it was typed in
        const QString started = QDir::currentPath();
        if (route == "argument" && QDir::setCurrent(f.folder.path())) {
            tavrin.openFiles(TavrinApp::filesFromArguments(2, argv));
            QDir::setCurrent(started);
        }
        if (route == "drop" && QApplication::sendEvent(&tavrin.mainWindow(), &enter))
            QApplication::sendEvent(&tavrin.mainWindow(), &drop);
        if (route == "hand-over")
            QVERIFY(InstanceChannel::handOver(channel, {file}));
        QTRY_COMPARE(tavrin.model().items().size(), 1u);
        QCOMPARE(tavrin.model().items()[0].url, file);
        QTRY_VERIFY_WITH_TIMEOUT(std::holds_alternative<FileItem::Reading::Measured>(
                                     tavrin.model().items()[0].reading.value),
                                 30000);
    }
};

TAVRIN_APP_TEST(TavrinAppTest);
#include "TavrinAppTest.moc"
