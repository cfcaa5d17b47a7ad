#pragma once

#include "tavrin/decode/ChannelRole.h"
#include "tavrin/dsp/TruePeakDetector.h"
#include "tavrin/dsp/VectorOps.h"
#include "tavrin/meter/EnergyHistory.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/SignalLevel.h"
#include "tavrin/meter/Timeline.h"

#include <array>
#include <cstdint>
#include <optional>
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
    /// these before commit(), and the result then has no peaks and no plain level.
    std::size_t weightingPartCount() const { return m_groups.size(); }
    void processPart(std::size_t part, const double* const* channels, std::size_t frameCount,
                     std::size_t pass = 0);
    void commit(std::size_t frameCount, std::size_t pass = 0);

    /// Stretches of the stream metered apart, on several threads at once, each by a pass of its
    /// own: its K-weighting's state and its true-peak detectors. Pass 0 is the meter's own;
    /// addPass() adds another and returns its number. Buffers are still committed in the
    /// stream's order, on one thread, each by the pass that ran its parts, while other passes'
    /// parts run. What a pass ran on a buffer never committed counts for nothing.
    std::size_t addPass();
    /// Moves `pass` on to frame `frame` of the stream, the next it meters: `before` holds the
    /// `beforeFrames` frames just before it, from which its K-weighting starts at rest. With
    /// settlingFrames() of them, the loudness differs from a filter run through the stream by
    /// under 1e-10 LU; peaks, levels and their times don't differ.
    void startPass(std::size_t pass, std::int64_t frame, const double* const* before,
                   std::size_t beforeFrames);
    /// Moves `pass` on to frame `frame`, straight after the buffer whose parts `previous` ran
    /// last, which `before` holds (`beforeFrames` frames, ending there): the K-weighting goes on
    /// from where that one stopped, as one pass would have gone on.
    void followPass(std::size_t pass, std::size_t previous, std::int64_t frame,
                    const double* const* before, std::size_t beforeFrames);
    std::size_t settlingFrames() const { return m_settlingFrames; }

    /// Gathers the loudness timeline in the same pass as well. Call before the first buffer.
    void keepTimeline();

    /// Flushes the true-peak detectors and assembles the result. Call once, after the last buffer.
    [[nodiscard]] LoudnessResult finish();

    /// The timeline, once finish() has been called after keepTimeline(); empty otherwise. The
    /// meter no longer holds it afterwards.
    [[nodiscard]] Timeline takeTimeline() { return std::move(m_timeline); }

    /// The K-weighted energies of the first two channels, and the sum of their products, over
    /// every fourth 10 ms step metered: what the pair's correlation and its mono fold-down follow
    /// from.
    struct PairEnergy {
        double left = 0;
        double right = 0;
        double cross = 0;
    };
    /// Absent unless the first two channels are both weighted (stereo, or 5.1's front pair).
    std::optional<PairEnergy> frontPair() const;
    /// Per channel, at least the largest sample magnitude of the last buffer of `pass`.
    const std::vector<double>& bufferPeaks(std::size_t pass = 0) const {
        return m_passes[pass].bufferPeaks;
    }
    /// Per channel, the sum of every sample metered.
    const std::vector<double>& sampleSums() const { return m_sampleSums; }

    const std::vector<double>& weights() const { return m_weights; }
    std::size_t channelCount() const { return m_weights.size(); }
    const EnergyHistory& history() const { return m_history; }

private:
    /// Weighted channels are K-weighted a few at a time, one per vector lane.
    struct LaneGroup {
        std::size_t first = 0; ///< index of its first channel in m_weighted
        std::size_t lanes = 1; ///< 1 or 2
    };

    /// What a pass carries from one of its buffers to the next, and what its last buffer's parts
    /// leave for commit().
    struct Pass {
        std::int64_t framesSeen = 0;     ///< where its next buffer starts in the stream
        std::int64_t stepIndex = 0;      ///< the 10 ms step that frame is in
        std::vector<double> filterState; ///< eight values per weighted channel
        std::vector<TruePeakDetector> truePeaks;
        std::vector<double> bufferPeaks;
        std::vector<double> bufferSums; ///< per channel: the last buffer's sum of samples
        PairEnergy bufferPair;          ///< the last buffer's share of the front pair's
        /// The detectors as the last commit left them: a buffer whose parts ran but that was
        /// never committed counts for nothing.
        std::vector<TruePeakDetector> committedPeaks;
        std::vector<std::vector<double>> spanSums;    ///< per lane group: each span's, lane by lane
        std::vector<std::vector<double>> spanSquares; ///< per channel: each span's sum of squares
        std::vector<std::vector<double>> runPeaks; ///< per channel: each 100 ms run's peak, linear
    };

    void processDoubles(const double* const* channels, std::size_t frameCount);
    /// Sets where `pass` meters next, and its detectors' history from `before`.
    void moveTo(Pass& pass, std::int64_t frame, const double* const* before,
                std::size_t beforeFrames);
    bool hasFrontPair() const;
    /// Calls fn(first, count, endsStep) for each run of the frames of a buffer starting where
    /// `pass` is within one step of `stepsPerSpan` 10 ms steps (1 or 10, aligned to the start),
    /// in order, without changing the meter.
    template <class Fn>
    void forEachSpan(const Pass& pass, std::size_t frameCount, std::int64_t stepsPerSpan,
                     Fn fn) const;
    /// The timeline's share of commit(): the runs' peaks, channel by channel, into the 100 ms
    /// steps they belong to.
    void commitPeaks(const Pass& pass, std::size_t frameCount);
    /// The timeline's share of a completed 10 ms step: the 100 ms step it may end.
    void stepCompleted();
    /// Adds the 100 ms timeline step of the 10 ms steps after step `after`: the loudest windows
    /// ending in it and its true peak `peak`, linear.
    void addTimelineStep(std::size_t after, double peak);
    void finishTimeline(double duration, double tailPeak);

    double m_sampleRate;
    std::vector<double> m_weights;
    EnergyHistory m_history;
    VectorOps::KWeightingFilter m_filter;
    std::vector<std::size_t> m_weighted; ///< channels with weight > 0, in order
    std::vector<LaneGroup> m_groups;
    std::size_t m_settlingFrames;
    std::vector<Pass> m_passes;
    std::size_t m_lastPass = 0; ///< the pass that committed the last buffer
    // Added up a buffer at a time in the stream's order, however the buffers were shared out.
    std::vector<double> m_sampleSums; ///< per channel
    PairEnergy m_frontPair;
    std::int64_t m_framesSeen = 0;
    std::int64_t m_stepIndex = 0;
    double m_stepEnergy = 0;
    std::int64_t m_stepFrames = 0;
    double m_stepSquares = 0; ///< unweighted, over every channel
    SignalLevel m_level;
    std::vector<std::vector<double>> m_input; ///< per channel: the buffer in double precision
    std::vector<const double*> m_pointers;

    // The timeline, when kept: the 100 ms step being gathered, and the finished steps.
    bool m_keepTimeline = false;
    std::vector<double> m_runMax; ///< per run of this buffer: across channels
    std::size_t m_runsClosed = 0; ///< runs of this buffer whose step has ended
    double m_stepPeak = 0;        ///< linear, the open 100 ms step's so far
    TimelineBuilder m_builder;
    Timeline m_timeline;
};

} // namespace tavrin
