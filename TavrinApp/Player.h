#pragma once

#include "PlaybackFeed.h"

#include <QObject>
#include <QTimer>
#include <memory>

class QAudioSink;

namespace tavrin::app {

/// Plays a file, or its copy in its place, on the default audio output, from any time on. One
/// decoding thread while playing, none otherwise.
class Player : public QObject {
    Q_OBJECT

public:
    explicit Player(QObject* parent = nullptr);
    ~Player() override;

    /// Whether there is an output to play through.
    static bool outputAvailable();

    /// Plays `source` from `seconds` into the original; reports failed() when it can't.
    void play(const PlaybackSource& source, double seconds);
    /// Stops where it is: position() stays.
    void pause();
    /// Stops and forgets the source.
    void stop();
    bool isPlaying() const { return m_feed != nullptr; }
    /// Where in the original what is heard now lies, seconds.
    double position() const;
    /// Hears the copy, or the original, from the next buffer on.
    void hearCopy(bool copy);
    bool hearsCopy() const { return m_hearCopy; }
    /// Whether the source's copy is being played beside it, and can be heard.
    bool hasCopy() const { return m_feed && m_feed->hasCopy(); }
    /// What the output reads from while playing; null otherwise.
    const PlaybackFeed* feed() const { return m_feed.get(); }

signals:
    /// While playing, about thirty times a second, and whenever playing starts or stops.
    void positionChanged(double seconds);
    void playingChanged(bool playing);
    /// Playing `source` stopped, or couldn't start, for `reason`, a whole sentence.
    void failed(const PlaybackSource& source, const QString& reason);

private:
    void start(double sampleRate);
    void tick();
    void halt();

    PlaybackSource m_source;
    std::unique_ptr<PlaybackFeed> m_feed;
    std::unique_ptr<QAudioSink> m_sink; ///< reads from m_feed: goes first
    double m_from = 0;                  ///< seconds where the feed starts, or where playing stopped
    bool m_hearCopy = false;
    QTimer m_ticks;
};

} // namespace tavrin::app
