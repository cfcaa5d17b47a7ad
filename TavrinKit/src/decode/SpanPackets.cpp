#include "decode/SpanPackets.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tavrin {
namespace {

PacketPtr newPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

} // namespace

SpanPackets::SpanPackets() : m_view(newPacket()) {}

SpanPackets::~SpanPackets() {
    m_view->buf = nullptr; // the buffer is only lent to it
    av_buffer_unref(&m_buffer);
}

void SpanPackets::clear() {
    // A decoder may hold the last packet sent until the next: the bytes are then left to it.
    if (m_buffer && av_buffer_get_ref_count(m_buffer) > 1)
        av_buffer_unref(&m_buffer);
    m_used = 0;
    m_packets.clear();
}

void SpanPackets::add(const AVPacket& packet) {
    const Timing timing{packet.size, packet.pts, packet.dts, packet.duration, packet.flags};
    PacketPtr whole;
    if (packet.side_data_elems > 0) {
        whole.reset(av_packet_clone(&packet));
        if (!whole)
            throw std::bad_alloc();
    }
    append(timing, packet.data, std::move(whole));
}

void SpanPackets::addFrom(const SpanPackets& other, std::size_t first) {
    for (std::size_t i = first; i < other.size(); ++i) {
        const Kept& kept = other.m_packets[i];
        PacketPtr whole;
        if (kept.whole) {
            whole.reset(av_packet_clone(kept.whole.get()));
            if (!whole)
                throw std::bad_alloc();
        }
        append(kept.timing, other.m_buffer->data + kept.offset, std::move(whole));
    }
}

void SpanPackets::append(const Timing& timing, const std::uint8_t* data, PacketPtr whole) {
    const auto size = std::size_t(std::max(timing.size, 0));
    const std::size_t needed = m_used + size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!m_buffer || needed > m_buffer->size) {
        // Grown by half again at least, so that a span's packets move a few times at most.
        const std::size_t capacity = std::max(needed, m_buffer ? m_buffer->size * 3 / 2 : 0);
        if (av_buffer_realloc(&m_buffer, capacity) < 0)
            throw std::bad_alloc();
    }
    if (size > 0)
        std::memcpy(m_buffer->data + m_used, data, size);
    std::memset(m_buffer->data + m_used + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    m_packets.push_back({timing, m_used, std::move(whole)});
    m_used += size + AV_INPUT_BUFFER_PADDING_SIZE;
}

const AVPacket* SpanPackets::operator[](std::size_t i) {
    const Kept& kept = m_packets[i];
    if (kept.whole)
        return kept.whole.get();
    AVPacket& view = *m_view;
    view.buf = m_buffer;
    view.data = m_buffer->data + kept.offset;
    view.size = kept.timing.size;
    view.pts = kept.timing.pts;
    view.dts = kept.timing.dts;
    view.duration = kept.timing.duration;
    view.flags = kept.timing.flags;
    return &view;
}

} // namespace tavrin
