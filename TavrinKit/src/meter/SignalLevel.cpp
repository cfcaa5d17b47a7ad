#include "tavrin/meter/SignalLevel.h"

#include <algorithm>
#include <cmath>

namespace tavrin {
namespace {

std::optional<double> decibelsOfMeanSquare(double meanSquare) {
    return meanSquare > 0 ? std::optional(10 * std::log10(meanSquare)) : std::nullopt;
}

} // namespace

void SignalLevel::addStep(double squares, std::int64_t frames) {
    m_squares += squares;
    m_frames += frames;
    const std::size_t slot = m_steps % floorSteps;
    m_windowSquares += squares - m_recentSquares[slot];
    m_windowFrames += frames - m_recentFrames[slot];
    m_recentSquares[slot] = squares;
    m_recentFrames[slot] = frames;
    // Summed afresh once a round: a running sum would carry a loud passage's rounding on into the
    // quiet one after it, which is exactly where the floor is; within a round it stays far below
    // any floor that matters (1e-16 of full scale).
    if (slot == floorSteps - 1) {
        m_windowSquares = 0;
        for (const double recent : m_recentSquares)
            m_windowSquares += recent;
    }
    if (++m_steps < floorSteps)
        return;
    const double meanSquare =
        std::max(0.0, m_windowSquares) / static_cast<double>(m_windowFrames * m_channels);
    if (!m_quietest || meanSquare < *m_quietest)
        m_quietest = meanSquare;
}

std::optional<double> SignalLevel::rms(double tailSquares, std::int64_t tailFrames) const {
    const std::int64_t frames = m_frames + tailFrames;
    if (frames == 0)
        return std::nullopt;
    return decibelsOfMeanSquare((m_squares + tailSquares) /
                                static_cast<double>(frames * m_channels));
}

std::optional<double> SignalLevel::noiseFloor() const {
    return m_quietest ? decibelsOfMeanSquare(*m_quietest) : std::nullopt;
}

} // namespace tavrin
