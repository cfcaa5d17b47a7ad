#include "ResultsView.h"

namespace tavrin::app {

namespace {

using Column = ResultsTableModel::Column;
using Status = Verdict::Status;

QString files(int count) {
    return count == 1 ? QStringLiteral("file") : QStringLiteral("files");
}

/// Where a row's result sorts: problems first, passes last; absent while it is still measured.
std::optional<double> resultRank(const FileItem& item, const DeliverySpec& spec,
                                 DamagePolicy damage) {
    if (std::holds_alternative<FileItem::Reading::Failed>(item.reading.value))
        return 1;
    const LoudnessResult* result = item.result();
    if (!result)
        return std::nullopt;
    switch (Verdict::make(*result, spec, item.findings(), damage).status) {
    case Status::fail:
        return 0;
    case Status::unmeasurable:
        return 2;
    case Status::pass:
        break;
    }
    return 3;
}

/// The number a column sorts by; absent where the cell shows none.
std::optional<double> sortValue(const FileItem& item, const DeliverySpec& spec, DamagePolicy damage,
                                Column column) {
    const LoudnessResult* result = item.result();
    const auto value = [result](std::optional<double> LoudnessResult::*field) {
        return result ? result->*field : std::nullopt;
    };
    switch (column) {
    case Column::result:
        return resultRank(item, spec, damage);
    // The difference is the rounded loudness minus one target for every row, so it sorts as the
    // loudness does.
    case Column::integrated:
    case Column::difference:
        return result ? spec.level(*result) : std::nullopt;
    case Column::truePeak:
        return value(spec.measure == DeliverySpec::Measure::rms ? &LoudnessResult::noiseFloor
                                                                : &LoudnessResult::truePeak);
    case Column::range:
        return value(&LoudnessResult::loudnessRange);
    case Column::maxShortTerm:
        return value(&LoudnessResult::maxShortTerm);
    case Column::samplePeak:
        return value(&LoudnessResult::samplePeak);
    case Column::file:
    case Column::fix:
        break;
    }
    return std::nullopt;
}

} // namespace

bool matches(RowFilter filter, const FileItem& item, const DeliverySpec& spec,
             DamagePolicy damage) {
    if (filter == RowFilter::all)
        return true;
    if (filter == RowFilter::damaged)
        return anyDamage(item.findings());
    if (std::holds_alternative<FileItem::Reading::Failed>(item.reading.value))
        return filter == RowFilter::withoutReading;
    const LoudnessResult* result = item.result();
    if (!result)
        return false;
    switch (Verdict::make(*result, spec, item.findings(), damage).status) {
    case Status::pass:
        return filter == RowFilter::passing;
    case Status::fail:
        return filter == RowFilter::failing;
    case Status::unmeasurable:
        break;
    }
    return filter == RowFilter::withoutReading;
}

QString showOnlyText(RowFilter filter, int count) {
    const QString n = QString::number(count);
    switch (filter) {
    case RowFilter::passing:
        return "Show only the " + n + " passing " + files(count);
    case RowFilter::failing:
        return "Show only the " + n + " failing " + files(count);
    case RowFilter::withoutReading:
        return "Show only the " + n + " " + files(count) + " without a reading";
    case RowFilter::damaged:
        return "Show only the " + n + " damaged " + files(count);
    case RowFilter::all:
        break;
    }
    return QStringLiteral("Show all files");
}

QString showingText(RowFilter filter, int shown, int total) {
    const QString n = shown == 0 ? QStringLiteral("no") : QString::number(shown);
    const QString of = " of " + QString::number(total);
    switch (filter) {
    case RowFilter::passing:
        return "Showing " + n + " passing " + files(shown) + of;
    case RowFilter::failing:
        return "Showing " + n + " failing " + files(shown) + of;
    case RowFilter::withoutReading:
        return "Showing " + (shown == 0 ? QStringLiteral("none") : n) + of + " " + files(total) +
               " without a reading";
    case RowFilter::damaged:
        return "Showing " + n + " damaged " + files(shown) + of;
    case RowFilter::all:
        break;
    }
    return "Showing all " + QString::number(total) + " " + files(total);
}

ResultsView::ResultsView(ResultsTableModel& table, const AppModel& model, QObject* parent)
    : QSortFilterProxyModel(parent), m_table(table), m_model(model) {
    setSourceModel(&table);
}

void ResultsView::cycleSort(int column) {
    if (column != sortColumn())
        sort(column, Qt::AscendingOrder);
    else if (sortOrder() == Qt::AscendingOrder)
        sort(column, Qt::DescendingOrder);
    else
        sort(-1);
}

void ResultsView::setFilter(RowFilter filter) {
    if (filter == m_filter)
        return;
    m_filter = filter;
    invalidateRowsFilter();
    emit filterChanged();
}

QUuid ResultsView::idAt(int row) const {
    return m_table.idAt(mapToSource(index(row, 0)).row());
}

int ResultsView::rowOf(const QUuid& id) const {
    const int source = m_model.indexOf(id);
    return source < 0 ? -1 : mapFromSource(m_table.index(source, 0)).row();
}

const FileItem& ResultsView::itemAt(const QModelIndex& source) const {
    return m_model.items().at(std::size_t(source.row()));
}

bool ResultsView::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return matches(m_filter, m_model.items().at(std::size_t(sourceRow)), m_model.currentSpec(),
                   m_model.damagePolicy());
}

ResultsView::Comparison ResultsView::compare(const QModelIndex& left,
                                             const QModelIndex& right) const {
    const auto column = Column(left.column());
    if (column == Column::fix) {
        const QString x = left.data().toString(), y = right.data().toString();
        if (x.isEmpty() || y.isEmpty())
            return {int(x.isEmpty()) - int(y.isEmpty()), 0};
        return {0, QString::localeAwareCompare(x, y)};
    }
    const FileItem& a = itemAt(left);
    const FileItem& b = itemAt(right);
    if (column == Column::file) {
        const auto x = a.url.filename(), y = b.url.filename();
        return {0, m_nameOrder(x, y) ? -1 : m_nameOrder(y, x) ? 1 : 0};
    }
    const auto& spec = m_model.currentSpec();
    const DamagePolicy damage = m_model.damagePolicy();
    const std::optional<double> x = sortValue(a, spec, damage, column),
                                y = sortValue(b, spec, damage, column);
    if (!x || !y)
        return {int(!x) - int(!y), 0};
    return {0, *x < *y ? -1 : *y < *x ? 1 : 0};
}

bool ResultsView::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // Descending, the view puts `left` first when `right` is less than it; rows without a value
    // stay last either way, and ties stay in list order.
    const bool ascending = sortOrder() == Qt::AscendingOrder;
    const Comparison comparison = compare(left, right);
    if (comparison.absence != 0)
        return (comparison.absence < 0) == ascending;
    if (comparison.order != 0)
        return comparison.order < 0;
    return ascending ? left.row() < right.row() : right.row() < left.row();
}

} // namespace tavrin::app
