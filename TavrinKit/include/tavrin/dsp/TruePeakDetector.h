#pragma once

#include "tavrin/dsp/VectorOps.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tavrin {

/// Estimates one channel's true peak by 4x oversampling: interpolates the points at a quarter,
/// half and three quarters of each sample period with a fixed windowed-sinc polyphase bank and
/// keeps the largest magnitude. The input samples themselves (the zero phase) are the caller's
/// sample peak. The interpolation lags the newest input by 16 samples; flush() covers the tail.
class TruePeakDetector {
public:
    static constexpr std::size_t taps = 32;
    using Phase = std::array<double, taps>;

    TruePeakDetector();

    /// Feeds `count` consecutive samples; a count of 0 does nothing.
    void process(const double* samples, std::size_t count);
    /// Goes on at sample `position` of the stream, fed next, where a detector meters stretches of
    /// it apart: `before` holds the `count` samples just before it, of which the interpolation
    /// needs the last 31. What was found so far stays.
    void resumeAt(std::int64_t position, const double* before, std::size_t count);
    /// Feeds 32 zeros so the last real samples are interpolated too. Call once, at the end.
    void flush();
    /// process() that also returns the peak of this run on its own, linear: the largest of its
    /// samples' magnitudes and of the points interpolated during the call (which lag the input
    /// by 16 samples). For the peak of each stretch of time, found in the same scan.
    double processRun(const double* samples, std::size_t count);
    /// flush() that returns the peak of the points it interpolates, as processRun() does.
    double flushRun();
    /// Largest interpolated magnitude so far, linear.
    double peak() const { return m_peak; }
    /// Largest sample magnitude fed so far, linear: the pass that interpolates sees every sample.
    double samplePeak() const { return m_samplePeak; }
    /// Where peak() lies, in samples from the first one fed (between two samples: x.25, x.5 or
    /// x.75); the first such point when several are equal; 0 while the peak is 0.
    double peakPosition() const { return m_peakAt; }
    /// Where samplePeak() is, in samples from the first one fed; the first of equals.
    std::int64_t samplePeakPosition() const { return m_samplePeakAt; }
    /// The sum of the samples of the last call, added up in the same pass: the channel's mean.
    double lastSum() const { return m_lastSum; }
    /// At least the largest sample magnitude of the last call (it may count the 31 before it).
    double lastSamplePeak() const { return m_lastSamplePeak; }

    /// The three interpolation phases (k = 1, 2, 3 quarters), built once on first use.
    /// Each phase is normalised to unity gain at 0 Hz.
    static const std::array<Phase, 3>& filterBank();
    /// How far an interpolated value can exceed the inputs in its span, for scans that skip.
    static const VectorOps::PeakBounds& bounds();

private:
    /// Feeds samples; with `runPeak`, also sets it to the peak of this run on its own.
    void feed(const double* samples, std::size_t count, double* runPeak);

    std::array<double, taps - 1> m_history{}; ///< the last 31 input samples, oldest first
    double m_peak = 0;
    double m_samplePeak = 0;
    double m_lastSamplePeak = 0;
    double m_lastSum = 0;
    double m_peakAt = 0;
    std::int64_t m_samplePeakAt = 0;
    std::int64_t m_fed = 0; ///< samples fed before the current call
};

} // namespace tavrin
