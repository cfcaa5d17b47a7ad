#pragma once

// Private to the decode group: buffers lent to decoders for their frames, shared among them.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <array>
#include <bit>
#include <cstddef>
#include <mutex>

namespace tavrin {

/// Buffers for the frames of every span's decoder, reused as the frames handed out are let go: a
/// fresh decoder's own pool would allocate, and clear, every frame of its span anew.
class FramePool {
public:
    ~FramePool() {
        for (AVBufferPool*& pool : m_pools)
            av_buffer_pool_uninit(&pool); // freed once their last buffer is let go
    }

    /// Lends `decoder` its frames' buffers.
    void lendTo(AVCodecContext& decoder) {
        decoder.opaque = this;
        decoder.get_buffer2 = getBuffer;
    }

private:
    static int getBuffer(AVCodecContext* decoder, AVFrame* frame, int flags) {
        const auto format = AVSampleFormat(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        const int planes = av_sample_fmt_is_planar(format) ? channels : 1;
        int linesize = 0;
        if (planes > AV_NUM_DATA_POINTERS ||
            av_samples_get_buffer_size(&linesize, channels, frame->nb_samples, format, 1) < 0)
            return avcodec_default_get_buffer2(decoder, frame, flags);
        AVBufferPool* pool = static_cast<FramePool*>(decoder->opaque)->poolFor(linesize);
        if (!pool)
            return AVERROR(ENOMEM);
        frame->linesize[0] = linesize;
        for (int p = 0; p < planes; ++p) {
            if (!(frame->buf[p] = av_buffer_pool_get(pool)))
                return AVERROR(ENOMEM);
            frame->data[p] = frame->buf[p]->data;
        }
        frame->extended_data = frame->data;
        return 0;
    }

    /// The pool of the smallest power of two that holds `bytes` and the padding decoders may
    /// write past the samples.
    AVBufferPool* poolFor(int bytes) {
        const auto size = std::bit_ceil(std::size_t(bytes) + padding);
        const auto index = std::size_t(std::countr_zero(size));
        if (index >= m_pools.size())
            return nullptr;
        const std::lock_guard lock(m_mutex);
        if (!m_pools[index])
            m_pools[index] = av_buffer_pool_init(size, av_buffer_allocz);
        return m_pools[index];
    }

    static constexpr std::size_t padding = 64;
    std::mutex m_mutex;
    std::array<AVBufferPool*, 32> m_pools{};
};

} // namespace tavrin
