#include "RevealButton.h"

#include "AppTexts.h"
#include "CellDelegate.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>

namespace tavrin::app {

RevealButton::RevealButton(QTableView& table, int column)
    : QToolButton(table.viewport()), m_table(table), m_column(column) {
    setAutoRaise(true);
    setIconSize({CellDelegate::leadSize, CellDelegate::leadSize});
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName("Show the fixed copy in " + AppTexts::fileManager());
    hide();
    connect(this, &QToolButton::clicked, this, [this] {
        if (m_index.isValid())
            emit revealRequested(m_index.row());
    });
    // Anything that moves or changes the current row's cell places the button again, once.
    auto* pending = new QTimer(this);
    pending->setSingleShot(true);
    connect(pending, &QTimer::timeout, this, &RevealButton::place);
    const auto later = [pending] { pending->start(0); };
    QAbstractItemModel* model = table.model();
    connect(table.selectionModel(), &QItemSelectionModel::currentChanged, this, later);
    connect(table.selectionModel(), &QItemSelectionModel::selectionChanged, this, later);
    connect(model, &QAbstractItemModel::dataChanged, this, later);
    connect(model, &QAbstractItemModel::layoutChanged, this, later);
    connect(model, &QAbstractItemModel::modelReset, this, later);
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::rowsRemoved, this, later);
    connect(table.horizontalHeader(), &QHeaderView::sectionResized, this, later);
    connect(table.verticalScrollBar(), &QScrollBar::valueChanged, this, later);
    table.viewport()->installEventFilter(this);
}

void RevealButton::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        place();
}

bool RevealButton::eventFilter(QObject* watched, QEvent* event) {
    // The viewport is this button's parent; the table may be part way through its destruction.
    if (event->type() == QEvent::Resize && watched == parent())
        place();
    return false;
}

void RevealButton::place() {
    m_index = m_table.currentIndex().siblingAtColumn(m_column);
    const ResultsTableModel::Cell cell = CellDelegate::cellAt(m_index);
    const QRect box =
        m_index.isValid() && cell.revealButton
            ? CellDelegate::layout(m_table.visualRect(m_index), cell, m_table.font()).button
            : QRect();
    if (box.isEmpty() || !m_table.viewport()->rect().intersects(box)) {
        // Hiding the focused button would leave the keyboard nowhere: it goes back to the table.
        if (hasFocus())
            m_table.setFocus();
        hide();
        return;
    }
    // The same symbol in the same ink as the one painted beneath it.
    const bool selected = m_table.selectionModel()->isSelected(m_index);
    const QColor ink = selected ? m_table.palette().color(QPalette::HighlightedText)
                                : Theme::colour(Tone::secondary, m_table.palette());
    setIcon(Theme::symbolIcon(Symbol::magnifyingGlass, ink, CellDelegate::leadSize));
    setToolTip(cell.revealToolTip);
    setGeometry(box.adjusted(-3, -3, 3, 3));
    show();
}

} // namespace tavrin::app
