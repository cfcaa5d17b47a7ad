#pragma once

// Private to TavrinKit: damage in the samples themselves, found in the meter's own pass over them.

#include "meter/FileTime.h"
#include "tavrin/core/Finding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tavrin {

/// Looks for clipping, drop-outs and DC offset while a file is metered, chunk by chunk, on what the
/// meter's own pass found: the chunk's peaks tell the chunks that can hold clipping, the only ones
/// searched; the channels' sums their means. Of the rest, only every millisecond's frame is looked
/// at, for silence.
class IntegrityScan {
public:
    /// Samples at or above this magnitude (−0.2 dBFS) held for `clipRun` samples are clipping.
    static constexpr double clipLevel = 0.977;
    static constexpr std::int64_t clipRun = 3;
    /// Some sample at or above this magnitude (−40 dBFS) close to a gap is programme.
    static constexpr double programmeLevel = 0.01;
    /// A channel whose mean reaches this (1 % of full scale) carries a DC offset.
    static constexpr double dcLevel = 0.01;

    IntegrityScan(std::size_t channels, double sampleRate);

    /// The next `frames` frames, one pointer per channel: first their drop-outs, which may run
    /// while the meter takes their peaks; then, with at least each channel's largest magnitude
    /// among them, their held samples, which ends the chunk.
    void scanSilence(const double* const* channels, std::size_t frames);
    void scanHeld(const double* const* channels, std::size_t frames,
                  const std::vector<double>& peaks);

    /// What scanSilence() looks at first in a chunk whose first frame is `first`, found
    /// beforehand on any thread: whether one of the frames it probes (every millisecond's) is
    /// silent, and the last frame with programme in the chunk's final millisecond (−1 if none).
    struct SilenceProbe {
        bool silent = false;
        std::int64_t lastProgramme = -1;
    };
    SilenceProbe probeSilence(const double* const* channels, std::size_t frames,
                              std::int64_t first) const;
    /// scanSilence() of the next chunk from its probe alone, when that tells all: no silent frame
    /// probed and no gap open before it. False, having done nothing, when the chunk itself must
    /// be scanned.
    bool scanSilence(const SilenceProbe& probe);

    /// What was found, in order of the kinds, given the sum of each channel's samples, placed in
    /// the file's time; call once after the last chunk.
    std::vector<Finding> finish(const std::vector<double>& sums, const FileTime& fileTime);

    /// A phase finding for a stereo pair whose K-weighted energies are `left` and `right` and the
    /// sum of whose products is `cross`: their correlation, weighted by loudness as the sums are,
    /// is at or below −0.5. Absent otherwise, and for a silent channel.
    static std::optional<Finding> phase(double left, double right, double cross);

private:
    struct Channel {
        double held = 0;         ///< the value of the run of held samples at the end so far
        std::int64_t length = 0; ///< its length; 0 when the last sample was under the clip level
    };
    void scanClipping(Channel& channel, const double* x, std::size_t frames);
    void endRun(Channel& channel, std::int64_t end);
    bool silentFrame(const double* const* channels, std::size_t frame) const;
    bool programmeIn(const double* const* channels, std::size_t from, std::size_t to) const;
    /// The first probed frame from `from` on that is silent, `frames` if none; frame 0 is frame
    /// `first` of the stream.
    std::size_t silentProbe(const double* const* channels, std::size_t frames, std::size_t from,
                            std::int64_t first) const;
    /// The last frame with programme in the chunk's final millisecond, −1 if none.
    std::int64_t lastProgramme(const double* const* channels, std::size_t frames,
                               std::int64_t first) const;
    /// A gap of silence from frame `start` to `end` (absolute) ended inside this chunk at `end`
    /// (relative `endIn`): whether it is a drop-out once programme is seen after it.
    void gapEnded(const double* const* channels, std::size_t frames, std::size_t endIn);
    void countDropout();

    double m_rate;
    std::int64_t m_millisecond;      ///< frames, at least 1
    std::int64_t m_longestGap;       ///< frames in 100 ms
    std::vector<Channel> m_channels; ///< per channel
    std::int64_t m_seen = 0;         ///< frames before this chunk

    std::int64_t m_clipRuns = 0;
    std::int64_t m_firstClip = -1;

    // The silent gap reaching the end of what was seen, if any: where it began, and whether there
    // was programme in the millisecond before it.
    std::int64_t m_gapStart = -1;
    bool m_programmeBefore = false;
    // A gap that ended but waits for the millisecond after it, which the next chunk holds.
    bool m_awaitingAfter = false;
    std::int64_t m_awaitedStart = 0;
    std::int64_t m_afterLeft = 0; ///< frames of that millisecond still to be seen
    // The last frame with programme in it among what was seen; −1 when none.
    std::int64_t m_lastProgramme = -1;

    std::int64_t m_dropouts = 0;
    std::int64_t m_firstDropout = -1;
};

} // namespace tavrin
