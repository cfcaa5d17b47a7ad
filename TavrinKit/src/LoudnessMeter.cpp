#include "tavrin/LoudnessMeter.h"

#include "tavrin/Expects.h"
#include "tavrin/KWeighting.h"
#include "tavrin/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace tavrin {
namespace {

/// End of step `index` in frames: floor(fs·(index + 1)/100), in exactly that order.
std::int64_t stepEndFrame(double sampleRate, std::int64_t index) {
    return static_cast<std::int64_t>(std::floor(sampleRate * static_cast<double>(index + 1) / 100));
}

/// Loudness of the loudest window: the formula is monotonic in mean energy, so the largest
/// mean energy gives the largest loudness. Absent without windows or when all are silent.
std::optional<double> maxWindowLoudness(const EnergyHistory& history, std::size_t window) {
    const std::size_t n = history.stepCount();
    if (n < window)
        return std::nullopt;
    double loudest = 0;
    for (std::size_t s = 0; s + window <= n; ++s)
        loudest = std::max(loudest, history.meanEnergy(s, window));
    const double value = EnergyHistory::loudness(loudest);
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

std::optional<double> decibels(double linear) {
    return linear > 0 ? std::optional(20 * std::log10(linear)) : std::nullopt;
}

} // namespace

LoudnessMeter::LoudnessMeter(std::vector<double> weights, double sampleRate)
    : m_sampleRate(sampleRate), m_weights(std::move(weights)) {
    TAVRIN_EXPECTS(sampleRate > 0);
    TAVRIN_EXPECTS(!m_weights.empty());
    const auto stages = KWeighting::stages(sampleRate);
    for (std::size_t s = 0; s < stages.size(); ++s) {
        const Biquad& b = stages[s];
        std::copy_n(std::array{b.b0, b.b1, b.b2, b.a1, b.a2}.begin(), 5,
                    m_coefficients.begin() + static_cast<std::ptrdiff_t>(5 * s));
    }
    m_delays.assign(m_weights.size(), {});
    m_truePeaks.resize(m_weights.size());
    m_filtered.resize(m_weights.size());
    m_stepEnd = stepEndFrame(sampleRate, 0);
}

LoudnessMeter::LoudnessMeter(const std::vector<ChannelRole>& roles, double sampleRate)
    : LoudnessMeter(tavrin::weights(roles), sampleRate) {}

void LoudnessMeter::process(std::span<const float* const> channelData, std::size_t frameCount) {
    TAVRIN_EXPECTS(channelData.size() == m_weights.size());
    if (frameCount == 0)
        return;
    if (m_input.size() < frameCount)
        m_input.assign(frameCount, 0.0);
    for (std::size_t c = 0; c < channelData.size(); ++c) {
        VectorOps::floatToDouble(channelData[c], m_input.data(), frameCount);
        channelStep(c, m_input.data(), frameCount);
    }
    accumulateSteps(frameCount);
}

void LoudnessMeter::process(const std::vector<std::vector<double>>& channels) {
    TAVRIN_EXPECTS(channels.size() == m_weights.size());
    const std::size_t frameCount = channels.front().size();
    for (const auto& channel : channels)
        TAVRIN_EXPECTS(channel.size() == frameCount);
    if (frameCount == 0)
        return;
    for (std::size_t c = 0; c < channels.size(); ++c)
        channelStep(c, channels[c].data(), frameCount);
    accumulateSteps(frameCount);
}

void LoudnessMeter::channelStep(std::size_t channel, const double* x, std::size_t frameCount) {
    // Peaks are taken on the unweighted input of every channel, LFE included.
    m_samplePeak = std::max(m_samplePeak, VectorOps::maxMagnitude(x, frameCount));
    m_truePeaks[channel].process(x, frameCount);
    if (!(m_weights[channel] > 0))
        return; // never filtered, never summed
    auto& filtered = m_filtered[channel];
    if (filtered.size() < frameCount)
        filtered.assign(frameCount, 0.0);
    VectorOps::biquadCascade(m_coefficients, m_delays[channel], x, filtered.data(), frameCount);
}

void LoudnessMeter::accumulateSteps(std::size_t frameCount) {
    std::size_t pos = 0;
    while (pos < frameCount) {
        const std::size_t chunkEnd =
            std::min(pos + static_cast<std::size_t>(m_stepEnd - m_framesSeen), frameCount);
        const std::size_t len = chunkEnd - pos;
        for (std::size_t c = 0; c < m_weights.size(); ++c)
            if (m_weights[c] > 0)
                m_stepEnergy +=
                    m_weights[c] * VectorOps::sumOfSquares(m_filtered[c].data() + pos, len);
        m_stepFrames += static_cast<std::int64_t>(len);
        m_framesSeen += static_cast<std::int64_t>(len);
        if (m_framesSeen == m_stepEnd) {
            m_history.append(m_stepEnergy, m_stepFrames);
            m_stepEnergy = 0;
            m_stepFrames = 0;
            ++m_stepIndex;
            m_stepEnd = stepEndFrame(m_sampleRate, m_stepIndex);
        }
        pos = chunkEnd;
    }
}

LoudnessResult LoudnessMeter::finish() {
    double truePeak = 0;
    for (auto& detector : m_truePeaks) {
        detector.flush();
        truePeak = std::max(truePeak, detector.peak());
    }
    LoudnessResult result;
    result.integrated = m_history.integratedLoudness();
    result.loudnessRange = m_history.loudnessRange();
    result.maxMomentary = maxWindowLoudness(m_history, EnergyHistory::momentarySteps);
    result.maxShortTerm = maxWindowLoudness(m_history, EnergyHistory::shortTermSteps);
    result.samplePeak = decibels(m_samplePeak);
    // The input samples are the interpolation's zero phase: never report below the sample peak.
    result.truePeak = decibels(std::max(truePeak, m_samplePeak));
    result.duration = static_cast<double>(m_framesSeen) / m_sampleRate;
    result.sampleRate = m_sampleRate;
    result.channels = static_cast<int>(m_weights.size());
    return result;
}

} // namespace tavrin
