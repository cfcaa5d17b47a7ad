#pragma once

#include <QPersistentModelIndex>
#include <QToolButton>

class QTableView;

namespace tavrin::app {

/// The magnifier of the current row's fixed copy as a real button: it sits over the painted one,
/// so the keyboard reaches it (Tab from the table) and a screen reader names it. Hidden while the
/// current row has no fixed copy.
class RevealButton : public QToolButton {
    Q_OBJECT

public:
    /// Follows `table`'s current row in `column`, the column that paints the magnifier.
    RevealButton(QTableView& table, int column);

signals:
    /// The row (of the table's model) whose fixed copy is to be shown.
    void revealRequested(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    /// Puts the button over the current row's magnifier, or hides it.
    void place();

    QTableView& m_table;
    int m_column;
    QPersistentModelIndex m_index;
};

} // namespace tavrin::app
