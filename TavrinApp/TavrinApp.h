#pragma once

#include "AppModel.h"
#include "SystemDesktop.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <memory>

class QSettings;

namespace tavrin::app {

class InstanceChannel;
class MainWindow;
class SettingsWindow;
class Updater;
struct UpdateAlert;

/// The application: its one model, with settings kept in `settings`, the main window, the settings
/// window on demand, the about box, the updater, and files handed over by later launches.
class TavrinApp : public QObject {
    Q_OBJECT

public:
    /// `instanceName` is the socket later launches hand their files to; empty: none.
    TavrinApp(QSettings& settings, const QString& instanceName, QObject* parent = nullptr);
    ~TavrinApp() override;

    AppModel& model() { return *m_model; }
    MainWindow& mainWindow() { return *m_window; }
    /// Checks the build's feed, if it has one; its answers come forward with the main window.
    Updater& updater() { return *m_updater; }
    /// Opens the settings window, or brings the open one forward.
    SettingsWindow& showSettings();
    void showAboutPanel();
    QMessageBox* aboutBox() const { return m_about; }
    /// Files opened with the application, all in one go; the window comes forward.
    void openFiles(const std::vector<std::filesystem::path>& files);
    /// The files named on the command line, as absolute paths of the very bytes given: a name
    /// that is not UTF-8 still names its file. `argv` as left by QApplication, without its options.
    static std::vector<std::filesystem::path> filesFromArguments(int argc, const char* const* argv);

protected:
    /// Files opened from the desktop while running (a file-open event per file on macOS) are
    /// gathered and added together.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bringForward();
    void showUpdateAlert(const UpdateAlert& alert);

    QSettings& m_settings;
    SystemDesktop m_desktop;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<MainWindow> m_window;
    QPointer<SettingsWindow> m_settingsWindow;
    InstanceChannel* m_channel = nullptr;
    Updater* m_updater;
    QPointer<QMessageBox> m_about;
    QPointer<QMessageBox> m_updateAlert;
    std::vector<std::filesystem::path> m_opened; ///< file-open events not yet added
};

/// Lets the process keep the memory that measuring a file frees for the next file instead of
/// handing it back to the system each time: with the window's thread running beside the workers,
/// taking it back page by page cost more than measuring a short file. Call once, first thing.
void keepFreedMemoryForReuse();

} // namespace tavrin::app
