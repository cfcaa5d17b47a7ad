#include "ColumnFitter.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <numeric>

namespace tavrin::app {

ColumnFitter::ColumnFitter(QTableView& table, std::vector<Limits> limits, QList<int> wanted)
    : QObject(&table), m_table(table), m_viewport(table.viewport()),
      m_header(*table.horizontalHeader()), m_limits(std::move(limits)),
      m_wanted(std::move(wanted)) {
    m_table.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_viewport->installEventFilter(this);
    connect(&m_header, &QHeaderView::sectionResized, this,
            [this](int column, int, int size) { userResized(column, size); });
    fit();
}

void ColumnFitter::setWanted(const QList<int>& widths) {
    if (widths.size() != m_wanted.size())
        return;
    for (int column = 0; column < widths.size(); ++column) {
        const Limits& limits = m_limits[std::size_t(column)];
        m_wanted[column] = std::clamp(widths[column], limits.minimum, limits.maximum);
    }
    fit();
}

bool ColumnFitter::eventFilter(QObject* watched, QEvent* event) {
    // The viewport is compared as it was: the table may be part way through its destruction.
    if (event->type() == QEvent::Resize && watched == m_viewport)
        fit();
    return false;
}

void ColumnFitter::userResized(int column, int size) {
    const int last = int(m_wanted.size()) - 1;
    if (m_fitting || column >= last)
        return; // the last column only ever takes the rest
    const Limits& limits = m_limits[std::size_t(column)];
    m_wanted[column] = std::clamp(size, limits.minimum, limits.maximum);
    fit(column);
}

void ColumnFitter::fit(int pinned) {
    const int last = int(m_wanted.size()) - 1;
    QList<int> widths = m_wanted.mid(0, last);
    // The room the columns before the last share: the last keeps at least its minimum.
    const int room = m_table.viewport()->width() - m_limits[std::size_t(last)].minimum;
    int excess = std::accumulate(widths.begin(), widths.end(), 0) - room;
    int slack = 0;
    for (int column = 0; column < last; ++column)
        if (column != pinned)
            slack += widths[column] - m_limits[std::size_t(column)].minimum;
    // Each column gives up its share of the excess, by what it has above its minimum; a pinned
    // column gives up only what the others can't.
    for (int column = 0; column < last && excess > 0 && slack > 0; ++column) {
        if (column == pinned)
            continue;
        const int above = widths[column] - m_limits[std::size_t(column)].minimum;
        const int share = int((qint64(excess) * above + slack - 1) / slack);
        const int given = std::min(share, above);
        widths[column] -= given;
        excess -= given;
        slack -= above;
    }
    if (pinned >= 0 && excess > 0)
        widths[pinned] = std::max(m_limits[std::size_t(pinned)].minimum, widths[pinned] - excess);
    m_fitting = true;
    for (int column = 0; column < last; ++column)
        m_header.resizeSection(column, widths[column]);
    m_fitting = false;
}

} // namespace tavrin::app
