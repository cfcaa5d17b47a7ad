#include "TavrinApp.h"

#include "AppCommands.h"
#include "AppTexts.h"
#include "InstanceChannel.h"
#include "MainWindow.h"
#include "Paths.h"
#include "SettingsWindow.h"
#include "Theme.h"
#include "Updater.h"
#include "WindowPlace.h"

#include <QApplication>
#include <QDir>
#include <QFileOpenEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <malloc.h>

namespace tavrin::app {

TavrinApp::TavrinApp(QSettings& settings, const QString& instanceName, QObject* parent)
    : QObject(parent), m_settings(settings),
      m_model(
          std::make_unique<AppModel>(m_desktop, &settings, unsigned(QThread::idealThreadCount()))),
      m_window(std::make_unique<MainWindow>(*m_model)) {
    m_desktop.setWindow(m_window.get());
    WindowPlace::restore(*m_window, settings);
    AppCommands& commands = m_window->commands();
    connect(&commands, &AppCommands::settingsRequested, this, [this] { showSettings(); });
    connect(&commands, &AppCommands::aboutRequested, this, &TavrinApp::showAboutPanel);
    m_updater = new Updater({.feed = Updater::configuredFeed(),
                             .appName = QStringLiteral("Tavrin"),
                             .version = QStringLiteral(TAVRIN_VERSION),
                             .settings = &settings,
                             .show = [this](const UpdateAlert& alert) { showUpdateAlert(alert); }},
                            this);
    connect(&commands, &AppCommands::checkForUpdatesRequested, m_updater,
            &Updater::checkForUpdates);
    // Quitting goes through the window, which asks first while copies are being written.
    connect(&commands, &AppCommands::quitRequested, m_window.get(), &QWidget::close,
            Qt::QueuedConnection);
    // Closing the main window quits, even with the settings window still open.
    connect(m_window.get(), &MainWindow::closed, qApp, &QApplication::quit, Qt::QueuedConnection);
    Theme::apply(m_model->appearance());
    connect(m_model.get(), &AppModel::appearanceChanged, this,
            [this] { Theme::apply(m_model->appearance()); });
    // Copies deleted or changed in another program while Tavrin was behind it show as such.
    connect(qApp, &QGuiApplication::applicationStateChanged, m_model.get(),
            [model = m_model.get()](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    model->checkCopies();
            });
    qApp->installEventFilter(this);
    if (!instanceName.isEmpty())
        m_channel = new InstanceChannel(
            instanceName, [this](std::vector<std::filesystem::path> files) { openFiles(files); },
            this);
}

TavrinApp::~TavrinApp() {
    WindowPlace::store(*m_window, m_settings);
    if (m_settingsWindow)
        m_settingsWindow->close(); // keeps its place too
    delete m_settingsWindow;
}

SettingsWindow& TavrinApp::showSettings() {
    if (!m_settingsWindow) {
        // Owned by the main window: it stays over it, and its panels block only itself.
        m_settingsWindow = new SettingsWindow(*m_model, &m_settings, m_window.get());
        m_settingsWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
    return *m_settingsWindow;
}

void TavrinApp::showAboutPanel() {
    bringForward();
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
            AppTexts::onlineUse() + " Nothing is collected.",
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
    // A session named alone is opened; among audio files it would only be skipped as not audio.
    if (files.size() == 1 && files.front().extension() == Session::extension)
        m_window->openSession(files.front());
    else if (!files.empty())
        m_model->addFiles(files);
    bringForward();
}

std::vector<std::filesystem::path>
TavrinApp::filesFromArguments([[maybe_unused]] int argc, [[maybe_unused]] const char* const* argv) {
    std::vector<std::filesystem::path> files;
#ifdef Q_OS_WIN
    // There `argv` is in the ANSI code page; Qt has the arguments as the system gave them.
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        files.push_back(toPath(QDir::current().absoluteFilePath(argument)));
#else
    // Absolute here: the running copy may have been started somewhere else.
    for (int index = 1; index < argc; ++index) {
        std::error_code noWorkingFolder;
        const auto file = std::filesystem::absolute(argv[index], noWorkingFolder);
        files.push_back(noWorkingFolder ? std::filesystem::path(argv[index]) : file);
    }
#endif
    return files;
}

void TavrinApp::bringForward() {
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TavrinApp::showUpdateAlert(const UpdateAlert& alert) {
    // An automatic check answers while the user may be in another app: the news comes forward,
    // and replaces yesterday's if that is still up.
    bringForward();
    if (m_updateAlert)
        m_updateAlert->close();
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Tavrin"), alert.title,
                                QMessageBox::Ok, m_window.get());
    m_updateAlert = box;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(alert.message);
    if (alert.download) {
        QPushButton* download =
            box->addButton(QStringLiteral("Download…"), QMessageBox::AcceptRole);
        connect(download, &QPushButton::clicked, this,
                [this, url = *alert.download] { m_model->openLink(url); });
    }
    styleAlert(*box);
    box->open();
}

void keepFreedMemoryForReuse() {
    // Up to 256 MB of freed memory stays with the process, and blocks below 32 MB come from its
    // heaps rather than their own mappings (a day-long file's history is larger, and still mapped).
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

} // namespace tavrin::app
