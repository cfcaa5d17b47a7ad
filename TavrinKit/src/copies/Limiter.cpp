#include "tavrin/copies/Limiter.h"

#include "copies/PeakBlocks.h"
#include "core/ParallelTasks.h"
#include "decode/FfmpegReader.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/meter/LoudnessMeter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <new>

namespace tavrin::Limiter {
namespace {

namespace fs = std::filesystem;

double toLinear(double decibels) {
    return std::pow(10.0, decibels / 20);
}

/// The reduction a factor makes, dB (0, not −0, at unity).
double reductionOf(double factor) {
    return std::max(0.0, -20 * std::log10(factor));
}

/// About half a millisecond, and a multiple or a divisor of the interpolator's reach, so that the
/// blocks a peak's hold must cover (its own and the reach on either side) waste little.
std::size_t blockFramesFor(double sampleRate) {
    const double half = sampleRate / 2000;
    const auto reach = static_cast<std::size_t>(PeakBlocks::reach);
    if (half >= double(reach))
        return reach * static_cast<std::size_t>(std::lround(half / double(reach)));
    return reach /
           std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(double(reach) / half)));
}

/// Turns each block's peak into the largest of the peaks its factor reaches. A block's frames take
/// their factors from its own and the next block's, and the interpolator reaches `reachBlocks`
/// blocks either side: so block m holds the peaks of blocks m − reachBlocks − 1 to m + reachBlocks.
void holdOverReach(std::vector<float>& peaks, std::size_t reachBlocks) {
    const std::size_t n = peaks.size();
    for (std::size_t pass = 0; pass < reachBlocks; ++pass)
        for (std::size_t i = 0; i + 1 < n; ++i)
            peaks[i] = std::max(peaks[i], peaks[i + 1]);
    for (std::size_t pass = 0; pass <= reachBlocks; ++pass)
        for (std::size_t i = n; i-- > 1;)
            peaks[i] = std::max(peaks[i], peaks[i - 1]);
}

/// Reads the whole original, metering each chunk and finding its peaks while the next is read,
/// on idle processors when this is the only file being measured or written.
void readAll(FfmpegReader& reader, LoudnessMeter& meter, PeakBlocks::Finder& peaks,
             const CancelCheck& isCancelled) {
    const ParallelTasks::Running running;
    const auto channels = static_cast<std::size_t>(reader.format().channelCount);
    reader.reserve(AudioFileMeter::chunkFrames);
    const std::size_t fullChunk = reader.framesPerRead(AudioFileMeter::chunkFrames);
    const std::size_t capacity = std::max(fullChunk, PeakBlocks::taps);
    std::array<PeakBlocks::ChunkBuffer, 2> buffers{PeakBlocks::ChunkBuffer(channels, capacity),
                                                   PeakBlocks::ChunkBuffer(channels, capacity)};
    const auto readInto = [&](PeakBlocks::ChunkBuffer& buffer) {
        return buffer.read(reader, AudioFileMeter::chunkFrames);
    };
    stopIfCancelled(isCancelled);
    std::int64_t start = 0;
    std::size_t current = 0;
    for (std::size_t frames = readInto(buffers[0]); frames > 0; current = 1 - current) {
        std::size_t next = 0;
        PeakBlocks::ChunkBuffer& chunk = buffers[current];
        // The peaks are found here, so the meter only K-weights.
        const std::size_t parts = meter.weightingPartCount();
        auto task = [&](std::size_t i) {
            if (i == 0)
                next = readInto(buffers[1 - current]);
            else if (i == 1)
                peaks.add(chunk, start);
            else
                meter.processPart(i - 2, chunk.channels(), frames);
        };
        ParallelTasks::run(parts + 2, task, running.alone() && frames == fullChunk);
        meter.commit(frames);
        start += static_cast<std::int64_t>(frames);
        buffers[1 - current].follow(chunk);
        if ((frames = next) > 0)
            stopIfCancelled(isCancelled);
    }
    // The last points lag behind; silence after the end completes them.
    PeakBlocks::ChunkBuffer& tail = buffers[current];
    tail.takeSilence(PeakBlocks::taps - 1);
    peaks.add(tail, start);
}

/// Where frame `frame` lies among the 10 ms steps of a stream at `rate` Hz.
std::size_t stepOf(std::int64_t frame, double rate) {
    return static_cast<std::size_t>(std::floor(static_cast<double>(frame) * 100 / rate));
}

} // namespace

