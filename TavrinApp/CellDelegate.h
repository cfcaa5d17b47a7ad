#pragma once

#include "ResultsTableModel.h"

#include <QStyledItemDelegate>

namespace tavrin::app {

/// Paints every cell of the results table from its `Cell`: a symbol or progress ring, the text,
/// an optional caption line and the fixed copy's reveal button. No widget per row.
class CellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    /// Space between a cell's edge and its content; the header's titles keep it too.
    static constexpr int padding = 8;
    static constexpr int leadSize = 16;
    static constexpr int spacing = 6;

    /// Where the parts of a cell go inside `rect`.
    struct Layout {
        QRect lead; ///< symbol or progress ring; empty when there is none
        QRect text;
        QRect caption;
        QRect button;
        QRect warning; ///< the mark of a reading with warnings; empty when there is none
    };
    /// What the cell at `index` of the table shows; empty for any other model.
    static ResultsTableModel::Cell cellAt(QModelIndex index);
    static Layout layout(const QRect& rect, const ResultsTableModel::Cell& cell, const QFont& font);
    /// The font a cell's main text is drawn in.
    static QFont font(const ResultsTableModel::Cell& cell, QFont base);
    /// Height of a row: the file cell's two lines and some air.
    static int rowHeight(const QFont& font);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

signals:
    /// The reveal button of the row's fixed copy was clicked.
    void revealClicked(int row);
};

} // namespace tavrin::app
