#include "PlaybackFeed.h"

#include "AppTexts.h"
#include "tavrin/decode/PlaybackStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace tavrin::app {

PlaybackFeed::PlaybackFeed(PlaybackSource source, double fromSeconds)
    : m_original(2 * ringFrames), m_copy(source.copy.empty() ? 0 : 2 * ringFrames) {
    open(QIODevice::ReadOnly);
    m_thread = std::thread(
        [this, source = std::move(source), fromSeconds] { decode(source, fromSeconds); });
}

PlaybackFeed::~PlaybackFeed() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_room.notify_all();
    m_thread.join();
}

qint64 PlaybackFeed::bytesAvailable() const {
    std::lock_guard lock(m_mutex);
    return qint64(m_written - m_read) * 2 * qint64(sizeof(float)) + QIODevice::bytesAvailable();
}

std::int64_t PlaybackFeed::framesFed() const {
    std::lock_guard lock(m_mutex);
    return m_read;
}

bool PlaybackFeed::finished() const {
    std::lock_guard lock(m_mutex);
    return m_ended && m_read == m_written;
}

qint64 PlaybackFeed::readData(char* data, qint64 maxSize) {
    std::unique_lock lock(m_mutex);
    const auto wanted = std::int64_t(maxSize) / std::int64_t(2 * sizeof(float));
    const std::int64_t frames = std::min(wanted, m_written - m_read);
    const std::vector<float>& ring = m_hasCopy && m_hearCopy ? m_copy : m_original;
    for (std::int64_t done = 0; done < frames;) {
        const auto at = std::size_t((m_read + done) % std::int64_t(ringFrames));
        const auto run = std::min<std::size_t>(std::size_t(frames - done), ringFrames - at);
        std::memcpy(data + done * 2 * std::int64_t(sizeof(float)), ring.data() + 2 * at,
                    run * 2 * sizeof(float));
        done += std::int64_t(run);
    }
    m_read += frames;
    lock.unlock();
    m_room.notify_all();
    return frames * 2 * qint64(sizeof(float));
}

namespace {

/// The copy to hear beside `original`, at `fromFrame`: none when it can't be read or plays at
/// another rate, which couldn't be heard in step.
std::unique_ptr<PlaybackStream> openCopy(const std::filesystem::path& copy,
                                         const PlaybackStream& original, std::int64_t fromFrame) {
    if (copy.empty())
        return nullptr;
    try {
        auto made = std::make_unique<PlaybackStream>(copy);
        if (made->sampleRate() != original.sampleRate())
            return nullptr;
        made->seek(fromFrame);
        return made;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace

/// On the feed's thread: decodes a block of each stream at a time into the ring, as room frees.
void PlaybackFeed::decode(PlaybackSource source, double fromSeconds) {
    std::vector<float> original(2 * blockFrames), copy(2 * blockFrames);
    QString failure;
    try {
        PlaybackStream heard(source.original);
        const auto fromFrame = std::int64_t(std::llround(fromSeconds * heard.sampleRate()));
        const std::unique_ptr<PlaybackStream> made = openCopy(source.copy, heard, fromFrame);
        m_hasCopy = made != nullptr;
        heard.seek(fromFrame);
        // The sink starts once the ring is full: it takes a short first read for a stall.
        for (std::size_t blocks = 1;; ++blocks) {
            const std::size_t got = heard.read(original.data(), blockFrames, source.originalGain);
            if (made) {
                const std::size_t copied = made->read(copy.data(), got, 1);
                std::fill(copy.begin() + std::ptrdiff_t(2 * copied), copy.end(), 0.0f);
            }
            if (!write(original, made ? &copy : nullptr, got))
                return;
            const bool last = got < blockFrames;
            if (blocks == ringFrames / blockFrames || (last && blocks < ringFrames / blockFrames))
                QMetaObject::invokeMethod(
                    this, [this, rate = heard.sampleRate()] { emit ready(rate); },
                    Qt::QueuedConnection);
            if (last)
                return;
        }
    } catch (const std::exception& e) {
        failure = QString::fromStdString(e.what());
    } catch (...) {
        failure = AppTexts::playbackStopped();
    }
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    QMetaObject::invokeMethod(
        this, [this, failure] { emit failed(failure); }, Qt::QueuedConnection);
}

/// Puts `frames` of each stream into the ring once there is room; false when stopping.
bool PlaybackFeed::write(const std::vector<float>& original, const std::vector<float>* copy,
                         std::size_t frames) {
    std::unique_lock lock(m_mutex);
    m_room.wait(lock, [&] {
        return m_stopping || m_written - m_read + std::int64_t(frames) <= std::int64_t(ringFrames);
    });
    if (m_stopping)
        return false;
    const auto at = std::ptrdiff_t(2 * (m_written % std::int64_t(ringFrames))); // blocks never wrap
    std::copy_n(original.begin(), 2 * frames, m_original.begin() + at);
    if (copy)
        std::copy_n(copy->begin(), 2 * frames, m_copy.begin() + at);
    m_written += std::int64_t(frames);
    m_ended = frames < blockFrames;
    return true;
}

} // namespace tavrin::app