Analysis Analysis::read(const fs::path& original, bool dualMono, double floor,
                        const CancelCheck& isCancelled) {
    try {
        std::optional<FfmpegReader> reader;
        try {
            reader.emplace(original);
        } catch (const FfmpegError& e) {
            throw AudioFileError::cantOpenOriginal(e.what());
        }
        const AudioFileFormat& format = reader->format();
        if (!reader->hasAudio() || format.sampleRate < AudioFileMeter::lowestSampleRate ||
            format.sampleRate > AudioFileMeter::highestSampleRate)
            throw AudioFileError::cantOpenOriginal("it has no audio Tavrin can measure");
        LoudnessMeter meter(AudioFileMeter::channelWeights(format, dualMono), format.sampleRate);

        Analysis analysis;
        analysis.m_sampleRate = format.sampleRate;
        analysis.m_blockFrames = blockFramesFor(format.sampleRate);
        PeakBlocks::Finder peaks(analysis.m_blockFrames, toLinear(floor));
        try {
            readAll(*reader, meter, peaks, isCancelled);
        } catch (const FfmpegError& e) {
            throw AudioFileError::originalStopped(e.what());
        }
        analysis.m_history = meter.history();
        analysis.m_heldPeaks = std::move(peaks).decibels();
        const std::size_t blockFrames = analysis.m_blockFrames;
        holdOverReach(analysis.m_heldPeaks, (PeakBlocks::reach + blockFrames - 1) / blockFrames);
        return analysis;
    } catch (const std::bad_alloc&) {
        throw AudioFileError::unreadable(std::string(AudioFileError::outOfMemory));
    }
}

Prediction Analysis::predict(const Setting& setting) const {
    // Each step loses the share of its energy that the reduction takes from its frames, as if the
    // energy were spread evenly over the step: close enough to aim, and the copy is measured.
    static const double acting = toLinear(-actingReduction);
    const std::size_t steps = m_history.stepCount();
    std::vector<double> lost(steps, 0.0);
    Reduction reduction(*this, setting);
    double smallest = 1;
    std::int64_t actingBlocks = 0;
    const auto blockFrames = static_cast<std::int64_t>(m_blockFrames);
    for (std::size_t b = 0; b < m_heldPeaks.size(); ++b) {
        const double factor = reduction.next();
        if (factor == 1)
            continue;
        smallest = std::min(smallest, factor);
        actingBlocks += factor < acting;
        const double share = 1 - factor * factor;
        for (std::int64_t frame = static_cast<std::int64_t>(b) * blockFrames,
                          end = frame + blockFrames;
             frame < end;) {
            const std::size_t step = stepOf(frame, m_sampleRate);
            if (step >= steps)
                break;
            const auto stepEnd = static_cast<std::int64_t>(
                std::floor(static_cast<double>(step + 1) * m_sampleRate / 100));
            const std::int64_t next = std::clamp(stepEnd, frame + 1, end);
            lost[step] += share * static_cast<double>(next - frame);
            frame = next;
        }
    }
    EnergyHistory limited;
    limited.reserve(steps);
    const double power = std::pow(10.0, setting.gain / 10);
    for (std::size_t j = 0; j < steps; ++j) {
        const std::int64_t frames = m_history.frames(j, 1);
        const double remaining = frames > 0 ? 1 - std::min(1.0, lost[j] / double(frames)) : 1;
        limited.append(m_history.energy(j, 1) * power * remaining, frames);
    }
    Prediction prediction;
    prediction.integrated = limited.integratedLoudness();
    prediction.loudnessRange = limited.loudnessRange();
    prediction.maxReduction = reductionOf(smallest);
    prediction.seconds = double(actingBlocks * blockFrames) / m_sampleRate;
    return prediction;
}

std::optional<Solution> Analysis::solve(double aim, double threshold, double ceilingGain) const {
    const auto original = integrated();
    if (!original)
        return std::nullopt;
    // The predicted loudness rises with the gain, dB for dB where nothing is limited and ever more
    // slowly the more is: each step divides the miss by the slope of the last two passes.
    double gain = std::min(aim - *original, ceilingGain);
    std::optional<std::pair<double, double>> last; // gain, predicted loudness
    for (int pass = 0; pass < 12; ++pass) {
        const auto predicted = predict({gain, threshold}).integrated;
        if (!predicted)
            return std::nullopt;
        const double miss = aim - *predicted;
        if (std::abs(miss) < 0.002)
            return Solution{{gain, threshold}, true};
        const double slope =
            last && gain != last->first
                ? std::clamp((*predicted - last->second) / (gain - last->first), 0.05, 1.0)
                : 1.0;
        last = {gain, *predicted};
        const double next = std::min(gain + miss / slope, ceilingGain);
        if (next == gain)
            break; // held at its most
        gain = next;
    }
    return Solution{{gain, threshold}, false};
}

