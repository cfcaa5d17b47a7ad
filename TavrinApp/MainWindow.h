#pragma once

#include "AppModel.h"
#include "SummaryTimer.h"

#include <QMainWindow>
#include <QPointer>

class QComboBox;
class QMessageBox;
class QStackedWidget;
class QToolButton;

namespace tavrin::app {

class AppCommands;
class DropZone;
class FilterBar;
class GraphPanel;
class NoticeBar;
class PresetFooter;
class ResultsTable;
class TargetsWindow;

/// Gives an alert the look of the platform's: a bold title over the message, a plain OK.
void styleAlert(QMessageBox& box);

/// The one main window: toolbar, notice bar, drop zone or results table, and the preset footer;
/// it takes file drops anywhere and shows the model's alerts.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(AppModel& model, QWidget* parent = nullptr);

    AppCommands& commands() const { return *m_commands; }
    ResultsTable* table() const { return m_table; }
    DropZone* dropZone() const { return m_dropZone; }
    NoticeBar* noticeBar() const { return m_notice; }
    FilterBar* filterBar() const { return m_filterBar; }
    GraphPanel* graphPanel() const { return m_graph; }
    PresetFooter* footer() const { return m_footer; }
    QComboBox* presetPicker() const { return m_preset; }
    /// Opens Manage Targets, or brings it forward.
    TargetsWindow& manageTargets();
    QToolButton* addButton() const { return m_add; }
    QToolButton* fixButton() const { return m_fix; }
    QToolButton* exportButton() const { return m_export; }
    /// The alert on screen, or null.
    QMessageBox* alertBox() const;
    /// Whether the accent border that shows a drag over a non-empty list is up.
    bool dropOverlayShown() const;
    /// While a fix runs, asks whether to stop it, and stops it when the user agrees. True when
    /// no fix runs any more, so what waited for the answer can go ahead.
    bool stopFixingFirst();
    /// With a session whose changes aren't saved, asks whether to save them: true when the list
    /// can go (nothing to save, or the user chose not to); false when the user cancelled, or chose
    /// to save, in which case `retry` is called once the session is saved.
    bool saveChangesFirst(const std::function<void()>& retry);
    /// Opens the session at `session` (empty: asks which), once a modified one is saved or given
    /// up.
    void openSession(const std::filesystem::path& session);

signals:
    /// The window was closed; the app quits.
    void closed();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar();
    void showPreset();
    /// The presets, the custom targets most recent first, the named targets, then "Custom…" and
    /// "Manage Targets…".
    void fillPresetBox();
    /// What the preset box's two last items hold instead of an id.
    static constexpr int customItem = 0;
    static constexpr int manageItem = 1;
    /// Asks for the PDF report's sign-off and graphs, then for where to save it.
    void exportPDF();
    /// Opens the sheet that asks for a target of one's own; OK makes it current.
    void chooseCustomTarget();
    void showList();
    void refreshButtons();
    void showAlert();
    void connectFilter();
    /// The title: the session, if any, with its unsaved changes marked, and the preset.
    void showTitle();

    AppModel& m_model;
    AppCommands* m_commands;
    NoticeBar* m_notice;
    QStackedWidget* m_body;
    DropZone* m_dropZone;
    ResultsTable* m_table;
    FilterBar* m_filterBar;
    GraphPanel* m_graph;
    QWidget* m_tableArea; ///< the table over the graph
    PresetFooter* m_footer;
    QWidget* m_overlay;
    QComboBox* m_preset = nullptr;
    QPointer<TargetsWindow> m_targets;
    QToolButton* m_add = nullptr;
    QToolButton* m_fix = nullptr;
    QToolButton* m_export = nullptr;
    QMessageBox* m_alert = nullptr;
    SummaryTimer m_buttonsPending;
};

} // namespace tavrin::app
