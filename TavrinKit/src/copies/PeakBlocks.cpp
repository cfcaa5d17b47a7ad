#include "copies/PeakBlocks.h"

#include "decode/FfmpegReader.h"
#include "dsp/KaiserSinc.h"
#include "tavrin/dsp/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace tavrin::PeakBlocks {
namespace {

constexpr std::size_t kept = taps - 1;
constexpr int oversampling = 16;

/// The interpolator's fifteen phases, the three at whole quarters of a sample period apart.
struct Bank {
    std::vector<double> quarters, others;
    double tapSum = 0;
    /// How far the highest point between the quarters can rise above the highest quarter: a
    /// signal holding nothing above 0.55 of the sample rate (the interpolator passes no more)
    /// bends so little over an eighth of a sample period (Bernstein's inequality).
    double betweenQuarters = 0;
};

const Bank& bank() {
    static const Bank built = [] {
        constexpr int halfWidth = static_cast<int>(taps / 2);
        constexpr double beta = 8, pi = 3.141592653589793;
        Bank b;
        for (int k = 1; k < oversampling; ++k) {
            const auto phase = kaiserSincPhase(double(k) / oversampling, halfWidth, beta);
            auto& into = k % (oversampling / 4) == 0 ? b.quarters : b.others;
            into.insert(into.end(), phase.begin(), phase.end());
        }
        b.tapSum = std::max(largestTapSum(b.quarters, taps), largestTapSum(b.others, taps));
        const double angle = 2 * pi * 0.55 / 8; // the fastest turn over an eighth of a sample
        b.betweenQuarters = 1 / (1 - angle * angle / 2);
        return b;
    }();
    return built;
}

/// The peak of n consecutive points of one channel, from `in` with its history, or `known` when
/// none passes it. Whole groups are skipped where the inputs or the quarters show they can't.
double blockPeak(const double* in, std::size_t n, double known) {
    const Bank& b = bank();
    if (VectorOps::maxMagnitude(in, n + kept) * b.tapSum <= known)
        return known;
    double peak = std::max(known, VectorOps::maxMagnitude(in + reach - 1, n));
    const double quarters = VectorOps::polyphasePeak(in, n, b.quarters.data(), 3, taps);
    peak = std::max(peak, quarters);
    if (quarters * b.betweenQuarters <= peak)
        return peak;
    return std::max(peak,
                    VectorOps::polyphasePeak(in, n, b.others.data(), b.others.size() / taps, taps));
}

} // namespace

ChunkBuffer::ChunkBuffer(std::size_t channels, std::size_t frames)
    : m_stride(kept + frames), m_samples(channels * m_stride), m_pointers(channels) {
    for (std::size_t c = 0; c < channels; ++c)
        m_pointers[c] = m_samples.data() + c * m_stride + kept;
}

std::size_t ChunkBuffer::read(FfmpegReader& reader, std::size_t maxFrames) {
    return m_frames = readChunk(reader, maxFrames, m_pointers.data());
}

void ChunkBuffer::takeSilence(std::size_t frames) {
    for (double* channel : m_pointers)
        std::fill_n(channel, frames, 0.0);
    m_frames = frames;
}

void ChunkBuffer::follow(const ChunkBuffer& previous) {
    for (std::size_t c = 0; c < m_pointers.size(); ++c)
        std::copy_n(previous.m_pointers[c] + previous.m_frames - kept, kept, m_pointers[c] - kept);
}

Finder::Finder(std::size_t blockFrames, double floor)
    : m_blockFrames(static_cast<std::int64_t>(blockFrames)), m_floor(floor) {}

void Finder::add(const ChunkBuffer& chunk, std::int64_t start) {
    const auto frames = static_cast<std::int64_t>(chunk.frames());
    const std::int64_t first = start - reach;
    for (std::int64_t at = first; at < first + frames;) {
        const std::int64_t block = std::max<std::int64_t>(at, 0) / m_blockFrames;
        const std::int64_t end = std::min(first + frames, (block + 1) * m_blockFrames);
        if (static_cast<std::size_t>(block) >= m_peaks.size())
            m_peaks.resize(static_cast<std::size_t>(block) + 1, static_cast<float>(m_floor));
        auto& stored = m_peaks[static_cast<std::size_t>(block)];
        double peak = stored;
        for (std::size_t c = 0; c < chunk.channelCount(); ++c)
            peak = blockPeak(chunk.withHistory(c) + (at - first),
                             static_cast<std::size_t>(end - at), peak);
        stored = static_cast<float>(peak);
        at = end;
    }
}

std::vector<float> Finder::decibels() && {
    for (float& peak : m_peaks)
        peak = static_cast<float>(20 * std::log10(peak));
    return std::move(m_peaks);
}

} // namespace tavrin::PeakBlocks
