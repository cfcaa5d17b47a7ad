#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace tavrin {

/// A stretch of a file, in seconds from its start.
struct TimeSpan {
    double start = 0;
    double end = 0;
    bool operator==(const TimeSpan&) const = default;
};

/// Loudness over time, gathered in the same pass as the LoudnessResult it goes with. Value k of
/// every series belongs to the step that ends at (k + 1) × step seconds; the last step may end
/// after the audio does. Each series holds the largest value within its step, so the largest
/// value of a series is the result's maximum (for loudness, when above −70 LUFS).
struct Timeline {
    static constexpr double baseStep = 0.1; ///< seconds: steps start at 100 ms
    /// At most this many steps are kept: a longer file has its steps merged in pairs (keeping
    /// each pair's maximum) as often as needed, so `step` is 0.1 s times a power of two.
    static constexpr std::size_t maxSteps = std::size_t{1} << 17;
    /// Below the absolute gate a loudness value means nothing to a reader; such steps are empty.
    static constexpr double floorLUFS = -70.0;

    double step = baseStep; ///< seconds per value
    double duration = 0;    ///< seconds of audio, as LoudnessResult::duration
    /// LUFS: the loudest 400 ms window (10 ms grid) ending within the step; absent before the
    /// first full window, and at or below −70 LUFS.
    std::vector<std::optional<double>> momentary;
    /// LUFS: the loudest 3 s window ending within the step; absent likewise.
    std::vector<std::optional<double>> shortTerm;
    /// dBTP: the largest sample or interpolated magnitude of any channel within the step; absent
    /// where every channel is digital silence.
    std::vector<std::optional<double>> truePeak;

    bool operator==(const Timeline&) const = default;

    std::size_t size() const { return truePeak.size(); }
    /// When step `k` ends, in seconds: (k + 1) × step.
    double stepEnd(std::size_t k) const { return static_cast<double>(k + 1) * step; }

    /// The stretches where the true peak is over `ceiling` dBTP, judged as the verdict judges it
    /// (to one decimal); each runs from the start of its first step to the end of its last (at
    /// most the duration). In order, never touching.
    std::vector<TimeSpan> truePeakOver(double ceiling) const;

    /// The memory the series hold, in bytes.
    std::size_t memoryBytes() const;

    /// This timeline with at most `steps` values per series (at least 1), its steps merged in
    /// pairs keeping each pair's maximum as often as needed, as a longer file's would be: for a
    /// picture too narrow to tell the steps apart, in a fraction of the memory.
    Timeline reduced(std::size_t steps) const;
};

/// A stretch of a file measured again at 100 ms steps, for a close look at a file whose timeline
/// has merged steps: its steps start `origin` seconds into the file.
struct TimelineStretch {
    Timeline timeline;
    double origin = 0;
    /// Whether it has a step for every moment from `start` to `end`, seconds into the file.
    bool covers(double start, double end) const {
        return origin <= start + 1e-9 && origin + timeline.duration >= end - timeline.step;
    }
};

/// Builds a Timeline one 100 ms step at a time, merging steps in pairs whenever maxSteps are
/// reached, so its memory stays bounded whatever the length of the audio.
class TimelineBuilder {
public:
    /// Appends one 100 ms step.
    void add(std::optional<double> momentary, std::optional<double> shortTerm,
             std::optional<double> truePeak);
    /// Raises the true peak of the last step added to at least `truePeak` dBTP (the interpolator's
    /// tail, known only once the stream has ended). Does nothing before the first step.
    void raiseLastTruePeak(double truePeak);
    /// The timeline of `duration` seconds of audio; the builder is empty afterwards.
    Timeline finish(double duration);

private:
    struct Step {
        std::optional<double> momentary, shortTerm, truePeak;
        void raise(const Step& other);
    };
    void push(const Step& step);
    void mergePairs();

    Timeline m_timeline;
    std::size_t m_perStep = 1; ///< 100 ms steps per kept step
    Step m_pending;            ///< the kept step being filled
    std::size_t m_pendingCount = 0;
};

} // namespace tavrin
