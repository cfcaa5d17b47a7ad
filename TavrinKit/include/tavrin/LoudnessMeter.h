#pragma once

#include "tavrin/ChannelRole.h"
#include "tavrin/EnergyHistory.h"
#include "tavrin/LoudnessResult.h"
#include "tavrin/TruePeakDetector.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tavrin {

/// Turns a stream of multichannel samples into one LoudnessResult. Feed any number of buffers,
/// split any way, then call finish() once. One meter per measurement; not thread-safe.
///
/// Energy is K-weighted, weighted per channel and summed into 10 ms steps; step k covers frames
/// floor(fs·k/100) … floor(fs·(k+1)/100) − 1 of the stream whatever the buffer boundaries.
class LoudnessMeter {
public:
    /// One weight per channel. Requires sampleRate > 0 and at least one weight.
    LoudnessMeter(std::vector<double> weights, double sampleRate);
    /// Weights from roles. Requires sampleRate > 0 and at least one role.
    LoudnessMeter(const std::vector<ChannelRole>& roles, double sampleRate);

    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;
    LoudnessMeter(LoudnessMeter&&) = default;
    LoudnessMeter& operator=(LoudnessMeter&&) = default;

    /// One planar float buffer: one pointer per channel (as many as weights), `frameCount`
    /// frames each. Zero frames do nothing.
    void process(std::span<const float* const> channelData, std::size_t frameCount);
    /// One buffer as one list of doubles per channel, all of the same length.
    void process(const std::vector<std::vector<double>>& channels);

    /// Flushes the true-peak detectors and assembles the result. Call once, after the last buffer.
    [[nodiscard]] LoudnessResult finish();

    const std::vector<double>& weights() const { return m_weights; }
    std::size_t channelCount() const { return m_weights.size(); }
    EnergyHistory history() const { return m_history; }

private:
    void channelStep(std::size_t channel, const double* x, std::size_t frameCount);
    void accumulateSteps(std::size_t frameCount);

    double m_sampleRate;
    std::vector<double> m_weights;
    EnergyHistory m_history;
    std::array<double, 10> m_coefficients{};
    std::vector<std::array<double, 6>> m_delays;
    std::vector<TruePeakDetector> m_truePeaks;
    double m_samplePeak = 0;
    std::int64_t m_framesSeen = 0;
    std::int64_t m_stepIndex = 0;
    std::int64_t m_stepEnd = 0;
    double m_stepEnergy = 0;
    std::int64_t m_stepFrames = 0;
    std::vector<double> m_input;
    std::vector<std::vector<double>> m_filtered;
};

} // namespace tavrin
