#include "ResultsTable.h"

#include "AppTexts.h"
#include "CellDelegate.h"
#include "ColumnFitter.h"
#include "Paths.h"
#include "Player.h"
#include "RevealButton.h"
#include "tavrin/reports/Report.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QResizeEvent>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>
#include <array>

namespace tavrin::app {

namespace {

struct ColumnWidth {
    int minimum, ideal, maximum;
};

constexpr int none = 1 << 20;
constexpr std::array<ColumnWidth, ResultsTableModel::columns> columnWidths{{
    {90, 110, 150},   // Result
    {160, 280, none}, // File
    {80, 92, none},   // Integrated
    {70, 82, none},   // Difference
    {76, 88, none},   // True peak
    {58, 66, none},   // Range
    {80, 96, none},   // Max short-term
    {76, 88, none},   // Sample peak
    {150, 240, none}, // Fix
}};

constexpr int arrowWidth = 7;
constexpr int arrowGap = 4;

/// Where a sorted column's arrow goes: beside the title, on the side away from the column's
/// edge, so even a narrow column keeps its whole title.
QRectF sortArrowBox(const QStyleOptionHeader& header, const QRect& label) {
    const QRect& section = header.rect;
    const int title = header.fontMetrics.horizontalAdvance(header.text);
    const int x =
        header.textAlignment & Qt::AlignRight
            ? std::max(section.left() + 2, label.right() + 1 - title - arrowGap - arrowWidth)
            : std::min(section.right() - arrowWidth - 1, label.left() + title + arrowGap);
    return {double(x), section.center().y() - arrowWidth / 2.0 + 1, arrowWidth, arrowWidth - 2};
}

/// A small triangle in the secondary colour, pointing up or down.
void paintSortArrow(QPainter& painter, const QRectF& box, bool up, const QPalette& palette) {
    const double tip = up ? box.top() : box.bottom(), base = up ? box.bottom() : box.top();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::colour(Tone::secondary, palette));
    painter.drawPolygon(
        QPolygonF{{box.left(), base}, {box.right(), base}, {box.center().x(), tip}});
    painter.restore();
}

/// Header titles inset like the cells below them, so both line up; a sorted column keeps its
/// whole title, with a small arrow beside it.
class HeaderStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_HeaderMargin)
            return CellDelegate::padding;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    /// A narrowed column's title ends in "…" rather than being cut off.
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* label = qstyleoption_cast<const QStyleOptionHeader*>(option);
        if (element == CE_Header && label && label->sortIndicator != QStyleOptionHeader::None)
            return drawSortedHeader(*label, painter, widget);
        if (element != CE_HeaderLabel || !label)
            return QProxyStyle::drawControl(element, option, painter, widget);
        QStyleOptionHeader elided = *label;
        elided.text =
            label->fontMetrics.elidedText(label->text, Qt::ElideRight, label->rect.width());
        QProxyStyle::drawControl(element, &elided, painter, widget);
    }
    /// A sorted column's header with a small arrow beside its whole title.
    void drawSortedHeader(const QStyleOptionHeader& header, QPainter* painter,
                          const QWidget* widget) const {
        QStyleOptionHeader unsorted = header;
        unsorted.sortIndicator = QStyleOptionHeader::None;
        // Saved, as the header's drawing leaves a clip behind that would hide the arrow.
        painter->save();
        QProxyStyle::drawControl(CE_Header, &unsorted, painter, widget);
        painter->restore();
        const QRect label = QProxyStyle::subElementRect(SE_HeaderLabel, &unsorted, widget);
        // The header calls an ascending sort "SortDown"; the arrow points up, smallest on top.
        paintSortArrow(*painter, sortArrowBox(header, label),
                       header.sortIndicator == QStyleOptionHeader::SortDown, header.palette);
    }
};

} // namespace

