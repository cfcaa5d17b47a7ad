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

    /// Makes room for the history of about `frames` frames, when the length of the stream is
    /// known beforehand. Optional: the history grows as needed either way.
    void reserve(std::int64_t frames);

    /// One planar float buffer: one pointer per channel (as many as weights), `frameCount`
    /// frames each. Zero frames do nothing.
    void process(std::span<const float* const> channelData, std::size_t frameCount);
    /// One buffer as one list of doubles per channel, all of the same length.
    void process(const std::vector<std::vector<double>>& channels);

    /// The work of one buffer of doubles (one pointer per channel) in parts, for callers that
    /// share it among threads: every part run once by processPart(), on any threads at once (the
    /// parts touch nothing in common), then commit() on one thread once all are done. The longest
    /// parts come first. The result is the same, to the bit, as process() gives.
    std::size_t partCount() const { return m_groups.size() + m_weights.size(); }
    /// The parts that K-weight come first: a caller that wants the loudness alone may run only
    /// these before commit(), and the result then has no peaks.
    std::size_t weightingPartCount() const { return m_groups.size(); }
    void processPart(std::size_t part, const double* const* channels, std::size_t frameCount);
    void commit(std::size_t frameCount);

    /// Flushes the true-peak detectors and assembles the result. Call once, after the last buffer.
    [[nodiscard]] LoudnessResult finish();

    const std::vector<double>& weights() const { return m_weights; }
    std::size_t channelCount() const { return m_weights.size(); }
    const EnergyHistory& history() const { return m_history; }

private:
    /// Weighted channels are K-weighted a few at a time, one per vector lane.
    struct LaneGroup {
        std::size_t first = 0; ///< index of its first channel in m_weighted
        std::size_t lanes = 1; ///< 1, 2 or 4
    };

    void processDoubles(const double* const* channels, std::size_t frameCount);
    /// Calls fn(first, count, endsStep) for each run of this buffer's frames within one 10 ms
    /// step, in order, without changing the meter.
    template <class Fn> void forEachSpan(std::size_t frameCount, Fn fn) const;

    double m_sampleRate;
    std::vector<double> m_weights;
    EnergyHistory m_history;
    std::array<double, 10> m_coefficients{};
    std::vector<std::size_t> m_weighted; ///< channels with weight > 0, in order
    std::vector<LaneGroup> m_groups;
    std::vector<double> m_delays; ///< six values of filter state per weighted channel
    std::vector<TruePeakDetector> m_truePeaks;
    std::int64_t m_framesSeen = 0;
    std::int64_t m_stepIndex = 0;
    std::int64_t m_stepEnd = 0;
    double m_stepEnergy = 0;
    std::int64_t m_stepFrames = 0;
    std::vector<std::vector<double>> m_input;    ///< per channel: the buffer in double precision
    std::vector<std::vector<double>> m_filtered; ///< per lane group: interleaved K-weighted samples
    std::vector<std::vector<double>> m_spanSums; ///< per lane group: each span's sums, lane by lane
    std::vector<const double*> m_pointers;
};

} // namespace tavrin
