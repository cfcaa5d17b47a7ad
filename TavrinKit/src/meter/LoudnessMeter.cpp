#include "tavrin/meter/LoudnessMeter.h"

#include "tavrin/core/Expects.h"
#include "tavrin/dsp/KWeighting.h"
#include "tavrin/dsp/VectorOps.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace tavrin {
namespace {

/// End of step `index` in frames: floor(fs·(index + 1)/100), in exactly that order.
std::int64_t stepEndFrame(double sampleRate, std::int64_t index) {
    return static_cast<std::int64_t>(std::floor(sampleRate * static_cast<double>(index + 1) / 100));
}

/// The loudest window of `window` steps in the whole history: its loudness and the step where it
/// ends, or nothing when the history is shorter or silent. The formula is monotonic in mean
/// energy, so the largest mean energy gives the largest loudness.
struct LoudestWindow {
    double loudness;
    std::size_t endStep;
};
std::optional<LoudestWindow> loudestWindow(const EnergyHistory& history, std::size_t window) {
    const auto loudest = history.loudestWindow(window);
    const double value = EnergyHistory::loudness(loudest.meanEnergy);
    return std::isfinite(value) ? std::optional(LoudestWindow{value, loudest.end}) : std::nullopt;
}

std::optional<double> decibels(double linear) {
    return linear > 0 ? std::optional(20 * std::log10(linear)) : std::nullopt;
}

/// The front pair's products are summed in one 10 ms step of this many.
constexpr std::int64_t pairSampling = 4;

/// 10 ms steps per timeline step.
constexpr std::int64_t timelineSteps = 10;

/// A timeline value from a window's mean energy: absent at or below the floor.
std::optional<double> timelineLoudness(double meanEnergy) {
    const double value = EnergyHistory::loudness(meanEnergy);
    return value > Timeline::floorLUFS ? std::optional(value) : std::nullopt;
}

/// Flushes subnormal numbers to zero while it lives: after a loud passage fades to silence the
/// filter state decays into subnormals, which would otherwise slow the recursion many times over.
/// Values that small change no reading.
class FlushDenormals {
public:
#if defined(__SSE__)
    FlushDenormals() : m_saved(_mm_getcsr()) {
        _mm_setcsr(m_saved | 0x8040);
    } // FTZ | DAZ
    ~FlushDenormals() {
        _mm_setcsr(m_saved);
    }

private:
    unsigned m_saved;
#endif
};

} // namespace

LoudnessMeter::LoudnessMeter(std::vector<double> weights, double sampleRate)
    : m_sampleRate(sampleRate), m_weights(std::move(weights)),
      m_level(static_cast<int>(m_weights.size())) {
    TAVRIN_EXPECTS(sampleRate > 0);
    TAVRIN_EXPECTS(!m_weights.empty());
    const auto stages = KWeighting::stages(sampleRate);
    m_filter = VectorOps::kWeightingFilter(stages[0], stages[1]);
    for (std::size_t c = 0; c < m_weights.size(); ++c)
        if (m_weights[c] > 0) // channels with weight 0 are never filtered, never summed
            m_weighted.push_back(c);
    for (std::size_t first = 0; first < m_weighted.size();) {
        const std::size_t left = m_weighted.size() - first;
        const std::size_t lanes = left >= 2 ? 2 : 1;
        m_groups.push_back({first, lanes});
        first += lanes;
    }
    m_settlingFrames = KWeighting::settlingFrames(sampleRate);
    m_input.resize(m_weights.size());
    m_pointers.resize(m_weights.size());
    m_sampleSums.resize(m_weights.size());
    addPass();
}

std::size_t LoudnessMeter::addPass() {
    Pass& pass = m_passes.emplace_back();
    pass.filterState.assign(8 * m_weighted.size(), 0.0);
    pass.truePeaks.resize(m_weights.size());
    pass.committedPeaks.resize(m_weights.size());
    pass.bufferPeaks.resize(m_weights.size());
    pass.bufferSums.resize(m_weights.size());
    pass.spanSums.resize(m_groups.size());
    pass.spanSquares.resize(m_weights.size());
    pass.runPeaks.resize(m_keepTimeline ? m_weights.size() : 0);
    return m_passes.size() - 1;
}

void LoudnessMeter::moveTo(Pass& pass, std::int64_t frame, const double* const* before,
                           std::size_t beforeFrames) {
    pass.framesSeen = frame;
    pass.stepIndex = frame * 100 / static_cast<std::int64_t>(m_sampleRate);
    while (stepEndFrame(m_sampleRate, pass.stepIndex) <= frame)
        ++pass.stepIndex;
    while (pass.stepIndex > 0 && stepEndFrame(m_sampleRate, pass.stepIndex - 1) > frame)
        --pass.stepIndex;
    for (std::size_t c = 0; c < m_weights.size(); ++c)
        pass.truePeaks[c].resumeAt(frame, before[c], beforeFrames);
}

