#include "SystemDesktop.h"

#include "Paths.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <set>

namespace tavrin::app {

namespace {

/// A file dialog that hands back files and folders alike: Qt's own dialogs pick one or the other,
/// but the list is built from both. Double-clicking a folder still opens it.
class FilesAndFoldersDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        if (!selectedFiles().isEmpty())
            QDialog::accept();
    }
};

QString startFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
}

template <typename Dialog> Dialog* newDialog(QWidget* window, const QString& title) {
    auto* dialog = new Dialog(window, title, startFolder());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Qt's own dialog: the platform's may not offer folders and files together, nor `open()`.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    return dialog;
}

/// Opens the files' folders; false when one of them could not be opened.
bool openFolders(const std::vector<std::filesystem::path>& files) {
    std::set<std::filesystem::path> folders;
    for (const auto& file : files)
        folders.insert(file.parent_path());
    bool opened = true;
    for (const auto& folder : folders)
        opened = QDesktopServices::openUrl(fileUrl(folder)) && opened;
    return opened;
}

} // namespace

void SystemDesktop::chooseFiles(const QString& message, const QString& prompt,
                                std::function<void(std::vector<std::filesystem::path>)> chosen) {
    auto* dialog = newDialog<FilesAndFoldersDialog>(m_window, message);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setNameFilters({QStringLiteral("Audio files (*.wav *.wave *.bwf *.aif *.aiff *.aifc "
                                           "*.mp3 *.m4a *.aac *.mp4 *.flac *.caf)"),
                            QStringLiteral("All files (*)")});
    QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, chosen = std::move(chosen)] {
        std::vector<std::filesystem::path> paths;
        for (const QString& file : dialog->selectedFiles())
            paths.push_back(toPath(file));
        chosen(std::move(paths));
    });
    dialog->open();
}

void SystemDesktop::chooseFolder(const QString& message, const QString& prompt,
                                 std::function<void(std::filesystem::path)> chosen) {
    auto* dialog = newDialog<QFileDialog>(m_window, message);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    QObject::connect(
        dialog, &QFileDialog::fileSelected, dialog,
        [chosen = std::move(chosen)](const QString& folder) { chosen(toPath(folder)); });
    dialog->open();
}

void SystemDesktop::chooseSaveFile(const QString& suggestedName, const FileType& type,
                                   std::function<void(std::filesystem::path)> chosen) {
    auto* dialog = newDialog<QFileDialog>(m_window, QStringLiteral("Export"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(type.name + " (*." + type.suffix + ")");
    dialog->setDefaultSuffix(type.suffix);
    dialog->selectFile(suggestedName);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [chosen = std::move(chosen)](const QString& file) { chosen(toPath(file)); });
    dialog->open();
}

void SystemDesktop::reveal(const std::vector<std::filesystem::path>& files,
                           std::function<void()> failed) {
    QStringList uris;
    for (const auto& file : files)
        uris << QString::fromLatin1(fileUrl(file).toEncoded());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!openFolders(files))
            failed();
        return;
    }
    // Without a file manager on the bus, the call fails and the folders open instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [files, failed = std::move(failed)](QDBusPendingCallWatcher* done) {
                         if (done->isError() && !openFolders(files))
                             failed();
                         done->deleteLater();
                     });
}

bool SystemDesktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

} // namespace tavrin::app
