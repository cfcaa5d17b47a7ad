#include "SystemDesktop.h"

#include "Paths.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <set>

namespace tavrin::app {

namespace {

/// The open panel for audio files and folders together (Qt's own dialogs pick one or the other).
/// Its accept button always reads the prompt and takes what is selected, folders included; a
/// folder typed into the name field and confirmed with Enter is entered instead, as a
/// double-clicked one is.
class FilesAndFoldersDialog : public QFileDialog {
public:
    FilesAndFoldersDialog(QWidget* parent, const QString& title, const QString& folder,
                          const QString& prompt)
        : QFileDialog(parent, title, folder) {
        setOption(DontUseNativeDialog); // a subclass never gets the platform's panel anyway
        setFileMode(ExistingFiles);
        // Qt's own accept button turns into "Open" over a folder; one of ours keeps the prompt,
        // and follows whether Qt's would take the selection.
        auto* buttons = findChild<QDialogButtonBox*>();
        QPushButton* qtAccept = buttons->button(QDialogButtonBox::Open);
        auto* accept = buttons->addButton(prompt, QDialogButtonBox::AcceptRole);
        accept->setDefault(true);
        accept->setEnabled(qtAccept->isEnabled());
        qtAccept->hide();
        qtAccept->installEventFilter(this);
        m_accept = accept;
        m_name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    }

    void accept() override {
        if (const QString typed = typedFolder(); !typed.isEmpty()) {
            setDirectory(typed);
            m_name->clear();
        } else if (!selectedFiles().isEmpty()) {
            QDialog::accept();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange)
            m_accept->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
        return QFileDialog::eventFilter(watched, event);
    }

private:
    /// The folder named in the name field when Enter was pressed there; empty otherwise (the
    /// accept button was used).
    QString typedFolder() const {
        if (!m_name || sender() != m_name || m_name->text().isEmpty())
            return {};
        const QFileInfo typed(directory(), QDir::fromNativeSeparators(m_name->text()));
        return typed.isDir() ? typed.absoluteFilePath() : QString();
    }

    QPushButton* m_accept;
    QLineEdit* m_name;
};

/// `wanted`, or the nearest folder above it that exists; when there is none, the user's music
/// folder or else the home folder. Never a path that doesn't exist: the dialog would put its name
/// in the name field.
QString startFolder(const std::filesystem::path& wanted) {
    std::error_code ignored;
    for (auto folder = wanted; !folder.empty(); folder = folder.parent_path()) {
        if (std::filesystem::is_directory(folder, ignored))
            return toQString(folder);
        if (folder == folder.parent_path())
            break;
    }
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return QFileInfo(music).isDir() ? music : QDir::homePath();
}

template <typename Dialog, typename... Extra>
Dialog* newDialog(QWidget* parent, const QString& title, const std::filesystem::path& folder,
                  Extra&&... extra) {
    auto* dialog = new Dialog(parent, title, startFolder(folder), std::forward<Extra>(extra)...);
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

QWidget* SystemDesktop::panelParent() const {
    // The window the user asked from owns the panel, so the panel blocks that window only.
    QWidget* active = QApplication::activeWindow();
    return active && !qobject_cast<QDialog*>(active) ? active : m_window.data();
}

void SystemDesktop::chooseFiles(const QString& message, const QString& prompt,
                                const std::filesystem::path& startFolder,
                                std::function<void(std::vector<std::filesystem::path>)> chosen) {
    auto* dialog = newDialog<FilesAndFoldersDialog>(panelParent(), message, startFolder, prompt);
    dialog->setNameFilter(QStringLiteral("Audio files (*.wav *.wave *.bwf *.aif *.aiff *.aifc "
                                         "*.mp3 *.m4a *.aac *.mp4 *.flac *.caf)"));
    QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, chosen = std::move(chosen)] {
        std::vector<std::filesystem::path> paths;
        for (const QString& file : dialog->selectedFiles())
            paths.push_back(toPath(file));
        chosen(std::move(paths));
    });
    dialog->open();
}

void SystemDesktop::chooseFolder(const QString& message, const QString& prompt,
                                 const std::filesystem::path& startFolder,
                                 std::function<void(std::filesystem::path)> chosen) {
    auto* dialog = newDialog<QFileDialog>(panelParent(), message, startFolder);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    QObject::connect(
        dialog, &QFileDialog::fileSelected, dialog,
        [chosen = std::move(chosen)](const QString& folder) { chosen(toPath(folder)); });
    dialog->open();
}

void SystemDesktop::chooseSaveFile(const QString& title, const std::filesystem::path& startFolder,
                                   const QString& suggestedName, const FileType& type,
                                   std::function<void(std::filesystem::path)> chosen) {
    auto* dialog = newDialog<QFileDialog>(panelParent(), title, startFolder);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(type.name + " (*." + type.suffix + ")");
    dialog->setDefaultSuffix(type.suffix);
    dialog->selectFile(suggestedName);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [chosen = std::move(chosen)](const QString& file) { chosen(toPath(file)); });
    dialog->open();
}

void SystemDesktop::chooseOpenFile(const QString& title, const std::filesystem::path& startFolder,
                                   const FileType& type,
                                   std::function<void(std::filesystem::path)> chosen) {
    auto* dialog = newDialog<QFileDialog>(panelParent(), title, startFolder);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(type.name + " (*." + type.suffix + ")");
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
