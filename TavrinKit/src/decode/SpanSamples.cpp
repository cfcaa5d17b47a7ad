#include "decode/FrameDoubles.h"
#include "decode/SpanWork.h"

#include <algorithm>

namespace tavrin {

void SpanSamples::read(std::size_t from, std::size_t count, double* const* out) const {
    auto frame = std::size_t(std::upper_bound(m_ends, m_ends + m_frameCount, from) - m_ends);
    for (std::size_t at = 0; at < count; ++frame) {
        const std::size_t frameStart = frame == 0 ? 0 : m_ends[frame - 1];
        const std::size_t n = std::min(count - at, m_ends[frame] - (from + at));
        convertStraight(*m_frames[frame], m_channels, from + at - frameStart, n, out, at);
        at += n;
    }
}

} // namespace tavrin
