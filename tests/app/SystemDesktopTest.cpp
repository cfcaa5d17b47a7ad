#include "SystemDesktop.h"

#include "AppTests.h"
#include "Paths.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

using namespace tavrin::app;

namespace {

QFileDialog* openDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

/// Clicks the dialog's Open (or Save) button.
void confirm(QFileDialog* dialog) {
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    for (QAbstractButton* button : buttons->buttons())
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole)
            QTest::mouseClick(button, Qt::LeftButton);
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
            "Choose audio files or folders.", "Check",
            [&](std::vector<std::filesystem::path> files) { chosen.push_back(std::move(files)); });
        QFileDialog* dialog = openDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), "Check");
        dialog->setDirectory(folder.path());
        dialog->selectFile("\"Season 3\" \"Trailer.wav\"");
        confirm(dialog);
        QCOMPARE(chosen.size(), 1u);
        std::ranges::sort(chosen[0]);
        QCOMPARE(chosen[0], (std::vector{toPath(folder.filePath("Season 3")),
                                         toPath(folder.filePath("Trailer.wav"))}));
        QTRY_VERIFY(!openDialog());
    }

    void saveFileOffersTheSuggestedName() {
        QTemporaryDir folder;
        SystemDesktop desktop;
        std::optional<std::filesystem::path> chosen;
        desktop.chooseSaveFile("Loudness report – EBU R 128.csv", {"CSV", "csv"},
                               [&](std::filesystem::path file) { chosen = file; });
        QFileDialog* dialog = openDialog();
        QVERIFY(dialog);
        dialog->setDirectory(folder.path());
        dialog->selectFile(folder.filePath("Loudness report – EBU R 128.csv"));
        confirm(dialog);
        QCOMPARE(chosen, toPath(folder.filePath("Loudness report – EBU R 128.csv")));
    }
};

TAVRIN_APP_TEST(SystemDesktopTest);
#include "SystemDesktopTest.moc"
