#pragma once

// Private to the decode group: the samples of the frames a span's decoder gave, copied out of the
// decoder's own buffers.

#include "decode/DecodeStep.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tavrin {

/// Frames decoded on one thread for another to read, in blocks kept from span to span. The
/// decoder's own buffers stay on its thread: a buffer read on one processor and written again by
/// the decoder on another makes the decoder wait on the reader's cache at every store, which
/// slowed decoding by half.
class SampleStore {
public:
    /// Throws std::bad_alloc.
    SampleStore();

    /// Receives the decoder's next frame into `out`, which owns no buffers: its samples are copied
    /// into the store (frames of more planes than an AVFrame points at directly keep the
    /// decoder's buffers). Returns what avcodec_receive_frame() does. Throws std::bad_alloc.
    int receive(AVCodecContext& decoder, AVFrame& out);

    /// Lets go of every frame received; the blocks stay, for the next span.
    void clear() {
        m_block = 0;
        m_used = 0;
    }

private:
    void place(AVFrame& out);
    std::uint8_t* take(std::size_t bytes);

    struct Free {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };
    struct Block {
        std::unique_ptr<std::uint8_t, Free> bytes;
        std::size_t size = 0;
    };
    FramePtr m_received;
    std::vector<Block> m_blocks;
    std::size_t m_block = 0; ///< the block being filled
    std::size_t m_used = 0;  ///< of that block
};

} // namespace tavrin
