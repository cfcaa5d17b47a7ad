#include "Player.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>

namespace tavrin::app {

Player::Player(QObject* parent) : QObject(parent) {
    m_ticks.setInterval(33);
    connect(&m_ticks, &QTimer::timeout, this, &Player::tick);
}

Player::~Player() {
    // The sink runs the event loop as it goes: nothing may reach the player or its owner then.
    m_ticks.stop();
    blockSignals(true);
    if (m_feed)
        m_feed->disconnect(this);
    m_sink.reset();
    m_feed.reset();
}

bool Player::outputAvailable() {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

void Player::play(const PlaybackSource& source, double seconds) {
    halt();
    m_source = source;
    m_from = std::max(seconds, 0.0);
    m_feed = std::make_unique<PlaybackFeed>(source, m_from);
    connect(m_feed.get(), &PlaybackFeed::ready, this, &Player::start);
    connect(m_feed.get(), &PlaybackFeed::failed, this, [this](const QString& reason) {
        const PlaybackSource stopped = m_source;
        pause();
        emit failed(stopped, reason);
    });
    m_feed->hearCopy(m_hearCopy);
    emit playingChanged(true);
    emit positionChanged(m_from);
}

void Player::start(double sampleRate) {
    QAudioFormat format;
    format.setSampleRate(int(std::lround(sampleRate)));
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Float);
    m_sink = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), format);
    m_sink->setBufferSize(
        int(sampleRate * 2 * sizeof(float) * 0.075)); // 75 ms: switching is heard soon
    m_sink->start(m_feed.get());
    m_ticks.start();
}

double Player::position() const {
    if (!m_feed || !m_sink)
        return m_from;
    return m_from + double(m_sink->processedUSecs()) / 1e6;
}

void Player::tick() {
    if (m_feed && m_feed->finished() && m_sink && m_sink->state() != QAudio::ActiveState) {
        pause();
        return;
    }
    emit positionChanged(position());
}

void Player::pause() {
    if (!m_feed)
        return;
    m_from = position();
    halt();
    emit playingChanged(false);
    emit positionChanged(m_from);
}

void Player::stop() {
    pause();
    m_source = {};
    m_from = 0;
}

void Player::halt() {
    m_ticks.stop();
    if (m_sink)
        m_sink->stop();
    // Deleting a sink runs the event loop while it waits for the output: later, never inside a
    // caller that doesn't expect it.
    if (m_sink)
        m_sink.release()->deleteLater();
    if (m_feed) {
        m_feed->disconnect(this);
        m_feed.release()->deleteLater();
    }
}

void Player::hearCopy(bool copy) {
    m_hearCopy = copy;
    if (m_feed)
        m_feed->hearCopy(copy);
}

} // namespace tavrin::app
