#pragma once

#include <QList>
#include <QObject>
#include <vector>

class QHeaderView;
class QTableView;

namespace tavrin::app {

/// Keeps every column of a table in view without a horizontal scroll bar: each column shows the
/// width the user gave it (or its ideal one) while they fit, and when they don't, the columns
/// give up width in proportion to what they have above their minimum. The last column takes the
/// rest. A width the user drags is kept within its column's limits and remembered as wanted.
class ColumnFitter : public QObject {
    Q_OBJECT

public:
    struct Limits {
        int minimum, maximum;
    };

    /// Fits `table`'s columns, one `limits` entry per column, starting from `wanted` widths.
    ColumnFitter(QTableView& table, std::vector<Limits> limits, QList<int> wanted);

    /// The widths the columns take when there is room.
    const QList<int>& wanted() const { return m_wanted; }
    /// Takes new wanted widths, each kept within its column's limits; a list that doesn't have one
    /// width per column is ignored.
    void setWanted(const QList<int>& widths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void userResized(int column, int size);
    /// Lays the columns out in the viewport's width; `pinned` (a column being dragged) keeps its
    /// width while the others give way.
    void fit(int pinned = -1);

    QTableView& m_table;
    QWidget* m_viewport;
    QHeaderView& m_header;
    std::vector<Limits> m_limits;
    QList<int> m_wanted;
    bool m_fitting = false;
};

} // namespace tavrin::app
