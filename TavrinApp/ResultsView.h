#pragma once

#include "ResultsTableModel.h"
#include "tavrin/core/AudioTypes.h"

#include <QSortFilterProxyModel>

namespace tavrin::app {

/// Which rows the table shows: all, or those the footer counts under one of its tallies.
enum class RowFilter { all, passing, failing, withoutReading, damaged };

/// Whether the footer counts `item` under `filter` against `spec`, its damage judged by `damage`.
/// A row still to be measured is under no tally, only under `all`; a damaged row is under
/// `damaged` as well as under its verdict's.
bool matches(RowFilter filter, const FileItem& item, const DeliverySpec& spec, DamagePolicy damage);
/// What a tally's button does: "Show only the 6 failing files".
QString showOnlyText(RowFilter filter, int count);
/// What the bar over a filtered table says: "Showing 6 failing files of 30".
QString showingText(RowFilter filter, int shown, int total);

/// The table as the user arranged it: sorted by the column whose header was clicked, and
/// filtered to one tally's rows. The list underneath keeps its own order, which exports and fixes
/// follow; this is only what the user sees.
class ResultsView : public QSortFilterProxyModel {
    Q_OBJECT

public:
    ResultsView(ResultsTableModel& table, const AppModel& model, QObject* parent = nullptr);

    /// A click on the column's header: sorts by it, then the other way, then back to list order.
    void cycleSort(int column);
    RowFilter filter() const { return m_filter; }
    void setFilter(RowFilter filter);
    /// The id of the list row shown at view row `row`.
    QUuid idAt(int row) const;
    /// The view row showing the list row `id`, or −1 when it is filtered out or gone.
    int rowOf(const QUuid& id) const;

signals:
    void filterChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    const FileItem& itemAt(const QModelIndex& source) const;
    /// How two rows compare in the sort column: `absence` −1 when only `right` has no value to
    /// sort by, 1 when only `left` has none; else `order` −1, 0 or 1 as `left`'s value is less,
    /// equal or greater.
    struct Comparison {
        int absence;
        int order;
    };
    Comparison compare(const QModelIndex& left, const QModelIndex& right) const;

    ResultsTableModel& m_table;
    const AppModel& m_model;
    RowFilter m_filter = RowFilter::all;
    AudioTypes::NameOrder m_nameOrder;
};

} // namespace tavrin::app