Reduction::Reduction(const Analysis& analysis, const Setting& setting)
    : m_analysis(analysis), m_excess(setting.gain - setting.threshold),
      m_attackBlocks(std::max<std::int64_t>(
          1, std::lround(attackSeconds * analysis.sampleRate() / double(analysis.blockFrames())))),
      m_shortReleaseBlocks(shortRelease * analysis.sampleRate() / double(analysis.blockFrames())),
      m_longReleaseBlocks(longRelease * analysis.sampleRate() / double(analysis.blockFrames())),
      m_densityFactor(
          std::exp(-double(analysis.blockFrames()) / (densitySeconds * analysis.sampleRate()))),
      m_ahead(static_cast<std::size_t>(m_attackBlocks) + 1, 1.0) {
    for (std::int64_t b = 0; b < m_attackBlocks; ++b)
        if ((m_ahead[static_cast<std::size_t>(b)] = neededFactor(b)) < 1)
            m_lastNeed = b;
}

double Reduction::neededFactor(std::int64_t block) const {
    const auto& peaks = m_analysis.heldPeaks();
    if (block >= static_cast<std::int64_t>(peaks.size()))
        return 1;
    const double excess = peaks[static_cast<std::size_t>(block)] + m_excess;
    return excess > 0 ? toLinear(-excess) : 1;
}

double Reduction::next() {
    const std::int64_t attack = m_attackBlocks, ring = attack + 1;
    const auto slot = [ring](std::int64_t block) { return static_cast<std::size_t>(block % ring); };
    const std::int64_t newest = m_block + attack;
    if ((m_ahead[slot(newest)] = neededFactor(newest)) < 1)
        m_lastNeed = newest;
    // The gain falls in a straight line to what each block ahead needs, reaching it there.
    double target = 1;
    for (std::int64_t d = 0; m_lastNeed >= m_block && d <= attack; ++d)
        if (const double needed = m_ahead[slot(m_block + d)]; needed < 1)
            target = std::min(target, needed + (1 - needed) * double(d) / double(ring));
    const bool holding = m_ahead[slot(m_block)] < 1;
    m_density = m_density * m_densityFactor + (holding ? 1 - m_densityFactor : 0);
    if (target <= m_factor) {
        m_factor = target;
        m_releaseStep = (1 - m_factor) / (m_shortReleaseBlocks +
                                          (m_longReleaseBlocks - m_shortReleaseBlocks) * m_density);
    } else {
        m_factor = std::min(target, m_factor + m_releaseStep);
    }
    ++m_block;
    return m_factor;
}

Curve::Curve(const Analysis& analysis, const Setting& setting)
    : m_reduction(analysis, setting), m_setting(setting),
      m_blockFrames(static_cast<std::int64_t>(analysis.blockFrames())),
      m_sampleRate(analysis.sampleRate()) {
    m_to = m_reduction.next();
}

void Curve::advance() {
    ++m_block;
    m_from = m_to;
    m_smallest = std::min(m_smallest, m_to);
    m_to = m_reduction.next();
}

void Curve::operator()(std::int64_t first, std::span<float> factors) {
    static const double acting = toLinear(-actingReduction);
    for (std::size_t i = 0; i < factors.size(); ++i) {
        const std::int64_t frame = first + static_cast<std::int64_t>(i);
        while (frame >= (m_block + 1) * m_blockFrames || m_block < 0)
            advance();
        if (m_from == 1 && m_to == 1) {
            factors[i] = 1;
            continue;
        }
        const double along = double(frame - m_block * m_blockFrames) / double(m_blockFrames);
        const double factor = m_from + (m_to - m_from) * along;
        factors[i] = static_cast<float>(factor);
        m_actingFrames += factor < acting;
    }
}

Summary Curve::summary() const {
    return {m_setting.gain, reductionOf(m_smallest), double(m_actingFrames) / m_sampleRate};
}

} // namespace tavrin::Limiter
