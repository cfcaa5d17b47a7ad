#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tavrin {

/// K-weighted, channel-weighted energy (Σ weight × Σ squared samples) in completed 10 ms steps.
/// Holds all gating and range arithmetic. A window's energy is always summed from its own steps,
/// never taken as the difference of two running sums: one huge sample (a float file may hold
/// 1e30) would leave such differences at zero or negative for the rest of the file.
class EnergyHistory {
public:
    static constexpr std::size_t momentarySteps = 40; ///< 400 ms: momentary window and gating block
    static constexpr std::size_t shortTermSteps = 300; ///< 3 s short-term window
    static constexpr std::size_t blockHop = 10;        ///< 100 ms hop of gating and range blocks

    /// Number of completed steps.
    std::size_t stepCount() const { return m_energy.size(); }

    /// Appends one completed step: `stepFrames` at most 2³² − 1, ample for 10 ms at any rate.
    void append(double stepEnergy, std::int64_t stepFrames);
    /// Makes room for `steps` steps at once: a day-long history is a hundred megabytes, which
    /// growing by doubling would copy and overshoot.
    void reserve(std::size_t steps);

    /// Energy and frames of steps [from, from + count).
    double energy(std::size_t from, std::size_t count) const;
    std::int64_t frames(std::size_t from, std::size_t count) const;
    /// Mean energy per frame over steps [from, from + count); 0 when they hold no frames.
    double meanEnergy(std::size_t from, std::size_t count) const;

    /// The loudest window of `window` steps among those that end after step `after`: its mean
    /// energy per frame and the step count at its end (the first of equals); a mean energy of 0
    /// when there is none or none holds energy.
    struct Loudest {
        double meanEnergy = 0;
        std::size_t end = 0;
    };
    Loudest loudestWindow(std::size_t window, std::size_t after = 0) const;

    /// Loudness of every window of `window` steps starting at 0, stride, 2·stride, …;
    /// -inf for a window without frames or energy; empty when fewer than `window` steps exist.
    std::vector<double> windowLoudness(std::size_t window, std::size_t stride) const;
    std::vector<double> momentaryLoudness(std::size_t stride) const;
    std::vector<double> shortTermLoudness(std::size_t stride) const;

    /// Gated integrated loudness (BS.1770-4): absolute gate −70 LUFS, relative gate −10 LU.
    /// Absent under 40 steps or when no block passes the absolute gate.
    std::optional<double> integratedLoudness() const;
    /// Loudness range (EBU Tech 3342) of this history's short-term values.
    std::optional<double> loudnessRange() const;
    /// Loudness range of given short-term values: gates at −70 LUFS and −20 LU (both inclusive),
    /// then the 95th minus the 10th percentile by the nearest-rank rule.
    static std::optional<double> loudnessRange(std::vector<double> shortTerm);

    /// The BS.1770 block formula: 10·log10(meanSquare) − 0.691, or -inf when meanSquare ≤ 0.
    static double loudness(double meanSquare);

private:
    /// Calls visit(start, meanEnergy) for the windows of `window` steps starting at `first`,
    /// first + stride, … up to `last`, in order.
    template <class Visit>
    void forEachWindow(std::size_t window, std::size_t stride, std::size_t first, std::size_t last,
                       Visit visit) const;

    // Each step's own energy and frame count: 12 bytes a step, about 100 MB for a day.
    std::vector<double> m_energy;
    std::vector<std::uint32_t> m_frames;
};

} // namespace tavrin
