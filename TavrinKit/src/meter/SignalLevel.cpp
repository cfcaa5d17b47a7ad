#include "tavrin/meter/SignalLevel.h"

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
    m_recentSquares[m_steps % floorSteps] = squares;
    m_recentFrames[m_steps % floorSteps] = frames;
    if (++m_steps < floorSteps)
        return;
    // Summed afresh every step: a running sum would carry a loud passage's rounding into the
    // quiet one after it, which is exactly where the floor is.
    double window = 0;
    std::int64_t frameCount = 0;
    for (std::size_t i = 0; i < floorSteps; ++i) {
        window += m_recentSquares[i];
        frameCount += m_recentFrames[i];
    }
    const double meanSquare = window / static_cast<double>(frameCount * m_channels);
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