void LoudnessMeter::startPass(std::size_t pass, std::int64_t frame, const double* const* before,
                              std::size_t beforeFrames) {
    const FlushDenormals flushDenormals;
    Pass& p = m_passes.at(pass);
    moveTo(p, frame, before, beforeFrames);
    // The K-weighting starts from rest on the frames before; what they leave is the stream's
    // state there, to within rounding. Their energy isn't this pass's.
    std::ranges::fill(p.filterState, 0.0);
    for (const LaneGroup& group : m_groups) {
        std::array<const double*, 2> in{};
        for (std::size_t j = 0; j < group.lanes; ++j)
            in[j] = before[m_weighted[group.first + j]];
        std::array<double, 3> sums{};
        VectorOps::kWeightedEnergy(m_filter, &p.filterState[8 * group.first], in.data(),
                                   group.lanes, beforeFrames, sums.data());
    }
}

void LoudnessMeter::followPass(std::size_t pass, std::size_t previous, std::int64_t frame,
                               const double* const* before, std::size_t beforeFrames) {
    Pass& p = m_passes.at(pass);
    moveTo(p, frame, before, beforeFrames);
    p.filterState = m_passes.at(previous).filterState;
}

void LoudnessMeter::reserve(std::int64_t frames) {
    if (frames > 0)
        m_history.reserve(
            static_cast<std::size_t>(static_cast<double>(frames) / m_sampleRate * 100) + 1);
}

LoudnessMeter::LoudnessMeter(const std::vector<ChannelRole>& roles, double sampleRate)
    : LoudnessMeter(tavrin::weights(roles), sampleRate) {}

void LoudnessMeter::process(std::span<const float* const> channelData, std::size_t frameCount) {
    TAVRIN_EXPECTS(channelData.size() == m_weights.size());
    if (frameCount == 0)
        return;
    for (std::size_t c = 0; c < channelData.size(); ++c) {
        auto& input = m_input[c];
        if (input.size() < frameCount)
            input.assign(frameCount, 0.0);
        VectorOps::floatToDouble(channelData[c], input.data(), frameCount);
        m_pointers[c] = input.data();
    }
    processDoubles(m_pointers.data(), frameCount);
}

void LoudnessMeter::process(const std::vector<std::vector<double>>& channels) {
    TAVRIN_EXPECTS(channels.size() == m_weights.size());
    const std::size_t frameCount = channels.front().size();
    for (std::size_t c = 0; c < channels.size(); ++c) {
        TAVRIN_EXPECTS(channels[c].size() == frameCount);
        m_pointers[c] = channels[c].data();
    }
    if (frameCount > 0)
        processDoubles(m_pointers.data(), frameCount);
}

void LoudnessMeter::processDoubles(const double* const* channels, std::size_t frameCount) {
    for (std::size_t part = 0; part < partCount(); ++part)
        processPart(part, channels, frameCount);
    commit(frameCount);
}

template <class Fn>
void LoudnessMeter::forEachSpan(const Pass& pass, std::size_t frameCount, std::int64_t stepsPerSpan,
                                Fn fn) const {
    std::int64_t seen = pass.framesSeen, index = pass.stepIndex;
    // The span holding step `index` ends where the last 10 ms step of its group does.
    const auto spanEnd = [&] {
        return stepEndFrame(m_sampleRate, (index / stepsPerSpan + 1) * stepsPerSpan - 1);
    };
    std::int64_t end = spanEnd();
    for (std::size_t first = 0; first < frameCount;) {
        const std::size_t count =
            std::min(static_cast<std::size_t>(end - seen), frameCount - first);
        seen += static_cast<std::int64_t>(count);
        const bool endsStep = seen == end;
        fn(first, count, endsStep);
        if (endsStep) {
            index = (index / stepsPerSpan + 1) * stepsPerSpan;
            end = spanEnd();
        }
        first += count;
    }
}

