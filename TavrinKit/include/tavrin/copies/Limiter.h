#pragma once

#include "tavrin/core/Cancellation.h"
#include "tavrin/core/LimiterSummary.h"
#include "tavrin/meter/EnergyHistory.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

/// A look-ahead true-peak limiter for copies that gain alone can't bring to a target: gain to the
/// target, and a smooth gain reduction only where the gained signal's peaks would cross a
/// threshold. The peaks are found at 16× oversampling through a sharper interpolator than the
/// meter's, so a copy's true peak stays under the threshold as finer meters read it too. Where it
/// does not act the factor is exactly 1.
namespace tavrin::Limiter {

/// The most peak reduction the limiter makes, dB.
inline constexpr double mostReduction = 12;
/// Reduction that counts as acting when a summary says for how long, dB.
inline constexpr double actingReduction = 0.1;
/// The attack, spread over the look-ahead, and the time constant of the release (in dB), seconds.
inline constexpr double attackSeconds = 0.005;
inline constexpr double releaseSeconds = 0.05;

/// The static gain and the level the peaks are held at.
struct Setting {
    double gain = 0;      ///< dB
    double threshold = 0; ///< dBTP
};

/// What a setting does to the file, as the analysis predicts it.
struct Prediction {
    std::optional<double> integrated; ///< LUFS
    std::optional<double> loudnessRange;
    double maxReduction = 0; ///< dB
    double seconds = 0;      ///< how long the reduction exceeds actingReduction
};

/// A solved setting, and whether its prediction reached the aim (within 0.002 LU). When it did
/// not (the gain held at its most, or the passes ran out), the copy's own reading decides.
struct Solution {
    Setting setting;
    bool converged = false;
};

/// One read of an original: the largest oversampled peak of every block of about a millisecond
/// (all channels together), and its K-weighted energy in 10 ms steps. Frames are counted from the
/// first decoded one, as GainWriter counts them.
class Analysis {
public:
    /// Reads `original`, weighting a mono file twice with `dualMono` as the meter does. Peaks under
    /// `floor` dBTP are only known to be under it. Throws AudioFileError (unreadable) with a whole
    /// sentence, and Cancelled when `isCancelled` answers true before a chunk.
    static Analysis read(const std::filesystem::path& original, bool dualMono, double floor,
                         const CancelCheck& isCancelled = {});

    /// The original's integrated loudness, LUFS; absent without a reading.
    std::optional<double> integrated() const { return m_history.integratedLoudness(); }
    /// The copy's loudness and the reduction under `setting`, predicted from the steps' energies.
    Prediction predict(const Setting& setting) const;
    /// The gain that puts the predicted integrated loudness at `aim` with peaks held at
    /// `threshold`, at most `ceilingGain` dB; absent without a reading.
    std::optional<Solution> solve(double aim, double threshold, double ceilingGain) const;

    std::size_t blockFrames() const { return m_blockFrames; }
    double sampleRate() const { return m_sampleRate; }
    const std::vector<float>& peaks() const { return m_peaks; }

private:
    Analysis() = default;

    double m_sampleRate = 0;
    std::size_t m_blockFrames = 0;
    std::vector<float> m_peaks; ///< dBTP per block, before gain
    EnergyHistory m_history;
};

/// The reduction of each block in dB, one block after another: the peaks' excess over the
/// threshold, held over the blocks the interpolator reaches, spread over the look-ahead and
/// released. Never less than the excess of any peak within the interpolator's reach.
class Reduction {
public:
    Reduction(const Analysis& analysis, const Setting& setting);
    /// The next block's reduction, dB (exactly 0 where nothing needs holding).
    double next();

private:
    double excess(std::int64_t block) const;

    const Analysis& m_analysis;
    Setting m_setting;
    std::size_t m_attackBlocks;
    double m_releaseFactor;
    std::int64_t m_block = 0;
    double m_released = 0;
    std::vector<double> m_recent; ///< the last m_attackBlocks released values, a ring
};

/// The per-frame factors GainWriter multiplies in: each block's reduction at its first frame,
/// straight lines between. Counts what it did as it goes.
class Curve {
public:
    Curve(const Analysis& analysis, const Setting& setting);
    /// Fills `factors` for the frames from `first` on; calls must follow one another.
    void operator()(std::int64_t first, std::span<float> factors);
    /// The summary of the frames filled so far.
    Summary summary() const;

private:
    void advance();

    Reduction m_reduction;
    Setting m_setting;
    std::int64_t m_blockFrames;
    double m_sampleRate;
    std::int64_t m_block = -1;
    double m_from = 1, m_to = 1; ///< the factors at this block's first frame and the next's
    double m_toReduction = 0;
    double m_maxReduction = 0;
    std::int64_t m_actingFrames = 0;
};

} // namespace tavrin::Limiter
