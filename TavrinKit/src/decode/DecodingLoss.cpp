#include "decode/DecodingLoss.h"

#include <algorithm>
#include <cmath>

namespace tavrin {
namespace {
constexpr std::size_t maxGaps = 4096;
}

void DecodingLossTally::decoded(std::int64_t frames) {
    m_decoded += double(frames);
    m_lastFrame = frames;
    m_longestFrame = std::max(m_longestFrame, frames);
    m_inRun = false;
}

void DecodingLossTally::dropped(double frames) {
    lose(frames > 0 ? frames : double(m_lastFrame));
}

void DecodingLossTally::skipped(double frames) {
    lose(frames);
}

void DecodingLossTally::lose(double frames) {
    if (!(frames > 0))
        return;
    if (!m_inRun) {
        m_inRun = true;
        m_run = 0;
        m_runAt = m_decoded + m_lost; // where the run begins in the stream as it should have been
        if (m_gaps.size() < maxGaps)
            m_gaps.push_back({m_decoded, 0});
    }
    m_gaps.back().frames += frames;
    m_run += frames;
    m_lost += frames;
    if (m_run > m_longestRun) {
        m_longestRun = m_run;
        m_longestRunAt = m_runAt;
    }
}

std::vector<DecodingGap> DecodingLossTally::gapsInside(double room) const {
    std::vector<DecodingGap> gaps = m_gaps;
    if (m_inRun && !gaps.empty()) // a run at the very end may be a cut; nothing follows it
        gaps.back().frames -= m_run;
    for (DecodingGap& gap : gaps) {
        gap.frames = std::clamp(gap.frames, 0.0, room);
        room -= gap.frames;
    }
    std::erase_if(gaps, [](const DecodingGap& gap) { return !(gap.frames > 0); });
    return gaps;
}

DecodingLoss DecodingLossTally::finish(std::optional<std::int64_t> declared, std::int64_t decoded,
                                       std::int64_t plausible, double rate) const {
    if (!(rate > 0))
        return {};
    // Losses that decoding went on after lie inside the stream; a run of them at the very end
    // may be a packet cut in half, and belongs to a cut.
    const double inside = m_lost - (m_inRun ? m_run : 0);
    double lost = m_lost, cutOff = 0;
    if (declared) {
        // Decoders drop their delay at the start and their padding at the end, which containers
        // may count in the length: up to a few frames that are no loss.
        const double shortfall = double(*declared) - double(decoded);
        lost = shortfall > 4.0 * double(m_longestFrame) ? shortfall : 0;
        // Damage inside the stream also hides frames the decoder skipped without a word (an MP3
        // parser steps over garbage): the shortfall is then that damage, not a cut.
        if (!(inside > 0)) {
            cutOff = lost;
            lost = 0;
        }
    }
    const double room = std::max(double(plausible) - double(decoded), 0.0);
    lost = std::min(lost, room);
    cutOff = std::min(cutOff, room - lost);
    DecodingLoss loss;
    if (lost > 0 && std::isfinite(lost / rate)) {
        loss.seconds = lost / rate;
        if (m_longestRun > 0)
            loss.at = m_longestRunAt / rate;
    }
    if (cutOff > 0 && std::isfinite(cutOff / rate))
        loss.cutOffSeconds = cutOff / rate;
    return loss;
}

} // namespace tavrin
