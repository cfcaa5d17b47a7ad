#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tavrin {

/// The unweighted level of a stream from the sums of squares of its 10 ms steps over every
/// channel: its RMS as a whole, and its noise floor, the RMS of its quietest 0.5 s. Both in dBFS
/// with a full-scale square wave at 0, so a full-scale sine reads −3.0.
class SignalLevel {
public:
    explicit SignalLevel(int channels) : m_channels(channels) {}

    /// A whole 10 ms step: the sum of its samples' squares over every channel, and its frames.
    void addStep(double squares, std::int64_t frames);
    /// The RMS of every step added, and of `tailFrames` more frames whose squares sum to
    /// `tailSquares`; absent when there is nothing or only digital silence.
    std::optional<double> rms(double tailSquares = 0, std::int64_t tailFrames = 0) const;
    /// The quietest 0.5 s window's RMS, windows moving 10 ms at a time; absent for a stream
    /// shorter than one window, or when the quietest is digital silence.
    std::optional<double> noiseFloor() const;

    static constexpr std::size_t floorSteps = 50;

private:
    int m_channels;
    double m_squares = 0;
    std::int64_t m_frames = 0;
    std::array<double, floorSteps> m_recentSquares{};
    std::array<std::int64_t, floorSteps> m_recentFrames{};
    double m_windowSquares = 0;
    std::int64_t m_windowFrames = 0;
    std::size_t m_steps = 0;
    std::optional<double> m_quietest; ///< mean square
};

} // namespace tavrin
