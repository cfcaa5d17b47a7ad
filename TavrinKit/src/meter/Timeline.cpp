#include "tavrin/meter/Timeline.h"

#include "tavrin/core/Expects.h"
#include "tavrin/core/Fmt.h"

#include <algorithm>

namespace tavrin {
namespace {

/// Absorbs floating-point error so that a rounded peak exactly on the ceiling is within it.
constexpr double epsilon = 1e-9;

/// The larger of two readings; a reading beats none.
std::optional<double> larger(std::optional<double> a, std::optional<double> b) {
    if (!a)
        return b;
    if (!b)
        return a;
    return std::max(*a, *b);
}

/// Halves the timeline's resolution: each value becomes the larger of a pair, the last one
/// alone when the count is odd.
void mergePairs(Timeline& timeline) {
    for (auto* series : {&timeline.momentary, &timeline.shortTerm, &timeline.truePeak}) {
        auto& values = *series;
        for (std::size_t k = 0; 2 * k < values.size(); ++k)
            values[k] = 2 * k + 1 < values.size() ? larger(values[2 * k], values[2 * k + 1])
                                                  : values[2 * k];
        values.resize((values.size() + 1) / 2);
    }
    timeline.step *= 2;
}

} // namespace

std::vector<TimeSpan> Timeline::truePeakOver(double ceiling) const {
    std::vector<TimeSpan> spans;
    bool inside = false;
    for (std::size_t k = 0; k < truePeak.size(); ++k) {
        const bool over = truePeak[k] && Fmt::round1(*truePeak[k]) > ceiling + epsilon;
        if (over && !inside)
            spans.push_back({static_cast<double>(k) * step, 0});
        if (over)
            spans.back().end = std::min(stepEnd(k), duration);
        inside = over;
    }
    return spans;
}

std::size_t Timeline::memoryBytes() const {
    return sizeof(std::optional<double>) *
           (momentary.capacity() + shortTerm.capacity() + truePeak.capacity());
}

Timeline Timeline::reduced(std::size_t steps) const {
    TAVRIN_EXPECTS(steps >= 1);
    Timeline copy = *this;
    while (copy.size() > steps)
        mergePairs(copy);
    for (auto* series : {&copy.momentary, &copy.shortTerm, &copy.truePeak})
        series->shrink_to_fit();
    return copy;
}

void TimelineBuilder::Step::raise(const Step& other) {
    momentary = larger(momentary, other.momentary);
    shortTerm = larger(shortTerm, other.shortTerm);
    truePeak = larger(truePeak, other.truePeak);
}

void TimelineBuilder::add(std::optional<double> momentary, std::optional<double> shortTerm,
                          std::optional<double> truePeak) {
    m_pending.raise({momentary, shortTerm, truePeak});
    if (++m_pendingCount < m_perStep)
        return;
    push(m_pending);
    m_pending = {};
    m_pendingCount = 0;
}

void TimelineBuilder::raiseLastTruePeak(double truePeak) {
    if (m_pendingCount > 0)
        m_pending.truePeak = larger(m_pending.truePeak, truePeak);
    else if (!m_timeline.truePeak.empty())
        m_timeline.truePeak.back() = larger(m_timeline.truePeak.back(), truePeak);
}

Timeline TimelineBuilder::finish(double duration) {
    if (m_pendingCount > 0)
        push(m_pending);
    Timeline timeline = std::move(m_timeline);
    timeline.duration = duration;
    *this = {};
    return timeline;
}

void TimelineBuilder::push(const Step& step) {
    m_timeline.momentary.push_back(step.momentary);
    m_timeline.shortTerm.push_back(step.shortTerm);
    m_timeline.truePeak.push_back(step.truePeak);
    // Merged at once, so that the steps still to come are gathered at the new length.
    if (m_timeline.size() == Timeline::maxSteps)
        mergePairs();
}

void TimelineBuilder::mergePairs() {
    tavrin::mergePairs(m_timeline);
    m_perStep *= 2;
}

} // namespace tavrin
