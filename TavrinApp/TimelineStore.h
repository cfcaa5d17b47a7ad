#pragma once

#include "AppSettings.h"
#include "FileItem.h"
#include "tavrin/meter/Timeline.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QUuid>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace tavrin::app {

/// The timelines kept for the graph, within a memory budget: each lives in its row's reading, and
/// those used longest ago are dropped first. A measured row without one is measured again for it
/// on a thread of its own, only the row asked for last.
class TimelineStore : public QObject {
    Q_OBJECT

public:
    /// The row with the id, or null when it isn't listed.
    using RowFn = std::function<FileItem*(const QUuid&)>;
    TimelineStore(RowFn row, const AppSettings& settings);
    /// Stops measuring and waits for the work already running to notice.
    ~TimelineStore() override;

    /// The timelines kept in all, in bytes: beyond it, those used longest ago are dropped.
    static constexpr std::size_t budget = std::size_t{100} << 20;

    /// The row's timeline when it is measured and its timeline is kept; marks it as used last.
    /// Otherwise, for a measured row, measures it again and says `ready` once it can be had.
    std::shared_ptr<const Timeline> timeline(const QUuid& id);
    /// Whether the row is being measured again for its timeline.
    bool measuring(const QUuid& id) const { return m_requests.contains(id); }
    /// Gives `kept` the timeline of `fresh`, a reading equal to it, when it has none.
    void adopt(const QUuid& id, FileItem::Reading& kept, const FileItem::Reading& fresh);
    /// The row has a new reading: one that failed to give a timeline before may try again, and
    /// the timeline it brings, if any, is the one used last.
    void readingChanged(const QUuid& id);
    /// Stops measuring the rows `ids` (all rows when empty) for their timelines, and lets go of
    /// the timelines kept for them: they are leaving the list.
    void forget(const QSet<QUuid>& ids);

signals:
    void ready(const QUuid& id);

private:
    /// Keeps the row's new timeline as the one used last, dropping the oldest beyond the budget.
    void keep(const QUuid& id);
    void dropOldest();
    /// The row's measurement, or null when it isn't listed or measured.
    FileItem::Reading::Measured* measuredRow(const QUuid& id) const;
    /// Measures a measured row again, for its timeline alone.
    void measure(const FileItem& item);

    struct Kept {
        std::uint64_t lastUse = 0; ///< from `m_uses`
        std::size_t bytes = 0;
    };
    RowFn m_row;
    const AppSettings& m_settings;
    QHash<QUuid, Kept> m_kept;   ///< by row
    std::size_t m_keptBytes = 0; ///< of all in `m_kept`
    std::uint64_t m_uses = 0;    ///< counts every use, for the order of dropping
    /// Rows measured again for their timeline, each with the flag that stops it.
    QHash<QUuid, std::shared_ptr<std::atomic<bool>>> m_requests;
    QSet<QUuid> m_missing; ///< measured again, but no longer as the row says: not retried
    /// Set when the store goes, to stop measuring.
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
    QThreadPool m_pool;
};

} // namespace tavrin::app
