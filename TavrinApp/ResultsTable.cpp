#include "ResultsTable.h"

#include "AppTexts.h"
#include "CellDelegate.h"
#include "ColumnFitter.h"
#include "Paths.h"
#include "RevealButton.h"
#include "tavrin/Report.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
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

/// Header titles inset like the cells below them, so both line up.
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
        if (element != CE_HeaderLabel || !label)
            return QProxyStyle::drawControl(element, option, painter, widget);
        QStyleOptionHeader elided = *label;
        elided.text =
            label->fontMetrics.elidedText(label->text, Qt::ElideRight, label->rect.width());
        QProxyStyle::drawControl(element, &elided, painter, widget);
    }
};

} // namespace

ResultsTable::ResultsTable(AppModel& model, QWidget* parent)
    : QTableView(parent), m_model(model), m_table(model), m_delegate(new CellDelegate(this)) {
    setModel(&m_table);
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
    const auto revealCopy = [this](int row) { m_model.revealInFinder({m_table.idAt(row)}); };
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
    header->setSectionsClickable(false);
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
    const QUuid id = m_table.idAt(row);
    return m_model.selection().contains(id) ? m_model.selection() : QSet<QUuid>{id};
}

void ResultsTable::selectionFromView() {
    if (m_syncingSelection)
        return;
    QSet<QUuid> ids;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        ids.insert(m_table.idAt(index.row()));
    m_syncingSelection = true;
    m_model.setSelection(ids);
    m_syncingSelection = false;
}

void ResultsTable::selectionFromModel() {
    if (m_syncingSelection)
        return;
    // Contiguous runs become one range each, so selecting thousands of rows stays cheap.
    QItemSelection selection;
    const auto& items = m_model.items();
    const QSet<QUuid>& ids = m_model.selection();
    for (int row = 0; row < int(items.size());) {
        if (!ids.contains(items[std::size_t(row)].id)) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < int(items.size()) && ids.contains(items[std::size_t(row)].id))
            ++row;
        selection.select(m_table.index(first, 0),
                         m_table.index(row - 1, ResultsTableModel::columns - 1));
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
    QAction* reveal = menu->addAction(AppTexts::showInFileManager(), this,
                                      [this, ids] { m_model.revealInFinder(ids); });
    menu->addSeparator();
    QAction* remove = menu->addAction(QStringLiteral("Remove from List"), this,
                                      [this, ids] { m_model.removeItems(ids); });
    for (QAction* action : {fix, reveal, remove})
        action->setEnabled(!ids.isEmpty());
    menu->popup(viewport()->mapToGlobal(position));
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

void ResultsTable::copySelectedRows() const {
    const std::vector<ReportRow> all = m_model.reportRows();
    std::vector<ReportRow> selected;
    for (std::size_t row = 0; row < all.size(); ++row)
        if (m_model.selection().contains(m_model.items()[row].id))
            selected.push_back(all[row]);
    if (!selected.empty())
        QGuiApplication::clipboard()->setText(qs(Report::tsv(selected, m_model.currentSpec())));
}

void ResultsTable::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        verticalHeader()->setDefaultSectionSize(CellDelegate::rowHeight(font()));
    QTableView::changeEvent(event);
}

} // namespace tavrin::app
