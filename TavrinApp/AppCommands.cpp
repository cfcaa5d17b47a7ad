#include "AppCommands.h"

#include "AppTexts.h"
#include "CustomTargetSheet.h"
#include "Paths.h"
#include "Updater.h"

#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

namespace tavrin::app {

bool canExport(const AppModel& model) {
    return !model.items().empty() && !model.isBusy();
}

bool canFix(const AppModel& model) {
    return model.canFix();
}

AppCommands::AppCommands(AppModel& model, QMenuBar* menuBar) : QObject(menuBar), m_model(model) {
    buildFileMenu(menuBar);
    buildPresetMenu(menuBar);
    buildViewMenu(menuBar);
    buildHelpMenu(menuBar);

    connect(&m_refreshPending, &QTimer::timeout, this, &AppCommands::refresh);
    connect(&model, &AppModel::itemChanged, this, [this] { m_refreshPending.request(); });
    for (auto changed :
         {&AppModel::itemsInserted, &AppModel::itemsRemoved, &AppModel::selectionChanged,
          &AppModel::fixingChanged, &AppModel::specIDChanged, &AppModel::addingChanged,
          &AppModel::damagePolicyChanged})
        connect(&model, changed, this, &AppCommands::refresh);
    connect(&model, &AppModel::customSpecsChanged, this, &AppCommands::showCustomTargets);
    connect(&model, &AppModel::sessionChanged, this, &AppCommands::showRecentSessions);
    showRecentSessions();
    refresh();
}

QUrl AppCommands::helpUrl() {
    return QUrl(QStringLiteral(TAVRIN_HELP_URL));
}

void AppCommands::buildFileMenu(QMenuBar* menuBar) {
    QMenu* menu = menuBar->addMenu(QStringLiteral("&File"));
    const auto add = [&](const QString& title, const QKeySequence& shortcut, auto action) {
        QAction* item = menu->addAction(title, this, action);
        item->setShortcut(shortcut);
        return item;
    };
    AppModel& model = m_model;
    addFiles = add("Add Files or Folders…", QKeySequence(Qt::CTRL | Qt::Key_O),
                   [&model] { model.chooseFiles(); });
    menu->addSeparator();
    openSession = add("Open Session…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                      [this] { emit openSessionRequested({}); });
    openRecent = menu->addMenu(QStringLiteral("Open Recent"));
    saveSession = add("Save Session", QKeySequence::Save, [&model] { model.saveSession(); });
    saveSessionAs = add("Save Session As…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                        [&model] { model.saveSessionAs(); });
    menu->addSeparator();
    exportCSV =
        add("Export CSV…", QKeySequence(Qt::CTRL | Qt::Key_E), [&model] { model.exportCSV(); });
    exportPDF = add("Export PDF Report…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
                    [this] { emit exportPDFRequested(); });
    menu->addSeparator();
    fix = add({}, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), [&model] { model.fixFiles(); });
    fixWithLimiter =
        add("Fix with Limiter", QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F),
            [&model] { model.fixWithLimiter(); });
    fixAnyway = add(AppTexts::fixAnyway(), {}, [&model] { model.fixAnyway(); });
    stopFixing = add("Stop Fixing", QKeySequence(Qt::Key_Escape), [&model] { model.stopFixing(); });
    reveal = add(AppTexts::showInFileManager(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
                 [&model] { model.revealInFinder(model.selection()); });
    menu->addSeparator();
    remove = add("Remove from List", QKeySequence(Qt::CTRL | Qt::Key_Backspace),
                 [&model] { model.removeItems(model.selection()); });
    remove->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Backspace), QKeySequence::Delete});
    clearList = add("Clear List", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backspace),
                    [this] { emit clearListRequested(); });
    measureAgain = add("Measure Again", {}, [&model] { model.measureAgain(); });
    menu->addSeparator();
    settings = add("Settings…", QKeySequence(Qt::CTRL | Qt::Key_Comma),
                   [this] { emit settingsRequested(); });
    settings->setMenuRole(QAction::PreferencesRole);
    quit = add("Quit", QKeySequence::Quit, [this] { emit quitRequested(); });
    quit->setMenuRole(QAction::QuitRole);
}

void AppCommands::showRecentSessions() {
    openRecent->clear();
    for (const auto& session : m_model.recentSessions())
        openRecent
            ->addAction(toQString(session.filename()), this,
                        [this, session] { emit openSessionRequested(session); })
            ->setToolTip(toQString(session));
    openRecent->setEnabled(!openRecent->isEmpty());
}

