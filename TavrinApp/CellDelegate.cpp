#include "CellDelegate.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QApplication>
#include <QDateTime>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace tavrin::app {

namespace {

void paintRing(QPainter& painter, QRectF box, double progress, const QColor& track,
               const QColor& ink) {
    box.adjust(1.5, 1.5, -1.5, -1.5);
    painter.setPen(QPen(track, 2.5));
    painter.drawEllipse(box);
    painter.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
    if (progress < 0) {
        // Indeterminate: a quarter arc going round once a second.
        const int start = int(QDateTime::currentMSecsSinceEpoch() % 1000 * -360 / 1000);
        painter.drawArc(box, (90 + start) * 16, -100 * 16);
    } else if (progress > 0) {
        painter.drawArc(box, 90 * 16, -int(std::min(progress, 1.0) * 360 * 16));
    }
}

} // namespace

ResultsTableModel::Cell CellDelegate::cellAt(QModelIndex index) {
    // The table shows the rows through a sorting, filtering view.
    if (const auto* view = qobject_cast<const QAbstractProxyModel*>(index.model()))
        index = view->mapToSource(index);
    const auto* model = qobject_cast<const ResultsTableModel*>(index.model());
    return model ? model->cell(index) : ResultsTableModel::Cell{};
}

QFont CellDelegate::font(const ResultsTableModel::Cell& cell, QFont base) {
    if (cell.semibold)
        base = Theme::semibold(base);
    return cell.monospacedDigits ? Theme::monospacedDigits(base) : base;
}

int CellDelegate::rowHeight(const QFont& font) {
    return QFontMetrics(font).height() + 1 + QFontMetrics(Theme::caption()).height() + 12;
}

CellDelegate::Layout CellDelegate::layout(const QRect& rect, const ResultsTableModel::Cell& cell,
                                          const QFont& base) {
    Layout parts;
    QRect content = rect.adjusted(padding, 0, -padding, 0);
    const int middle = content.center().y();
    if (cell.symbol || cell.progress) {
        parts.lead = QRect(content.left(), middle - leadSize / 2, leadSize, leadSize);
        content.setLeft(parts.lead.right() + 1 + spacing);
    }
    const QFontMetrics metrics(font(cell, base));
    const int buttonSpace =
        (cell.revealButton ? spacing + leadSize : 0) + (cell.warningMark ? spacing + leadSize : 0);
    const int width = std::min(metrics.horizontalAdvance(cell.text) + 1,
                               std::max(0, content.width() - buttonSpace));
    int top = middle - metrics.height() / 2;
    if (!cell.caption.isEmpty()) {
        const int captionHeight = QFontMetrics(Theme::caption()).height();
        top = middle - (metrics.height() + 1 + captionHeight) / 2;
        parts.caption =
            QRect(content.left(), top + metrics.height() + 1, content.width(), captionHeight);
    }
    const int left = cell.alignment & Qt::AlignRight ? content.right() + 1 - width : content.left();
    parts.text = QRect(left, top, width, metrics.height());
    int right = parts.text.right();
    // On the text's line, so a caption below runs on under them.
    const auto trailing = [&] {
        const QRect box(right + 1 + spacing, parts.text.center().y() - leadSize / 2 + 1, leadSize,
                        leadSize);
        right = box.right();
        return box;
    };
    if (cell.warningMark)
        parts.warning = trailing();
    if (cell.revealButton)
        parts.button = trailing();
    return parts;
}

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    const ResultsTableModel::Cell cell = cellAt(index);
    const Layout parts = layout(option.rect, cell, option.font);
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const auto ink = [&](Tone tone) {
        return selected ? palette.color(QPalette::HighlightedText) : Theme::colour(tone, palette);
    };

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const qreal ratio = painter->device()->devicePixelRatioF();
    if (cell.progress) {
        QColor track = ink(Tone::secondary);
        track.setAlphaF(0.3f);
        paintRing(*painter, parts.lead, *cell.progress, track,
                  selected ? ink(Tone::primary) : Theme::colour(Tone::accent, palette));
    } else if (cell.symbol) {
        painter->drawPixmap(parts.lead.topLeft(),
                            Theme::symbol(*cell.symbol, ink(cell.symbolTone), leadSize, ratio));
    }

    const QFont textFont = font(cell, option.font);
    painter->setFont(textFont);
    painter->setPen(ink(cell.tone));
    const Qt::TextElideMode elide =
        index.column() == ResultsTableModel::file ? Qt::ElideMiddle : Qt::ElideRight;
    painter->drawText(parts.text, int(Qt::AlignLeft | Qt::AlignVCenter),
                      QFontMetrics(textFont).elidedText(cell.text, elide, parts.text.width()));
    if (!cell.caption.isEmpty()) {
        const QFont captionFont = Theme::caption();
        painter->setFont(captionFont);
        painter->setPen(ink(Tone::secondary));
        painter->drawText(parts.caption, int(Qt::AlignLeft | Qt::AlignVCenter),
                          QFontMetrics(captionFont)
                              .elidedText(cell.caption, Qt::ElideRight, parts.caption.width()));
    }
    if (cell.warningMark)
        painter->drawPixmap(parts.warning.topLeft(),
                            Theme::symbol(Symbol::exclamationmarkTriangleFill, ink(Tone::caution),
                                          leadSize, ratio));
    if (cell.revealButton)
        painter->drawPixmap(
            parts.button.topLeft(),
            Theme::symbol(Symbol::magnifyingGlass, ink(Tone::secondary), leadSize, ratio));
    painter->restore();
}

QSize CellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const ResultsTableModel::Cell cell = cellAt(index);
    const Layout parts = layout(QRect(0, 0, 10000, 0), cell, option.font);
    const int right = std::max(
        {parts.text.right(), parts.button.right(), parts.warning.right(), parts.lead.right()});
    return {right + 1 + padding, rowHeight(option.font)};
}

bool CellDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                               const QStyleOptionViewItem& option, const QModelIndex& index) {
    const auto type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
        type == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const ResultsTableModel::Cell cell = cellAt(index);
        if (cell.revealButton && mouse->button() == Qt::LeftButton &&
            layout(option.rect, cell, option.font).button.contains(mouse->position().toPoint())) {
            if (type == QEvent::MouseButtonRelease)
                emit revealClicked(index.row());
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool CellDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                             const QStyleOptionViewItem& option, const QModelIndex& index) {
    const ResultsTableModel::Cell cell = cellAt(index);
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const Layout parts = layout(option.rect, cell, option.font);
    // The reveal button and the caption line can say something of their own.
    const QString own = cell.revealButton && parts.button.contains(event->pos())
                            ? cell.revealToolTip
                        : parts.caption.contains(event->pos()) ? cell.captionToolTip
                                                               : QString();
    if (own.isEmpty())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), own, view);
    return true;
}

} // namespace tavrin::app