void LoudnessMeter::processPart(std::size_t part, const double* const* channels,
                                std::size_t frameCount, std::size_t pass) {
    const FlushDenormals flushDenormals; // the setting belongs to the thread
    Pass& p = m_passes[pass];
    if (part < m_groups.size()) {
        // K-weighting, a lane group at a time: the longest parts, a recursion along the buffer,
        // giving the energy of each span of a step for commit() to add up in order.
        const LaneGroup& group = m_groups[part];
        auto& spanSums = p.spanSums[part];
        spanSums.clear();
        if (part == 0)
            p.bufferPair = {};
        std::int64_t step = p.stepIndex;
        forEachSpan(p, frameCount, 1, [&](std::size_t first, std::size_t count, bool endsStep) {
            std::array<const double*, 2> in{};
            for (std::size_t j = 0; j < group.lanes; ++j)
                in[j] = channels[m_weighted[group.first + j]] + first;
            std::array<double, 3> sums{};
            // The front pair's products, for its correlation over the whole file, are taken in
            // every fourth step: spread evenly over the file they tell it as well, at a quarter
            // of the cost.
            const bool products = part == 0 && hasFrontPair() && step % pairSampling == 0;
            VectorOps::kWeightedEnergy(m_filter, &p.filterState[8 * group.first], in.data(),
                                       group.lanes, count, sums.data(), products);
            spanSums.insert(spanSums.end(), sums.begin(),
                            sums.begin() + std::ptrdiff_t(group.lanes));
            if (products)
                p.bufferPair = {p.bufferPair.left + sums[0], p.bufferPair.right + sums[1],
                                p.bufferPair.cross + sums[2]};
            step += endsStep;
        });
    } else {
        // Peaks and the plain level are taken on the unweighted input of every channel, LFE
        // included.
        const std::size_t c = part - m_groups.size();
        auto& squares = p.spanSquares[c];
        squares.clear();
        forEachSpan(p, frameCount, 1, [&](std::size_t first, std::size_t count, bool) {
            squares.push_back(VectorOps::sumOfSquares(channels[c] + first, count));
        });
        TruePeakDetector& detector = p.truePeaks[c];
        if (!m_keepTimeline) {
            detector.process(channels[c], frameCount);
            p.bufferPeaks[c] = detector.lastSamplePeak();
            p.bufferSums[c] = detector.lastSum();
            return;
        }
        auto& peaks = p.runPeaks[c];
        peaks.clear();
        p.bufferPeaks[c] = p.bufferSums[c] = 0;
        forEachSpan(p, frameCount, 10, [&](std::size_t first, std::size_t count, bool) {
            peaks.push_back(detector.processRun(channels[c] + first, count));
            p.bufferPeaks[c] = std::max(p.bufferPeaks[c], detector.lastSamplePeak());
            p.bufferSums[c] += detector.lastSum();
        });
    }
}

bool LoudnessMeter::hasFrontPair() const {
    return m_weighted.size() >= 2 && m_weighted[0] == 0 && m_weighted[1] == 1;
}

std::optional<LoudnessMeter::PairEnergy> LoudnessMeter::frontPair() const {
    return hasFrontPair() ? std::optional(m_frontPair) : std::nullopt;
}

void LoudnessMeter::keepTimeline() {
    TAVRIN_EXPECTS(m_framesSeen == 0);
    m_keepTimeline = true;
    for (Pass& pass : m_passes)
        pass.runPeaks.resize(m_weights.size());
}

void LoudnessMeter::commitPeaks(const Pass& pass, std::size_t frameCount) {
    std::size_t runs = 0;
    forEachSpan(pass, frameCount, 10, [&](std::size_t, std::size_t, bool) { ++runs; });
    m_runMax.assign(runs, 0.0);
    for (const auto& peaks : pass.runPeaks)
        for (std::size_t r = 0; r < runs; ++r)
            m_runMax[r] = std::max(m_runMax[r], peaks[r]);
    m_runsClosed = 0;
}

void LoudnessMeter::stepCompleted() {
    const std::size_t n = m_history.stepCount();
    if (n % timelineSteps != 0)
        return;
    addTimelineStep(n - timelineSteps, std::max(m_stepPeak, m_runMax[m_runsClosed++]));
    m_stepPeak = 0;
}

void LoudnessMeter::addTimelineStep(std::size_t after, double peak) {
    const auto loudest = [&](std::size_t window) {
        return timelineLoudness(m_history.loudestWindow(window, after).meanEnergy);
    };
    m_builder.add(loudest(EnergyHistory::momentarySteps), loudest(EnergyHistory::shortTermSteps),
                  decibels(peak));
}

void LoudnessMeter::finishTimeline(double duration, double tailPeak) {
    // The open step holds the frames after the last whole 100 ms, and the interpolator's tail.
    const std::int64_t closedSteps = m_stepIndex / timelineSteps;
    const std::int64_t closedEnd =
        closedSteps == 0 ? 0 : stepEndFrame(m_sampleRate, closedSteps * timelineSteps - 1);
    if (m_framesSeen > closedEnd)
        addTimelineStep(static_cast<std::size_t>(closedSteps * timelineSteps),
                        std::max(m_stepPeak, tailPeak));
    else if (const auto tail = decibels(tailPeak))
        m_builder.raiseLastTruePeak(*tail);
    m_timeline = m_builder.finish(duration);
}

