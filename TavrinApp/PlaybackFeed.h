#pragma once

#include <QIODevice>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tavrin::app {

/// What is played: a file, and the copy made of it (none when empty), which can be heard in its
/// place from one buffer to the next.
struct PlaybackSource {
    std::filesystem::path original;
    std::filesystem::path copy;
    /// Linear, applied to the original: the copy's gain, so that switching to the copy lets only
    /// what the limiter did be heard, not the level.
    float originalGain = 1;
    bool operator==(const PlaybackSource&) const = default;
};

/// Stereo 32-bit float frames for an audio sink to pull, decoded ahead on one thread of its own:
/// the original and its copy in step, so that either can be heard from the next buffer on,
/// without a gap. Decoding starts at the frame asked and stops at the end of the original.
class PlaybackFeed : public QIODevice {
    Q_OBJECT

public:
    /// Starts decoding `source` from `fromSeconds` into the original.
    PlaybackFeed(PlaybackSource source, double fromSeconds);
    /// Stops decoding and waits for the thread.
    ~PlaybackFeed() override;

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    /// Which is heard from the next buffer on. Without a copy, the original always is.
    void hearCopy(bool copy) { m_hearCopy = copy; }
    /// Whether the copy can be heard: known once ready() is sent.
    bool hasCopy() const { return m_hasCopy; }
    /// Frames handed to the sink so far.
    std::int64_t framesFed() const;
    /// Whether every frame up to the end has been handed out.
    bool finished() const;

signals:
    /// The first frames are decoded, at the original's `sampleRate`: the sink can start.
    void ready(double sampleRate);
    /// Decoding stopped for `reason`, a whole sentence.
    void failed(QString reason);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    void decode(PlaybackSource source, double fromSeconds);

    bool write(const std::vector<float>& original, const std::vector<float>* copy,
               std::size_t frames);

    static constexpr std::size_t blockFrames = 1024;
    static constexpr std::size_t ringFrames = 24 * blockFrames; ///< about half a second ahead

    std::atomic<bool> m_hearCopy = false;
    std::atomic<bool> m_hasCopy = false; ///< the copy could be opened, and plays in step

    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::vector<float> m_original; ///< the ring, interleaved stereo
    std::vector<float> m_copy;     ///< the copy's frames beside the original's
    std::int64_t m_written = 0;    ///< frames decoded into the ring
    std::int64_t m_read = 0;       ///< frames handed out
    bool m_ended = false;          ///< nothing more will be written
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tavrin::app