ResultsTable::ResultsTable(AppModel& model, QWidget* parent)
    : QTableView(parent), m_model(model), m_table(model), m_view(m_table, model),
      m_delegate(new CellDelegate(this)) {
    setModel(&m_view);
    setTabKeyNavigation(false);
    setItemDelegate(m_delegate);
    setAccessibleName(QStringLiteral("Results"));
    setSelectionBehavior(SelectRows);
    setSelectionMode(ExtendedSelection);
    setSortingEnabled(false);
    setShowGrid(false);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setEditTriggers(NoEditTriggers);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);
    setContextMenuPolicy(Qt::CustomContextMenu);
    verticalHeader()->hide();
    // Every row is the same height, so the view never asks the delegate for one per row.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(CellDelegate::rowHeight(font()));
    setUpColumns();

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ResultsTable::selectionFromView);
    connect(&m_model, &AppModel::selectionChanged, this, &ResultsTable::selectionFromModel);
    connect(this, &QWidget::customContextMenuRequested, this, &ResultsTable::showContextMenu);
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { m_model.revealInFinder(targetRows(index.row())); });
    const auto revealCopy = [this](int row) { m_model.revealInFinder({m_view.idAt(row)}); };
    connect(m_delegate, &CellDelegate::revealClicked, this, revealCopy);
    m_reveal = new RevealButton(*this, ResultsTableModel::fix);
    connect(m_reveal, &RevealButton::revealRequested, this, revealCopy);
    setTabOrder(this, m_reveal);

    m_writingAnimation.setInterval(50);
    connect(&m_writingAnimation, &QTimer::timeout, this, &ResultsTable::animateWriting);
    connect(&m_model, &AppModel::fixingChanged, this, [this] {
        if (m_model.fixing())
            m_writingAnimation.start();
        else
            m_writingAnimation.stop();
    });
}

void ResultsTable::setUpColumns() {
    QHeaderView* header = horizontalHeader();
    header->setHighlightSections(false);
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sectionClicked, this, &ResultsTable::sortByHeader);
    header->setMinimumSectionSize(columnWidths[0].minimum / 2);
    header->setStretchLastSection(true);
    auto* style = new HeaderStyle(QStyleFactory::create(QApplication::style()->name()));
    style->setParent(header);
    header->setStyle(style);
    std::vector<ColumnFitter::Limits> limits;
    QList<int> ideal;
    for (int column = 0; column < ResultsTableModel::columns; ++column) {
        limits.push_back({columnWidths.at(std::size_t(column)).minimum,
                          columnWidths.at(std::size_t(column)).maximum});
        ideal << idealWidth(column);
    }
    m_fitter = new ColumnFitter(*this, std::move(limits), ideal);
}

int ResultsTable::idealWidth(int column) const {
    const ColumnWidth& limits = columnWidths.at(std::size_t(column));
    // Wide enough for the title, and for the longest status word with its symbol.
    const QString title = m_table.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    int content = horizontalHeader()->fontMetrics().horizontalAdvance(title);
    if (column == ResultsTableModel::result)
        content = QFontMetrics(Theme::semibold(font())).horizontalAdvance("No reading") +
                  CellDelegate::leadSize + CellDelegate::spacing;
    return std::clamp(content + 2 * CellDelegate::padding + 2, limits.ideal, limits.maximum);
}

QSet<QUuid> ResultsTable::targetRows(int row) const {
    if (row < 0)
        return {};
    const QUuid id = m_view.idAt(row);
    return m_model.selection().contains(id) ? m_model.selection() : QSet<QUuid>{id};
}

void ResultsTable::selectionFromView() {
    if (m_syncingSelection)
        return;
    QSet<QUuid> ids;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        ids.insert(m_view.idAt(index.row()));
    m_syncingSelection = true;
    m_model.setSelection(ids);
    m_syncingSelection = false;
}

void ResultsTable::selectionFromModel() {
    if (m_syncingSelection)
        return;
    std::vector<int> rows;
    for (const QUuid& id : m_model.selection())
        if (const int row = m_view.rowOf(id); row >= 0)
            rows.push_back(row);
    std::ranges::sort(rows);
    // Contiguous runs become one range each, so selecting thousands of rows stays cheap.
    QItemSelection selection;
    for (std::size_t first = 0; first < rows.size();) {
        std::size_t last = first;
        while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1)
            ++last;
        selection.select(m_view.index(rows[first], 0),
                         m_view.index(rows[last], ResultsTableModel::columns - 1));
        first = last + 1;
    }
    m_syncingSelection = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