void LoudnessMeter::commit(std::size_t frameCount, std::size_t pass) {
    const FlushDenormals flushDenormals;
    Pass& p = m_passes[pass];
    TAVRIN_EXPECTS(p.framesSeen == m_framesSeen);
    if (m_keepTimeline)
        commitPeaks(p, frameCount);
    std::size_t span = 0;
    forEachSpan(p, frameCount, 1, [&](std::size_t, std::size_t count, bool endsStep) {
        for (std::size_t g = 0; g < m_groups.size(); ++g) {
            const LaneGroup& group = m_groups[g];
            for (std::size_t j = 0; j < group.lanes; ++j)
                m_stepEnergy +=
                    m_weights[m_weighted[group.first + j]] * p.spanSums[g][span * group.lanes + j];
        }
        for (const auto& squares : p.spanSquares)
            if (span < squares.size()) // absent when only the weighting parts ran
                m_stepSquares += squares[span];
        ++span;
        m_stepFrames += static_cast<std::int64_t>(count);
        m_framesSeen += static_cast<std::int64_t>(count);
        if (endsStep) {
            m_history.append(m_stepEnergy, m_stepFrames);
            m_level.addStep(m_stepSquares, m_stepFrames);
            m_stepSquares = 0;
            m_stepEnergy = 0;
            m_stepFrames = 0;
            ++m_stepIndex;
            if (m_keepTimeline)
                stepCompleted();
        }
    });
    for (auto& squares : p.spanSquares)
        squares.clear();
    p.framesSeen = m_framesSeen;
    p.stepIndex = m_stepIndex;
    p.committedPeaks = p.truePeaks;
    for (std::size_t c = 0; c < m_sampleSums.size(); ++c)
        m_sampleSums[c] += std::exchange(p.bufferSums[c], 0.0); // none when only weighting ran
    m_frontPair = {m_frontPair.left + p.bufferPair.left, m_frontPair.right + p.bufferPair.right,
                   m_frontPair.cross + p.bufferPair.cross};
    m_lastPass = pass;
    // The buffer's last run may leave its 100 ms step open for the next buffer.
    if (m_keepTimeline && m_runsClosed < m_runMax.size())
        m_stepPeak = std::max(m_stepPeak, m_runMax[m_runsClosed]);
}

LoudnessResult LoudnessMeter::finish() {
    // The stream's end is interpolated by the pass that metered it; the others' last samples were
    // followed by the next pass's.
    double tailPeak = 0;
    for (auto& detector : m_passes[m_lastPass].committedPeaks) {
        if (m_keepTimeline)
            tailPeak = std::max(tailPeak, detector.flushRun());
        else
            detector.flush();
    }
    // The largest of every channel and pass; of equals, the earliest.
    double truePeak = 0, samplePeak = 0, truePeakAt = 0, samplePeakAt = 0;
    const auto raise = [](double value, double at, double& largest, double& largestAt) {
        if (value > largest || (value == largest && value > 0 && at < largestAt)) {
            largest = value;
            largestAt = at;
        }
    };
    for (const Pass& pass : m_passes)
        for (const TruePeakDetector& detector : pass.committedPeaks) {
            raise(detector.peak(), detector.peakPosition(), truePeak, truePeakAt);
            raise(detector.samplePeak(), static_cast<double>(detector.samplePeakPosition()),
                  samplePeak, samplePeakAt);
        }
    LoudnessResult result;
    result.duration = static_cast<double>(m_framesSeen) / m_sampleRate;
    // A time at most the duration: the last window and the flushed tail may end past it.
    const auto seconds = [&](double frames) {
        return std::min(frames / m_sampleRate, result.duration);
    };
    result.integrated = m_history.integratedLoudness();
    result.loudnessRange = m_history.loudnessRange();
    for (const auto& [window, value, at] :
         {std::tuple{EnergyHistory::momentarySteps, &result.maxMomentary, &result.maxMomentaryAt},
          std::tuple{EnergyHistory::shortTermSteps, &result.maxShortTerm,
                     &result.maxShortTermAt}}) {
        if (const auto loudest = loudestWindow(m_history, window)) {
            *value = loudest->loudness;
            *at = seconds(static_cast<double>(
                stepEndFrame(m_sampleRate, static_cast<std::int64_t>(loudest->endStep) - 1)));
        }
    }
    result.samplePeak = decibels(samplePeak);
    // The input samples are the interpolation's zero phase: never report below the sample peak.
    result.truePeak = decibels(std::max(truePeak, samplePeak));
    if (result.truePeak)
        result.truePeakAt = seconds(truePeak > samplePeak ? truePeakAt : samplePeakAt);
    result.rms = m_level.rms(m_stepSquares, m_stepFrames);
    result.noiseFloor = m_level.noiseFloor();
    result.sampleRate = m_sampleRate;
    result.channels = static_cast<int>(m_weights.size());
    if (m_keepTimeline)
        finishTimeline(result.duration, tailPeak);
    return result;
}

} // namespace tavrin
