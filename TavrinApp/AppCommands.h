#pragma once

#include "AppModel.h"
#include "SummaryTimer.h"

#include <QObject>
#include <filesystem>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;

namespace tavrin::app {

/// Whether the list can be exported now: it has files and none is waiting or being measured.
bool canExport(const AppModel& model);
/// Whether a fix can start now: none is running and some row it would take fails or is still to
/// be measured.
bool canFix(const AppModel& model);

/// Every command of the menu bar, with its shortcut, and its title and enablement kept in step
/// with the model. Commands that open windows are signals; the rest call the model.
class AppCommands : public QObject {
    Q_OBJECT

public:
    AppCommands(AppModel& model, QMenuBar* menuBar);

    QAction* addFiles;
    QAction* openSession;
    QMenu* openRecent; ///< the sessions opened or saved last
    QAction* saveSession;
    QAction* saveSessionAs;
    QAction* exportCSV;
    QAction* exportPDF;
    QAction* fix;
    QAction* fixWithLimiter;
    QAction* fixAnyway; ///< copies of selected damaged files a fix leaves alone
    QAction* stopFixing;
    QAction* reveal;
    QAction* remove;
    QAction* clearList;
    QAction* measureAgain;
    QAction* settings;
    QAction* quit;
    std::vector<QAction*> presets; ///< in menu order, one checked
    /// The model's custom targets, most recent first, then its named targets.
    std::vector<QAction*> customTargets;
    QAction* customTarget;             ///< "Custom…": asks for a target of one's own
    QAction* manageTargets;            ///< "Manage Targets…": the named targets' window
    std::vector<QAction*> appearances; ///< View › Appearance: System, Light, Dark
    QAction* help;
    QAction* checkForUpdates = nullptr; ///< null: this build has no update feed
    QAction* about;

    /// The product's web page that "Tavrin Help" opens.
    static QUrl helpUrl();

signals:
    void settingsRequested();
    void customTargetRequested();
    void manageTargetsRequested();
    void quitRequested();
    /// Clear List was chosen; the window asks first when a fix is running.
    void clearListRequested();
    /// Export PDF Report was chosen; the window asks for its options first.
    void exportPDFRequested();
    /// Open Session or an entry of Open Recent was chosen (`session` empty: ask which); the window
    /// asks first to save a modified one.
    void openSessionRequested(const std::filesystem::path& session);
    void checkForUpdatesRequested();
    void aboutRequested();

private:
    void buildFileMenu(QMenuBar* menuBar);
    void buildPresetMenu(QMenuBar* menuBar);
    void buildViewMenu(QMenuBar* menuBar);
    void buildHelpMenu(QMenuBar* menuBar);
    /// Lists the model's custom targets between the presets and "Custom…".
    void showCustomTargets();
    void showRecentSessions();
    void refresh();

    AppModel& m_model;
    QMenu* m_presetMenu = nullptr;
    QActionGroup* m_presetGroup = nullptr;
    QAction* m_customTargetsEnd = nullptr;
    SummaryTimer m_refreshPending;
};

} // namespace tavrin::app