void AppCommands::buildPresetMenu(QMenuBar* menuBar) {
    QMenu* menu = menuBar->addMenu(QStringLiteral("&Preset"));
    m_presetMenu = menu;
    // Exclusive: choosing the checked item keeps it checked.
    m_presetGroup = new QActionGroup(this);
    const auto& specs = DeliverySpec::all();
    for (std::size_t position = 0; position < specs.size(); ++position) {
        const std::string id = specs[position].id;
        QAction* item = menu->addAction(QString::fromStdString(specs[position].name), this,
                                        [this, id] { m_model.setSpecID(id); });
        item->setCheckable(true);
        item->setData(QString::fromStdString(id));
        // Ctrl+1…5 stay on the first five, whatever follows them.
        if (position < 5)
            item->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + int(position))));
        m_presetGroup->addAction(item);
        presets.push_back(item);
    }
    // The menu folds the two separators into one while no custom target is listed.
    menu->addSeparator();
    m_customTargetsEnd = menu->addSeparator();
    customTarget =
        menu->addAction(QStringLiteral("Custom…"), this, [this] { emit customTargetRequested(); });
    manageTargets = menu->addAction(QStringLiteral("Manage Targets…"), this,
                                    [this] { emit manageTargetsRequested(); });
    showCustomTargets();
}

void AppCommands::showCustomTargets() {
    // Later, not now: the item chosen may be the one whose signal got here.
    for (QAction* item : customTargets) {
        m_presetMenu->removeAction(item);
        m_presetGroup->removeAction(item);
        item->deleteLater();
    }
    customTargets.clear();
    std::vector<std::pair<QString, std::string>> targets;
    for (const DeliverySpec& spec : m_model.customSpecs())
        targets.emplace_back(customTargetOption(spec), spec.id);
    for (const DeliverySpec& spec : m_model.namedTargets())
        targets.emplace_back(qs(spec.name).replace(QLatin1Char('&'), QStringLiteral("&&")),
                             spec.id);
    for (const auto& [title, id] : targets) {
        auto* item = new QAction(title, m_presetMenu);
        item->setCheckable(true);
        item->setData(QString::fromStdString(id));
        connect(item, &QAction::triggered, this, [this, id] { m_model.setSpecID(id); });
        m_presetMenu->insertAction(m_customTargetsEnd, item);
        m_presetGroup->addAction(item);
        customTargets.push_back(item);
    }
    refresh();
}

void AppCommands::buildViewMenu(QMenuBar* menuBar) {
    QMenu* appearance = menuBar->addMenu(QStringLiteral("&View"))->addMenu(AppTexts::appearance());
    auto* group = new QActionGroup(this);
    const std::pair<Theme::Appearance, QString> choices[] = {
        {Theme::Appearance::system, AppTexts::systemAppearance()},
        {Theme::Appearance::light, AppTexts::lightAppearance()},
        {Theme::Appearance::dark, AppTexts::darkAppearance()}};
    for (const auto& [look, title] : choices) {
        QAction* item =
            appearance->addAction(title, this, [this, look] { m_model.setAppearance(look); });
        item->setCheckable(true);
        item->setChecked(m_model.appearance() == look);
        group->addAction(item);
        appearances.push_back(item);
    }
}

void AppCommands::buildHelpMenu(QMenuBar* menuBar) {
    QMenu* menu = menuBar->addMenu(QStringLiteral("&Help"));
    help = menu->addAction(QStringLiteral("Tavrin Help"), this,
                           [this] { m_model.openLink(helpUrl()); });
    menu->addSeparator();
    if (!Updater::configuredFeed().isEmpty()) {
        checkForUpdates = menu->addAction(QStringLiteral("Check for Updates…"), this,
                                          [this] { emit checkForUpdatesRequested(); });
        checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    }
    about =
        menu->addAction(QStringLiteral("About Tavrin"), this, [this] { emit aboutRequested(); });
    about->setMenuRole(QAction::AboutRole);
}

void AppCommands::refresh() {
    m_refreshPending.stop();
    const bool empty = m_model.items().empty();
    const bool nothingSelected = m_model.selection().isEmpty();
    exportCSV->setEnabled(canExport(m_model));
    exportPDF->setEnabled(canExport(m_model));
    fix->setText(nothingSelected ? "Fix All Failing Files…" : "Fix Selected Files…");
    fix->setEnabled(canFix(m_model));
    fixWithLimiter->setEnabled(m_model.canFixWithLimiter());
    fixAnyway->setEnabled(m_model.canFixAnyway());
    stopFixing->setEnabled(m_model.fixing());
    reveal->setEnabled(!nothingSelected);
    remove->setEnabled(!nothingSelected);
    clearList->setEnabled(!empty || m_model.adding()); // also stops a long search
    measureAgain->setEnabled(!empty && !m_model.fixing());
    const QString current = QString::fromStdString(m_model.currentSpec().id);
    for (QAction* item : m_presetGroup->actions())
        item->setChecked(item->data().toString() == current);
}

} // namespace tavrin::app
