#include "meter/IntegrityScan.h"

#include <algorithm>
#include <cmath>

namespace tavrin {

IntegrityScan::IntegrityScan(std::size_t channels, double sampleRate)
    : m_rate(sampleRate), m_millisecond(std::max<std::int64_t>(std::llround(sampleRate / 1000), 1)),
      m_longestGap(std::llround(sampleRate / 10)), m_channels(channels) {}

void IntegrityScan::scanHeld(const double* const* channels, std::size_t frames,
                             const std::vector<double>& peaks) {
    for (std::size_t c = 0; c < m_channels.size(); ++c) {
        Channel& channel = m_channels[c];
        // Most chunks never come near full scale: nothing in them can be held there.
        if (peaks[c] >= clipLevel)
            scanClipping(channel, channels[c], frames);
        else
            endRun(channel, m_seen);
    }
    m_seen += static_cast<std::int64_t>(frames);
}

void IntegrityScan::scanClipping(Channel& channel, const double* x, std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        const double value = x[i];
        const auto at = m_seen + static_cast<std::int64_t>(i);
        if (!(std::fabs(value) >= clipLevel)) {
            endRun(channel, at);
        } else if (channel.length > 0 && value == channel.held) {
            ++channel.length;
        } else {
            endRun(channel, at);
            channel.held = value;
            channel.length = 1;
        }
    }
}

void IntegrityScan::endRun(Channel& channel, std::int64_t end) {
    if (channel.length >= clipRun) {
        ++m_clipRuns;
        const std::int64_t start = end - channel.length;
        m_firstClip = m_firstClip < 0 ? start : std::min(m_firstClip, start);
    }
    channel.length = 0;
}

bool IntegrityScan::silentFrame(const double* const* channels, std::size_t frame) const {
    for (std::size_t c = 0; c < m_channels.size(); ++c)
        if (channels[c][frame] != 0)
            return false;
    return true;
}

bool IntegrityScan::programmeIn(const double* const* channels, std::size_t from,
                                std::size_t to) const {
    for (std::size_t c = 0; c < m_channels.size(); ++c)
        for (std::size_t f = from; f < to; ++f)
            if (std::fabs(channels[c][f]) >= programmeLevel)
                return true;
    return false;
}

void IntegrityScan::countDropout() {
    ++m_dropouts;
    if (m_firstDropout < 0)
        m_firstDropout = m_awaitedStart;
}

void IntegrityScan::gapEnded(const double* const* channels, std::size_t frames, std::size_t endIn) {
    const std::int64_t length = m_seen + static_cast<std::int64_t>(endIn) - m_gapStart;
    m_awaitedStart = m_gapStart;
    m_gapStart = -1;
    if (!m_programmeBefore || length < m_millisecond || length > m_longestGap)
        return;
    const auto look = std::min(static_cast<std::size_t>(m_millisecond), frames - endIn);
    if (programmeIn(channels, endIn, endIn + look)) {
        countDropout();
    } else if (look < static_cast<std::size_t>(m_millisecond)) {
        m_awaitingAfter = true;
        m_afterLeft = m_millisecond - static_cast<std::int64_t>(look);
    }
}

void IntegrityScan::scanSilence(const double* const* channels, std::size_t frames) {
    const auto ms = static_cast<std::size_t>(m_millisecond);
    if (m_awaitingAfter) {
        const auto look = std::min(frames, static_cast<std::size_t>(m_afterLeft));
        m_afterLeft -= static_cast<std::int64_t>(look);
        m_awaitingAfter = m_afterLeft > 0;
        if (programmeIn(channels, 0, look)) {
            countDropout();
            m_awaitingAfter = false;
        }
    }
    std::size_t from = 0; // frames before this are accounted for
    if (m_gapStart >= 0) {
        while (from < frames && silentFrame(channels, from))
            ++from;
        if (from == frames)
            return;
        gapEnded(channels, frames, from);
    }
    for (;;) {
        const std::size_t probe = silentProbe(channels, frames, from, m_seen);
        if (probe >= frames)
            break;
        std::size_t start = probe, end = probe + 1;
        while (start > from && silentFrame(channels, start - 1))
            --start;
        while (end < frames && silentFrame(channels, end))
            ++end;
        const std::int64_t absoluteStart = m_seen + static_cast<std::int64_t>(start);
        m_gapStart = absoluteStart;
        m_programmeBefore = programmeIn(channels, start - std::min(start, ms), start) ||
                            (start < ms && m_lastProgramme >= 0 &&
                             m_lastProgramme >= absoluteStart - m_millisecond);
        if (end == frames)
            return; // the gap goes on into the next chunk
        gapEnded(channels, frames, end);
        from = end;
    }
    // The last programme in this chunk's final millisecond, for a gap that starts the next one.
    if (const std::int64_t last = lastProgramme(channels, frames, m_seen); last >= 0)
        m_lastProgramme = last;
}

