#include "AppModelParts.h"

namespace tavrin::app {

void AppModel::adoptTimeline(const QUuid& id, FileItem::Reading& kept,
                             const FileItem::Reading& fresh) {
    auto* measured = std::get_if<FileItem::Reading::Measured>(&kept.value);
    const auto* incoming = std::get_if<FileItem::Reading::Measured>(&fresh.value);
    if (!measured || !incoming || !incoming->timeline || measured->timeline)
        return;
    measured->timeline = incoming->timeline;
    m_timelinesMissing.remove(id);
    keepTimeline(id);
}

void AppModel::keepTimeline(const QUuid& id) {
    const int row = indexOf(id);
    const auto* measured =
        row < 0
            ? nullptr
            : std::get_if<FileItem::Reading::Measured>(&m_items[std::size_t(row)].reading.value);
    if (!measured || !measured->timeline)
        return;
    KeptTimeline& kept = m_keptTimelines[id];
    m_keptTimelineBytes += measured->timeline->memoryBytes() - kept.bytes;
    kept = {++m_timelineUses, measured->timeline->memoryBytes()};
    // The newest is kept even alone over budget: it is the one on screen. Entries of rows removed
    // or measured since count until they are the oldest, and go first.
    while (m_keptTimelineBytes > timelineBudget && m_keptTimelines.size() > 1)
        dropOldestTimeline();
}

void AppModel::dropOldestTimeline() {
    const auto oldest = std::min_element(
        m_keptTimelines.begin(), m_keptTimelines.end(),
        [](const KeptTimeline& a, const KeptTimeline& b) { return a.lastUse < b.lastUse; });
    if (const int row = indexOf(oldest.key()); row >= 0)
        if (auto* measured =
                std::get_if<FileItem::Reading::Measured>(&m_items[std::size_t(row)].reading.value))
            measured->timeline.reset();
    m_keptTimelineBytes -= oldest->bytes;
    m_keptTimelines.erase(oldest);
}

std::shared_ptr<const Timeline> AppModel::timeline(const QUuid& id) {
    const int row = indexOf(id);
    if (row < 0)
        return nullptr;
    const FileItem& item = m_items[std::size_t(row)];
    const auto* measured = std::get_if<FileItem::Reading::Measured>(&item.reading.value);
    if (!measured)
        return nullptr;
    if (measured->timeline) {
        keepTimeline(id);
        return measured->timeline;
    }
    if (!m_timelinesMissing.contains(id))
        measureTimeline(item);
    return nullptr;
}

void AppModel::forgetTimelines(const QSet<QUuid>& ids) {
    for (auto request = m_timelineRequests.begin(); request != m_timelineRequests.end();)
        if (ids.isEmpty() || ids.contains(request.key())) {
            request.value()->store(true);
            request = m_timelineRequests.erase(request);
        } else {
            ++request;
        }
    for (auto kept = m_keptTimelines.begin(); kept != m_keptTimelines.end();)
        if (ids.isEmpty() || ids.contains(kept.key())) {
            m_keptTimelineBytes -= kept->bytes;
            kept = m_keptTimelines.erase(kept);
        } else {
            ++kept;
        }
}

void AppModel::measureTimeline(const FileItem& item) {
    if (m_timelineRequests.contains(item.id))
        return;
    // Only the row asked for last is wanted: the one before stops at its next chunk, and those
    // queued behind it end at once, so the newest starts next.
    for (const auto& earlier : std::as_const(m_timelineRequests))
        earlier->store(true);
    m_timelineRequests.clear();
    const auto request = std::make_shared<std::atomic<bool>>(false);
    m_timelineRequests.insert(item.id, request);
    runThen(
        m_timelinePool, this,
        [url = item.url, dualMono = dualMono(), stop = m_timelineStop, request]() {
            try {
                return std::optional(Workflow::measure(
                    url, dualMono, {}, [&] { return stop->load() || request->load(); }, true));
            } catch (const Cancelled&) {
                return std::optional<Workflow::Reading>();
            }
        },
        [this, id = item.id, request](std::optional<Workflow::Reading> reading) {
            if (m_timelineRequests.value(id) == request)
                m_timelineRequests.remove(id);
            const int row = indexOf(id);
            if (!reading || row < 0)
                return;
            // Kept only when the file still measures as the row says.
            FileItem::Reading& kept = m_items[std::size_t(row)].reading;
            const FileItem::Reading fresh = readingOf(*reading);
            if (fresh == kept && reading->timeline)
                adoptTimeline(id, kept, fresh);
            else
                m_timelinesMissing.insert(id);
            emit timelineReady(id);
        });
}

} // namespace tavrin::app
