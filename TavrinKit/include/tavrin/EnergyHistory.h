#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tavrin {

/// K-weighted, channel-weighted energy (Σ weight × Σ squared samples) in completed 10 ms steps,
/// with running sums so any window of whole steps costs one subtraction. Holds all gating and range
/// arithmetic.
class EnergyHistory {
public:
    static constexpr std::size_t momentarySteps = 40; ///< 400 ms: momentary window and gating block
    static constexpr std::size_t shortTermSteps = 300; ///< 3 s short-term window
    static constexpr std::size_t blockHop = 10;        ///< 100 ms hop of gating and range blocks

    /// Number of completed steps.
    std::size_t stepCount() const { return m_prefixEnergy.size() - 1; }

    /// Appends one completed step.
    void append(double stepEnergy, std::int64_t stepFrames);
    /// Makes room for `steps` steps at once: a day-long history is hundreds of megabytes, which
    /// growing by doubling would copy and overshoot.
    void reserve(std::size_t steps);

    /// Energy and frames of steps [from, from + count).
    double energy(std::size_t from, std::size_t count) const;
    std::int64_t frames(std::size_t from, std::size_t count) const;
    /// Mean energy per frame over steps [from, from + count); 0 when they hold no frames.
    double meanEnergy(std::size_t from, std::size_t count) const;

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
    // Running sums only: a step's own energy and frame count are the difference of two entries,
    // which halves the memory of a day-long history.
    std::vector<double> m_prefixEnergy{0.0};     ///< entry k: Σ of the first k steps' energies
    std::vector<std::int64_t> m_prefixFrames{0}; ///< entry k: Σ of the first k steps' frames
};

} // namespace tavrin
