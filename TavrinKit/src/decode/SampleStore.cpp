#include "decode/SampleStore.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tavrin {
namespace {

constexpr std::size_t blockBytes = std::size_t(1) << 20;
constexpr std::size_t alignment = 64;

} // namespace

SampleStore::SampleStore() : m_received(av_frame_alloc()) {
    if (!m_received)
        throw std::bad_alloc();
}

int SampleStore::receive(AVCodecContext& decoder, AVFrame& out) {
    const int r = avcodec_receive_frame(&decoder, m_received.get());
    if (r == 0) {
        place(out);
        av_frame_unref(m_received.get());
    }
    return r;
}

void SampleStore::place(AVFrame& out) {
    const AVFrame& in = *m_received;
    const auto format = AVSampleFormat(in.format);
    const int channels = in.ch_layout.nb_channels;
    const int planes = av_sample_fmt_is_planar(format) ? channels : 1;
    int lineBytes = 0;
    if (planes > AV_NUM_DATA_POINTERS ||
        av_samples_get_buffer_size(&lineBytes, channels, in.nb_samples, format, 1) < 0) {
        if (av_frame_ref(&out, &in) < 0)
            throw std::bad_alloc();
        return;
    }
    if (av_channel_layout_copy(&out.ch_layout, &in.ch_layout) < 0)
        throw std::bad_alloc();
    out.format = in.format;
    out.nb_samples = in.nb_samples;
    out.sample_rate = in.sample_rate;
    out.pts = in.pts;
    out.best_effort_timestamp = in.best_effort_timestamp;
    out.linesize[0] = lineBytes;
    for (int p = 0; p < planes; ++p) {
        out.data[p] = take(std::size_t(lineBytes));
        std::memcpy(out.data[p], in.extended_data[p], std::size_t(lineBytes));
    }
    out.extended_data = out.data;
}

/// Room for `bytes` that stays where it is until clear().
std::uint8_t* SampleStore::take(std::size_t bytes) {
    bytes = (bytes + alignment - 1) / alignment * alignment;
    if (m_block < m_blocks.size() && m_used + bytes > m_blocks[m_block].size) {
        ++m_block;
        m_used = 0;
    }
    if (m_block == m_blocks.size() || m_blocks[m_block].size < bytes) {
        const std::size_t size = std::max(blockBytes, bytes);
        Block block{std::unique_ptr<std::uint8_t, Free>(
                        static_cast<std::uint8_t*>(std::aligned_alloc(alignment, size))),
                    size};
        if (!block.bytes)
            throw std::bad_alloc();
        m_blocks.insert(m_blocks.begin() + std::ptrdiff_t(m_block), std::move(block));
    }
    std::uint8_t* room = m_blocks[m_block].bytes.get() + m_used;
    m_used += bytes;
    return room;
}

} // namespace tavrin
