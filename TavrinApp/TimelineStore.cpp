#include "TimelineStore.h"

#include "Background.h"
#include "MeasuredReading.h"

#include <algorithm>

namespace tavrin::app {

TimelineStore::TimelineStore(RowFn row, const AppSettings& settings)
    : m_row(std::move(row)), m_settings(settings) {
    m_pool.setMaxThreadCount(1);
}

TimelineStore::~TimelineStore() {
    m_stop->store(true);
    // Results are posted to this object from the worker, so it must end first.
    m_pool.waitForDone();
}

FileItem::Reading::Measured* TimelineStore::measuredRow(const QUuid& id) const {
    FileItem* item = m_row(id);
    return item ? std::get_if<FileItem::Reading::Measured>(&item->reading.value) : nullptr;
}

void TimelineStore::readingChanged(const QUuid& id) {
    m_missing.remove(id);
    keep(id);
}

void TimelineStore::adopt(const QUuid& id, FileItem::Reading& kept,
                          const FileItem::Reading& fresh) {
    auto* measured = std::get_if<FileItem::Reading::Measured>(&kept.value);
    const auto* incoming = std::get_if<FileItem::Reading::Measured>(&fresh.value);
    if (!measured || !incoming || !incoming->timeline || measured->timeline)
        return;
    measured->timeline = incoming->timeline;
    m_missing.remove(id);
    keep(id);
}

void TimelineStore::keep(const QUuid& id) {
    const auto* measured = measuredRow(id);
    if (!measured || !measured->timeline)
        return;
    Kept& kept = m_kept[id];
    m_keptBytes += measured->timeline->memoryBytes() - kept.bytes;
    kept = {++m_uses, measured->timeline->memoryBytes()};
    // The newest is kept even alone over budget: it is the one on screen. Entries of rows removed
    // or measured since count until they are the oldest, and go first.
    while (m_keptBytes > budget && m_kept.size() > 1)
        dropOldest();
}

void TimelineStore::dropOldest() {
    const auto oldest =
        std::min_element(m_kept.begin(), m_kept.end(),
                         [](const Kept& a, const Kept& b) { return a.lastUse < b.lastUse; });
    if (auto* measured = measuredRow(oldest.key()))
        measured->timeline.reset();
    m_keptBytes -= oldest->bytes;
    m_kept.erase(oldest);
}

std::shared_ptr<const Timeline> TimelineStore::timeline(const QUuid& id) {
    const FileItem* item = m_row(id);
    const auto* measured =
        item ? std::get_if<FileItem::Reading::Measured>(&item->reading.value) : nullptr;
    if (!measured)
        return nullptr;
    if (measured->timeline) {
        keep(id);
        return measured->timeline;
    }
    if (!m_missing.contains(id))
        measure(*item);
    return nullptr;
}

void TimelineStore::forget(const QSet<QUuid>& ids) {
    for (auto request = m_requests.begin(); request != m_requests.end();)
        if (ids.isEmpty() || ids.contains(request.key())) {
            request.value()->store(true);
            request = m_requests.erase(request);
        } else {
            ++request;
        }
    for (auto kept = m_kept.begin(); kept != m_kept.end();)
        if (ids.isEmpty() || ids.contains(kept.key())) {
            m_keptBytes -= kept->bytes;
            kept = m_kept.erase(kept);
        } else {
            ++kept;
        }
}

void TimelineStore::measure(const FileItem& item) {
    if (m_requests.contains(item.id))
        return;
    // Only the row asked for last is wanted: the one before stops at its next chunk, and those
    // queued behind it end at once, so the newest starts next.
    for (const auto& earlier : std::as_const(m_requests))
        earlier->store(true);
    m_requests.clear();
    const auto request = std::make_shared<std::atomic<bool>>(false);
    m_requests.insert(item.id, request);
    runThen(
        m_pool, this,
        [url = item.url, dualMono = m_settings.dualMono(), stop = m_stop, request]() {
            try {
                return std::optional(Workflow::measure(
                    url, dualMono, {}, [&] { return stop->load() || request->load(); }, true));
            } catch (const Cancelled&) {
                return std::optional<Workflow::Reading>();
            }
        },
        [this, id = item.id, request](std::optional<Workflow::Reading> reading) {
            if (m_requests.value(id) == request)
                m_requests.remove(id);
            FileItem* row = m_row(id);
            if (!reading || !row)
                return;
            // Kept only when the file still measures as the row says.
            FileItem::Reading& kept = row->reading;
            const FileItem::Reading fresh = readingOf(*reading);
            if (fresh == kept && reading->timeline)
                adopt(id, kept, fresh);
            else
                m_missing.insert(id);
            emit ready(id);
        });
}

} // namespace tavrin::app
