#pragma once

// Private to TavrinKit: the audio that decoding drops, tallied as the packets go by.

#include <cstdint>
#include <optional>
#include <vector>

namespace tavrin {

/// Audio of a file that could not be decoded: how long it lasted, and where in the file it began
/// (both in seconds), when that is known; and the audio missing at the end of a stream shorter than
/// its container declares, once the damage inside it is accounted for: a file cut off.
struct DecodingLoss {
    double seconds = 0;
    std::optional<double> at;
    double cutOffSeconds = 0;
};

/// A run of audio lost inside a stream: `at` frames decoded before it, `frames` lost.
struct DecodingGap {
    double at = 0;
    double frames = 0;
};

/// Tallies, in frames, what a decoder drops: packets that fail to decode and jumps forward in the
/// packets' timestamps. Losses with nothing decoded between them count as one run, placed where
/// it began; the place of the longest run is the one kept.
class DecodingLossTally {
public:
    /// A decoded frame of `frames` frames: it ends a run of losses.
    void decoded(std::int64_t frames);
    /// A packet of `frames` frames that failed to decode; 0 when its length is unknown, when the
    /// last decoded frame's length stands in for it.
    void dropped(double frames);
    /// The timestamps jumped `frames` frames past the end of the previous packet.
    void skipped(double frames);

    /// What was lost, at `rate` frames a second, once `decoded` frames were read to the end.
    /// `declared` is the stream's length when the container gives it exactly: then the frames it
    /// has beyond those decoded are lost: cut off at its end when nothing inside the stream was
    /// lost, else lost to that damage. No loss exceeds what `plausible` frames, the most the file
    /// could hold, leave.
    DecodingLoss finish(std::optional<std::int64_t> declared, std::int64_t decoded,
                        std::int64_t plausible, double rate) const;
    /// The runs of losses that decoding went on after, in order, together at most `room` frames
    /// (what the file could hold beyond what was decoded); past a few thousand runs, later ones
    /// are counted into the last one kept.
    std::vector<DecodingGap> gapsInside(double room) const;

private:
    void lose(double frames);

    double m_decoded = 0;
    double m_lost = 0;
    std::int64_t m_lastFrame = 0;
    std::int64_t m_longestFrame = 0;
    bool m_inRun = false;
    double m_run = 0;
    double m_runAt = 0;
    double m_longestRun = 0;
    double m_longestRunAt = 0;
    std::vector<DecodingGap> m_gaps;
};

} // namespace tavrin
