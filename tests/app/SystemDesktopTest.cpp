#include "SystemDesktop.h"

#include "AppTests.h"
#include "Paths.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace tavrin::app;

namespace {

/// The file dialog on screen, or null.
QFileDialog* openDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* open = qobject_cast<QFileDialog*>(widget); open && open->isVisible())
            return open;
    return nullptr;
}

/// The accept button the user sees.
QAbstractButton* acceptButton(QFileDialog& dialog) {
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    for (QAbstractButton* button : buttons->buttons())
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole && button->isVisible())
            return button;
    return nullptr;
}

/// Answers the file dialog that is open: goes to `folder`, selects `selection` unless it is empty,
/// and clicks Check (or Save).
void answerDialog(const QString& folder, const QString& selection = {}) {
    QFileDialog* dialog = openDialog();
    QVERIFY(dialog);
    dialog->setDirectory(folder);
    if (!selection.isEmpty())
        dialog->selectFile(selection);
    QTest::mouseClick(acceptButton(*dialog), Qt::LeftButton);
}

} // namespace

/// The panels the app opens: one dialog hands back files and folders together, and the save
/// panel the name the user confirms.
class SystemDesktopTest : public QObject {
    Q_OBJECT

private slots:
    void filesAndFoldersTogether() {
        QTemporaryDir folder;
        QDir(folder.path()).mkdir("Season 3");
        QFile(folder.filePath("Trailer.wav")).open(QIODevice::WriteOnly);
        SystemDesktop desktop;
        std::vector<std::vector<std::filesystem::path>> chosen;
        desktop.chooseFiles(
            "Choose audio files or folders.", "Check", toPath(folder.filePath("gone/deeper")),
            [&](std::vector<std::filesystem::path> files) { chosen.push_back(std::move(files)); });
        QFileDialog* dialog = openDialog();
        QCOMPARE(dialog->directory().path(), folder.path()); // the nearest folder there is
        QCOMPARE(dialog->nameFilters().size(), 1);           // audio files only
        // A folder typed and confirmed with Enter is entered; the button keeps its label.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        name->setFocus();
        QTest::keyClicks(name, "Season 3");
        QCOMPARE(acceptButton(*dialog)->text(), "Check");
        QTest::keyClick(name, Qt::Key_Return);
        QCOMPARE(dialog->directory().path(), folder.filePath("Season 3"));
        QVERIFY(chosen.empty());
        answerDialog(folder.path(), "\"Season 3\" \"Trailer.wav\"");
        QCOMPARE(chosen.size(), 1u);
        std::ranges::sort(chosen[0]);
        QCOMPARE(chosen[0], (std::vector{toPath(folder.filePath("Season 3")),
                                         toPath(folder.filePath("Trailer.wav"))}));
    }

    void saveAndOpenPanelsHandBackOneFile() {
        QTemporaryDir folder;
        SystemDesktop desktop;
        std::optional<std::filesystem::path> chosen;
        desktop.chooseSaveFile("Export", {}, "Loudness report – EBU R 128.csv", {"CSV", "csv"},
                               [&](std::filesystem::path file) { chosen = file; });
        QCOMPARE(openDialog()->windowTitle(), "Export");
        answerDialog(folder.path());
        QCOMPARE(chosen, toPath(folder.filePath("Loudness report – EBU R 128.csv")));
        // The open panel takes only an existing file of its type.
        QFile(folder.filePath("Day 1.tavrin")).open(QIODevice::WriteOnly);
        desktop.chooseOpenFile("Open Session", toPath(folder.path()), {"Tavrin session", "tavrin"},
                               [&](std::filesystem::path file) { chosen = file; });
        QCOMPARE(openDialog()->nameFilters(), QStringList{"Tavrin session (*.tavrin)"});
        answerDialog(folder.path(), "Day 1.tavrin");
        QCOMPARE(chosen, toPath(folder.filePath("Day 1.tavrin")));
    }
};

TAVRIN_APP_TEST(SystemDesktopTest);
#include "SystemDesktopTest.moc"
