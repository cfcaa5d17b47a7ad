#pragma once

// Private to TavrinKit: the last frames metered, which a K-weighting starting afresh settles on.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tavrin {

/// Keeps the last `capacity` frames of the chunks handed to it, in one buffer per channel.
class FrameTail {
public:
    FrameTail(std::size_t channels, std::size_t capacity)
        : m_capacity(capacity), m_channels(channels, std::vector<double>(capacity)) {
        for (auto& channel : m_channels)
            m_pointers.push_back(channel.data());
    }

    /// Keeps the last frames of the chunk that follows those kept.
    void add(const double* const* chunk, std::size_t frames) {
        const std::size_t added = std::min(frames, m_capacity);
        const std::size_t kept = std::min(m_frames, m_capacity - added);
        for (std::size_t c = 0; c < m_channels.size(); ++c) {
            double* to = m_pointers[c];
            std::copy_n(to + m_frames - kept, kept, to);
            std::copy_n(chunk[c] + frames - added, added, to + kept);
        }
        m_frames = kept + added;
    }

    const double* const* channels() const { return m_pointers.data(); }
    std::size_t frames() const { return m_frames; }

private:
    std::size_t m_capacity;
    std::size_t m_frames = 0;
    std::vector<std::vector<double>> m_channels;
    std::vector<double*> m_pointers;
};

} // namespace tavrin
