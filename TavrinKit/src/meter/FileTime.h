#pragma once

// Private to TavrinKit: times in the decoded audio told as times in the file.

#include "decode/DecodingLoss.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"

#include <vector>

namespace tavrin {

/// The meter counts only what was decoded; where decoding lost audio inside the file, everything
/// after is later in the file than in the decoded audio. This puts it back where it is.
class FileTime {
public:
    FileTime(std::vector<DecodingGap> gaps, double sampleRate);

    bool shifts() const { return !m_gaps.empty(); }
    /// The time in the file of the point `seconds` into the decoded audio.
    double of(double seconds) const;
    /// The result's moments in the file's time.
    void place(LoudnessResult& result) const;
    /// The timeline with empty steps where audio was lost, as many as the loss lasted.
    Timeline place(const Timeline& decoded) const;

private:
    std::vector<DecodingGap> m_gaps; ///< in seconds
};

} // namespace tavrin
