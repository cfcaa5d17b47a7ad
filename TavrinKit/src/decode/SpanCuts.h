#pragma once

// Private to the decode group: where a compressed stream is cut into spans.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tavrin {

/// Cuts a stream into spans of packets: a span ends once its packets last `spanFrames` by their
/// durations, or after 2048 packets however short. Decoding in spans and decoding one packet after
/// another cut the stream alike, so the meter restarts its K-weighting at the same frames either
/// way.
class SpanCuts {
public:
    SpanCuts(double spanFrames, double framesPerTick)
        : m_spanFrames(spanFrames), m_framesPerTick(framesPerTick) {}

    double spanFrames() const { return m_spanFrames; }
    /// Whether the span so far is complete: the next packet begins another.
    bool full() const { return m_frames >= m_spanFrames || m_packets >= mostPackets; }
    /// Counts a packet lasting `duration` ticks into the span.
    void add(std::int64_t duration) {
        m_frames += std::max(double(duration) * m_framesPerTick, 1.0);
        ++m_packets;
    }
    /// Begins the next span.
    void restart() {
        m_frames = 0;
        m_packets = 0;
    }
    /// Counts in the stream's next packet: whether it begins a span. The stream's first packet
    /// begins one.
    bool begins(std::int64_t duration) {
        const bool begins = m_packets == 0 || full();
        if (begins)
            restart();
        add(duration);
        return begins;
    }

private:
    static constexpr std::size_t mostPackets = 2048;
    double m_spanFrames;
    double m_framesPerTick;
    double m_frames = 0;
    std::size_t m_packets = 0;
};

} // namespace tavrin