std::size_t IntegrityScan::silentProbe(const double* const* channels, std::size_t frames,
                                       std::size_t from, std::int64_t first) const {
    // A gap of a millisecond or more holds a frame whose index is a multiple of a millisecond:
    // only those are looked at until one is silent.
    const auto ms = static_cast<std::size_t>(m_millisecond);
    const auto offset = static_cast<std::size_t>((first + std::int64_t(from)) % m_millisecond);
    std::size_t probe = from + (offset == 0 ? 0 : ms - offset);
    while (probe < frames && !silentFrame(channels, probe))
        probe += ms;
    return std::min(probe, frames);
}

std::int64_t IntegrityScan::lastProgramme(const double* const* channels, std::size_t frames,
                                          std::int64_t first) const {
    const auto ms = static_cast<std::size_t>(m_millisecond);
    for (std::size_t f = frames; f-- > frames - std::min(frames, ms);)
        if (programmeIn(channels, f, f + 1))
            return first + static_cast<std::int64_t>(f);
    return -1;
}

IntegrityScan::SilenceProbe IntegrityScan::probeSilence(const double* const* channels,
                                                        std::size_t frames,
                                                        std::int64_t first) const {
    return {silentProbe(channels, frames, 0, first) < frames,
            lastProgramme(channels, frames, first)};
}

bool IntegrityScan::scanSilence(const SilenceProbe& probe) {
    if (probe.silent || m_gapStart >= 0 || m_awaitingAfter)
        return false;
    if (probe.lastProgramme >= 0)
        m_lastProgramme = probe.lastProgramme;
    return true;
}

std::vector<Finding> IntegrityScan::finish(const std::vector<double>& sums,
                                           const FileTime& fileTime) {
    for (Channel& channel : m_channels)
        endRun(channel, m_seen);
    std::vector<Finding> findings;
    const auto seconds = [&](std::int64_t frame) {
        return fileTime.of(static_cast<double>(frame) / m_rate);
    };
    if (m_clipRuns > 0)
        findings.push_back(Findings::clipping(m_clipRuns, seconds(m_firstClip)));
    if (m_dropouts > 0)
        findings.push_back(Findings::dropout(m_dropouts, seconds(m_firstDropout)));
    std::vector<int> offset;
    double largest = 0;
    for (std::size_t c = 0; c < m_channels.size() && m_seen > 0; ++c) {
        const double mean = std::fabs(sums[c] / static_cast<double>(m_seen));
        if (mean >= dcLevel) {
            offset.push_back(static_cast<int>(c + 1));
            largest = std::max(largest, mean);
        }
    }
    if (!offset.empty())
        findings.push_back(Findings::dcOffset(offset, largest));
    return findings;
}

std::optional<Finding> IntegrityScan::phase(double left, double right, double cross) {
    if (!(left > 0) || !(right > 0))
        return std::nullopt;
    const double correlation = cross / std::sqrt(left * right);
    if (!(correlation <= -0.5))
        return std::nullopt;
    // Folded down as (L + R) / 2 on both speakers, in-phase programme keeps its loudness.
    const double stereo = left + right;
    const double mono = std::max((left + right + 2 * cross) / 2, stereo * 1e-6);
    return Findings::phase(correlation, 10 * std::log10(stereo / mono));
}

} // namespace tavrin
