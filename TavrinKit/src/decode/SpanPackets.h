#pragma once

// Private to the decode group: a span's packets, their bytes in one buffer kept from span to span.

#include "decode/DecodeStep.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrin {

/// Packets copied out of the demuxer's buffers into one of their own. A span's packets each in a
/// buffer of its own, a few hundred allocated at once and freed at once, cost malloc a tenth of
/// what decoding them took; copying them costs next to nothing.
class SpanPackets {
public:
    /// Throws std::bad_alloc.
    SpanPackets();
    ~SpanPackets();
    SpanPackets(const SpanPackets&) = delete;
    SpanPackets& operator=(const SpanPackets&) = delete;

    /// Lets go of every packet; the buffer stays for the next, unless a decoder still holds it.
    void clear();
    /// Copies `packet` in, with its timing. A packet with side data (the frames to trim at the
    /// start or the end, say) is kept whole. Throws std::bad_alloc.
    void add(const AVPacket& packet);
    /// Copies `other`'s packets from `first` on in.
    void addFrom(const SpanPackets& other, std::size_t first);

    std::size_t size() const { return m_packets.size(); }
    std::int64_t duration(std::size_t i) const { return m_packets[i].timing.duration; }
    int bytes(std::size_t i) const { return m_packets[i].timing.size; }
    /// Packet `i`, to send to a decoder, which may keep a reference to the buffer: valid until the
    /// next call on this thread. Every packet must be in.
    const AVPacket* operator[](std::size_t i);

private:
    struct Timing {
        int size = 0;
        std::int64_t pts = 0;
        std::int64_t dts = 0;
        std::int64_t duration = 0;
        int flags = 0;
    };
    struct Kept {
        Timing timing;
        std::size_t offset = 0;
        PacketPtr whole; ///< a packet with side data
    };
    void append(const Timing& timing, const std::uint8_t* data, PacketPtr whole);

    AVBufferRef* m_buffer = nullptr; ///< every packet's bytes, each followed by zeroed padding
    std::size_t m_used = 0;
    std::vector<Kept> m_packets;
    PacketPtr m_view; ///< the packet handed out
};

} // namespace tavrin
