#include "tavrin/dsp/TruePeakDetector.h"

#include "dsp/KaiserSinc.h"
#include "tavrin/dsp/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace tavrin {
namespace {

/// Kaiser-windowed sinc (β = 7, half-width 16 samples), one phase per quarter sample.
std::array<TruePeakDetector::Phase, 3> designFilterBank() {
    std::array<TruePeakDetector::Phase, 3> bank{};
    for (std::size_t k = 1; k <= 3; ++k) {
        const std::vector<double> phase = kaiserSincPhase(static_cast<double>(k) / 4, 16, 7);
        std::copy(phase.begin(), phase.end(), bank[k - 1].begin());
    }
    return bank;
}

} // namespace

TruePeakDetector::TruePeakDetector() = default;

const std::array<TruePeakDetector::Phase, 3>& TruePeakDetector::filterBank() {
    static const auto bank = designFilterBank();
    return bank;
}

const VectorOps::PeakBounds& TruePeakDetector::bounds() {
    static const VectorOps::PeakBounds gains = [] {
        VectorOps::PeakBounds largest{0, 0};
        for (const auto& phase : filterBank()) {
            double whole = 0, outer = 0;
            for (std::size_t p = 0; p < taps; ++p) {
                whole += std::fabs(phase[p]);
                outer += p < 12 || p > 19 ? std::fabs(phase[p]) : 0.0;
            }
            largest = {std::max(largest.whole, whole), std::max(largest.outer, outer)};
        }
        return largest;
    }();
    return gains;
}

void TruePeakDetector::process(const double* samples, std::size_t count) {
    feed(samples, count, nullptr);
}

double TruePeakDetector::processRun(const double* samples, std::size_t count) {
    double runPeak = 0;
    feed(samples, count, &runPeak);
    return runPeak;
}

void TruePeakDetector::feed(const double* samples, std::size_t count, double* runPeak) {
    if (count == 0)
        return;
    // Output i needs the 32 values from position i of (history, samples). Only the first 31
    // outputs reach into the history; they run on a small stitched copy, the rest straight from
    // the caller's buffer.
    constexpr std::size_t kept = taps - 1;
    const std::size_t head = std::min(count, kept);
    std::array<double, 2 * kept> stitched{};
    std::copy(m_history.begin(), m_history.end(), stitched.begin());
    std::copy_n(samples, head, stitched.begin() + kept);
    const double* bank = filterBank().front().data();
    // Input 0 of the stitched scan is the oldest kept sample, fed 31 samples before this call.
    // Starting the run's peak from its own sample peak skips every group that can't pass it, as
    // the file's running peak does; its interpolated points are never reported below it.
    double run = runPeak ? VectorOps::maxMagnitude(samples, count) : HUGE_VAL;
    m_lastSamplePeak = 0;
    const auto take = [this, &run](VectorOps::PeakScan scan, std::int64_t firstInput) {
        m_lastSamplePeak = std::max(m_lastSamplePeak, scan.sample);
        m_peak = scan.interpolated;
        run = scan.run;
        if (scan.interpolatedAt >= 0)
            m_peakAt = static_cast<double>(firstInput) + scan.interpolatedAt;
        if (scan.sample > m_samplePeak) {
            m_samplePeak = scan.sample;
            m_samplePeakAt = firstInput + static_cast<std::int64_t>(scan.sampleAt);
        }
    };
    take(VectorOps::scanPeaks(stitched.data(), head, bank, bounds(), m_peak, run),
         m_fed - static_cast<std::int64_t>(kept));
    m_lastSum = 0;
    if (count > kept) {
        const auto scan = VectorOps::scanPeaks(samples, count - kept, bank, bounds(), m_peak, run);
        m_lastSum = scan.sum; // its inputs are exactly this call's samples
        take(scan, m_fed);
    } else {
        for (std::size_t i = 0; i < count; ++i)
            m_lastSum += samples[i];
    }
    if (runPeak)
        *runPeak = run;
    m_fed += static_cast<std::int64_t>(count);
    // The new history is the last 31 values of (history, samples).
    if (count >= kept)
        std::copy_n(samples + (count - kept), kept, m_history.begin());
    else
        std::copy_n(stitched.begin() + static_cast<std::ptrdiff_t>(count), kept, m_history.begin());
}

void TruePeakDetector::resumeAt(std::int64_t position, const double* before, std::size_t count) {
    const std::size_t kept = std::min(count, m_history.size());
    m_history.fill(0);
    std::copy_n(before + (count - kept), kept, m_history.end() - std::ptrdiff_t(kept));
    m_fed = position;
}

namespace {
constexpr std::array<double, TruePeakDetector::taps> zeros{};
}

void TruePeakDetector::flush() {
    process(zeros.data(), zeros.size());
}

double TruePeakDetector::flushRun() {
    return processRun(zeros.data(), zeros.size());
}

} // namespace tavrin
