#include "meter/FileTime.h"

#include <cmath>

namespace tavrin {

FileTime::FileTime(std::vector<DecodingGap> gaps, double sampleRate) : m_gaps(std::move(gaps)) {
    for (DecodingGap& gap : m_gaps) {
        gap.at /= sampleRate;
        gap.frames /= sampleRate;
    }
}

double FileTime::of(double seconds) const {
    double inFile = seconds;
    for (const DecodingGap& gap : m_gaps) {
        if (gap.at > seconds)
            break;
        inFile += gap.frames;
    }
    return inFile;
}

void FileTime::place(LoudnessResult& result) const {
    for (auto* moment : {&result.truePeakAt, &result.maxMomentaryAt, &result.maxShortTermAt})
        if (*moment)
            *moment = of(**moment);
}

Timeline FileTime::place(const Timeline& decoded) const {
    if (!shifts())
        return decoded;
    Timeline placed;
    placed.step = decoded.step;
    placed.duration = of(decoded.duration);
    std::size_t next = 0;
    double lost = 0;
    std::size_t emptied = 0;
    for (std::size_t k = 0; k < decoded.size(); ++k) {
        // The steps' worth of what was lost before this step starts, less those already emptied.
        for (; next < m_gaps.size() && m_gaps[next].at <= static_cast<double>(k) * decoded.step;
             ++next)
            lost += m_gaps[next].frames;
        for (const auto steps = static_cast<std::size_t>(std::lround(lost / decoded.step));
             emptied < steps; ++emptied) {
            placed.momentary.emplace_back();
            placed.shortTerm.emplace_back();
            placed.truePeak.emplace_back();
        }
        placed.momentary.push_back(decoded.momentary[k]);
        placed.shortTerm.push_back(decoded.shortTerm[k]);
        placed.truePeak.push_back(decoded.truePeak[k]);
    }
    return placed.size() > Timeline::maxSteps ? placed.reduced(Timeline::maxSteps) : placed;
}

} // namespace tavrin
