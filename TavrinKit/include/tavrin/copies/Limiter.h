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
/// The look-ahead, over which the gain falls in a straight line to what a peak needs, seconds.
inline constexpr double attackSeconds = 0.004;
/// The release, a straight line in gain back to unity: as short as `shortRelease` after an
/// isolated peak, lengthening towards `longRelease` the more of the last `densitySeconds` needed
/// holding, so that dense programme isn't pumped. Seconds.
inline constexpr double shortRelease = 0.02;
inline constexpr double longRelease = 0.06;
inline constexpr double densitySeconds = 0.2;

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

/// One read of an original: for every block of about half a millisecond, the largest oversampled
/// peak (all channels together) that the block's factor must hold, and the K-weighted energy in
/// 10 ms steps. Frames are counted from the first decoded one, as GainWriter counts them.
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
    /// dBTP per block before gain: the largest peak among those the block's factor reaches.
    const std::vector<float>& heldPeaks() const { return m_heldPeaks; }

private:
    Analysis() = default;

    double m_sampleRate = 0;
    std::size_t m_blockFrames = 0;
    std::vector<float> m_heldPeaks;
    EnergyHistory m_history;
};

/// The gain factor of each block, one block after another: at most what the held peaks need to
/// stay under the threshold, reached in a straight line over the look-ahead and released in
/// another.
class Reduction {
public:
    Reduction(const Analysis& analysis, const Setting& setting);
    /// The next block's factor, linear (exactly 1 where nothing needs holding).
    double next();

private:
    double neededFactor(std::int64_t block) const;

    const Analysis& m_analysis;
    double m_excess; ///< dB the threshold is crossed by a peak at 0 dBTP
    std::int64_t m_attackBlocks;
    double m_shortReleaseBlocks, m_longReleaseBlocks, m_densityFactor;
    std::int64_t m_block = 0;
    std::int64_t m_lastNeed = -1; ///< the last block seen ahead that needs holding
    double m_density = 0;         ///< the recent share of blocks that needed holding
    double m_factor = 1;
    double m_releaseStep = 0;    ///< per block
    std::vector<double> m_ahead; ///< what the look-ahead's blocks need, a ring
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
    double m_smallest = 1;
    std::int64_t m_actingFrames = 0;
};

} // namespace tavrin::Limiter