void ResultsTable::showContextMenu(const QPoint& position) {
    const QSet<QUuid> ids = targetRows(indexAt(position).row());
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* fix =
        menu->addAction(ids.size() < 2 ? "Fix This File" : "Fix These Files", this, [this, ids] {
            m_model.setSelection(ids);
            m_model.fixFiles();
        });
    QAction* limit = menu->addAction(QStringLiteral("Fix with Limiter"), this, [this, ids] {
        m_model.setSelection(ids);
        m_model.fixWithLimiter();
    });
    QAction* anyway = menu->addAction(AppTexts::fixAnyway(), this, [this, ids] {
        m_model.setSelection(ids);
        m_model.fixAnyway();
    });
    QAction* reveal = menu->addAction(AppTexts::showInFileManager(), this,
                                      [this, ids] { m_model.revealInFinder(ids); });
    menu->addSeparator();
    if (ids.size() == 1)
        addPlayCommands(*menu, *ids.begin());
    QAction* remove = menu->addAction(QStringLiteral("Remove from List"), this,
                                      [this, ids] { m_model.removeItems(ids); });
    for (QAction* action : {fix, limit, reveal, remove})
        action->setEnabled(!ids.isEmpty());
    anyway->setEnabled(m_model.canFixAnyway(ids));
    menu->popup(viewport()->mapToGlobal(position));
}

void ResultsTable::addPlayCommands(QMenu& menu, const QUuid& id) {
    const int row = m_model.indexOf(id);
    const FileItem* item = row < 0 ? nullptr : &m_model.items()[std::size_t(row)];
    if (!item || !item->result() || !Player::outputAvailable())
        return;
    const LoudnessResult& result = *item->result();
    std::vector<std::pair<double, QString>> events;
    if (result.truePeakAt)
        events.emplace_back(*result.truePeakAt, QStringLiteral("true peak"));
    if (result.maxShortTermAt)
        events.emplace_back(*result.maxShortTermAt, QStringLiteral("max short-term"));
    for (const Finding& finding : item->findings())
        if (finding.at)
            events.emplace_back(*finding.at, QString::fromStdString(finding.brief()));
    for (const auto& [seconds, event] : events) {
        const double from = std::max(seconds - 2, 0.0); // to hear what leads up to it
        menu.addAction(AppTexts::playFrom(from, event), this,
                       [this, id, from] { emit playRequested(id, from); });
    }
    if (!events.empty())
        menu.addSeparator();
}

void ResultsTable::animateWriting() {
    const int column = ResultsTableModel::fix;
    viewport()->update(
        QRect(columnViewportPosition(column), 0, columnWidth(column), viewport()->height()));
}

void ResultsTable::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelectedRows();
        return;
    }
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier && currentIndex().isValid()) {
        emit doubleClicked(currentIndex());
        return;
    }
    QTableView::keyPressEvent(event);
}

void ResultsTable::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    if (event->size().height() < event->oldSize().height() && currentIndex().isValid())
        scrollTo(currentIndex());
}

void ResultsTable::copySelectedRows() const {
    const std::vector<ReportRow> all = m_model.reportRows();
    std::vector<ReportRow> selected;
    for (std::size_t row = 0; row < all.size(); ++row)
        if (m_model.selection().contains(m_model.items()[row].id))
            selected.push_back(all[row]);
    if (!selected.empty())
        QGuiApplication::clipboard()->setText(qs(Report::tsv(selected, m_model.currentSpec())));
}

void ResultsTable::sortByHeader(int column) {
    m_view.cycleSort(column);
    QHeaderView* header = horizontalHeader();
    header->setSortIndicatorShown(m_view.sortColumn() >= 0);
    header->setSortIndicator(m_view.sortColumn(), m_view.sortOrder());
}

void ResultsTable::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        verticalHeader()->setDefaultSectionSize(CellDelegate::rowHeight(font()));
    QTableView::changeEvent(event);
}

} // namespace tavrin::app
