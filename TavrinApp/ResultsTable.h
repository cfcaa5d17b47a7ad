#pragma once

#include "ResultsTableModel.h"
#include "ResultsView.h"

#include <QTableView>
#include <QTimer>

class QMenu;

namespace tavrin::app {

class CellDelegate;
class ColumnFitter;
class RevealButton;

/// The list of files and their readings: multi-selection bound to the model's `selection`, a
/// context menu, and a double-click (or Enter) that shows the row's file in the file browser.
/// Ctrl+C copies the selected rows as a spreadsheet pastes them; Tab leaves the table. A header
/// click sorts the view, and the view can be filtered; selected rows filtered away leave the
/// selection.
class ResultsTable : public QTableView {
    Q_OBJECT

public:
    explicit ResultsTable(AppModel& model, QWidget* parent = nullptr);

    ResultsTableModel& tableModel() { return m_table; }
    /// The rows as shown: sorted and filtered.
    ResultsView& view() { return m_view; }
    /// The rows a context menu or double-click at view row `row` acts on: the selection when it
    /// holds the row, otherwise the row alone; nothing when `row` is −1.
    QSet<QUuid> targetRows(int row) const;
    /// Keeps every column in view; holds the widths the user gave them.
    ColumnFitter& columnFitter() const { return *m_fitter; }
    /// The current row's fixed-copy magnifier as a button the keyboard reaches.
    RevealButton* revealButton() const { return m_reveal; }
    /// Puts the selected rows, in list order, on the clipboard as the CSV report has them, with
    /// tabs between the columns.
    void copySelectedRows() const;

signals:
    /// The context menu's "Play from" for row `id`, at `seconds`.
    void playRequested(const QUuid& id, double seconds);

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    /// Shrunk, as when the graph opens under it, the table keeps the current row in view.
    void resizeEvent(QResizeEvent* event) override;

private:
    void setUpColumns();
    /// "Play from" commands for the times the row's reading names: its peaks and findings.
    void addPlayCommands(QMenu& menu, const QUuid& id);
    int idealWidth(int column) const;
    void selectionFromView();
    void selectionFromModel();
    void showContextMenu(const QPoint& position);
    void animateWriting();
    void sortByHeader(int column);

    AppModel& m_model;
    ResultsTableModel m_table;
    ResultsView m_view;
    CellDelegate* m_delegate;
    ColumnFitter* m_fitter = nullptr;
    RevealButton* m_reveal;
    bool m_syncingSelection = false;
    QTimer m_writingAnimation;
};

} // namespace tavrin::app
