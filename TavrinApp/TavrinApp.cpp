#include "TavrinApp.h"

#include "AppCommands.h"
#include "AppTexts.h"
#include "InstanceChannel.h"
#include "MainWindow.h"
#include "Paths.h"
#include "SettingsWindow.h"
#include "Theme.h"
#include "Updater.h"

#include <QApplication>
#include <QFileOpenEvent>
#include <QLabel>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <malloc.h>

namespace tavrin::app {

TavrinApp::TavrinApp(QSettings& settings, const QString& instanceName, QObject* parent)
    : QObject(parent), m_settings(settings),
      m_model(
          std::make_unique<AppModel>(m_desktop, &settings, unsigned(QThread::idealThreadCount()))),
      m_window(std::make_unique<MainWindow>(*m_model, m_desktop)) {
    m_desktop.setWindow(m_window.get());
    AppCommands& commands = m_window->commands();
    connect(&commands, &AppCommands::settingsRequested, this, [this] { showSettings(); });
    connect(&commands, &AppCommands::aboutRequested, this, &TavrinApp::showAboutPanel);
    connect(&commands, &AppCommands::checkForUpdatesRequested, this,
            [] { Updater::shared().checkForUpdates(); });
    // Quitting goes through the window, which asks first while copies are being written.
    connect(&commands, &AppCommands::quitRequested, m_window.get(), &QWidget::close,
            Qt::QueuedConnection);
    // Closing the main window quits, even with the settings window still open.
    connect(m_window.get(), &MainWindow::closed, qApp, &QApplication::quit, Qt::QueuedConnection);
    qApp->installEventFilter(this);
    if (!instanceName.isEmpty())
        m_channel = new InstanceChannel(
            instanceName, [this](std::vector<std::filesystem::path> files) { openFiles(files); },
            this);
}

TavrinApp::~TavrinApp() {
    delete m_settingsWindow;
}

SettingsWindow& TavrinApp::showSettings() {
    if (!m_settingsWindow) {
        m_settingsWindow = new SettingsWindow(*m_model, &m_settings);
        m_settingsWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
    return *m_settingsWindow;
}

void TavrinApp::showAboutPanel() {
    m_window->raise();
    m_window->activateWindow();
    if (m_about) {
        m_about->raise();
        return;
    }
    m_about = new QMessageBox(m_window.get());
    m_about->setAttribute(Qt::WA_DeleteOnClose);
    m_about->setWindowTitle(QStringLiteral("About Tavrin"));
    m_about->setIconPixmap(Theme::appIcon().pixmap(64, 64));
    m_about->setTextFormat(Qt::PlainText);
    m_about->setText(QStringLiteral("Tavrin " TAVRIN_VERSION));
    m_about->setInformativeText(QStringList{
        QStringLiteral("Checks a folder of audio against a named loudness delivery spec (EBU R "
                       "128, Apple Podcasts, Spotify, YouTube, ATSC A/85): integrated loudness, "
                       "loudness range and true peak, pass or fail per file, CSV and PDF "
                       "reports, and gain-only fixes written as new files."),
        "Privacy: your audio never leaves " + AppTexts::thisComputer() + ". " +
            AppTexts::goesOnlineOnlyForUpdates() + " Nothing is collected.",
        AppTexts::measurementStatement()}
                                    .join("\n\n"));
    m_about->setStandardButtons(QMessageBox::Ok);
    styleAlert(*m_about);
    if (auto* credits = m_about->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        credits->setFont(Theme::callout());
    m_about->open();
}

bool TavrinApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FileOpen)
        return QObject::eventFilter(watched, event);
    if (m_opened.empty())
        QTimer::singleShot(0, this, [this] { openFiles(std::exchange(m_opened, {})); });
    m_opened.push_back(toPath(static_cast<QFileOpenEvent*>(event)->file()));
    return true;
}

void TavrinApp::openFiles(const std::vector<std::filesystem::path>& files) {
    if (!files.empty())
        m_model->addFiles(files);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void keepFreedMemoryForReuse() {
    // Up to 256 MB of freed memory stays with the process, and blocks below 32 MB come from its
    // heaps rather than their own mappings (a day-long file's history is larger, and still mapped).
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

} // namespace tavrin::app
