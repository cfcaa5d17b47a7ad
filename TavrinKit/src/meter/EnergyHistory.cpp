#include "tavrin/meter/EnergyHistory.h"

#include "tavrin/core/Expects.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace tavrin {
namespace {

constexpr double absoluteGate = -70.0; // LUFS
constexpr double relativeGate = -10.0; // LU below the absolute-gated level (integrated)
constexpr double rangeGate = -20.0;    // LU below the absolute-gated level (loudness range)

} // namespace

double EnergyHistory::loudness(double meanSquare) {
    return meanSquare > 0 ? 10 * std::log10(meanSquare) - 0.691
                          : -std::numeric_limits<double>::infinity();
}

void EnergyHistory::reserve(std::size_t steps) {
    m_energy.reserve(steps);
    m_frames.reserve(steps);
}

void EnergyHistory::append(double stepEnergy, std::int64_t stepFrames) {
    TAVRIN_EXPECTS(stepFrames >= 0 && stepFrames <= std::numeric_limits<std::uint32_t>::max());
    m_energy.push_back(stepEnergy);
    m_frames.push_back(static_cast<std::uint32_t>(stepFrames));
}

double EnergyHistory::energy(std::size_t from, std::size_t count) const {
    TAVRIN_EXPECTS(from + count <= stepCount());
    const auto begin = m_energy.begin() + static_cast<std::ptrdiff_t>(from);
    return std::accumulate(begin, begin + static_cast<std::ptrdiff_t>(count), 0.0);
}

std::int64_t EnergyHistory::frames(std::size_t from, std::size_t count) const {
    TAVRIN_EXPECTS(from + count <= stepCount());
    const auto begin = m_frames.begin() + static_cast<std::ptrdiff_t>(from);
    return std::accumulate(begin, begin + static_cast<std::ptrdiff_t>(count), std::int64_t{0});
}

double EnergyHistory::meanEnergy(std::size_t from, std::size_t count) const {
    const std::int64_t frameCount = frames(from, count);
    return frameCount < 1 ? 0 : energy(from, count) / static_cast<double>(frameCount);
}

/// Window starts are taken in blocks of up to 64, aligned to the start of the history so that a
/// window's sum is the same whichever windows are asked for. The windows of a block all hold the
/// steps from the block's end to its first window's end; each adds the steps of the block from its
/// start on (suffix sums, computed once per block) and those after that shared part up to its own
/// end (a running sum). Only additions of steps the window holds: a few per window, none
/// allocated. Frame counts are integers, exact as a running difference.
template <class Visit>
void EnergyHistory::forEachWindow(std::size_t window, std::size_t stride, std::size_t first,
                                  std::size_t last, Visit visit) const {
    TAVRIN_EXPECTS(window > 0 && stride > 0 && first <= last && last + window <= stepCount());
    constexpr std::size_t maxBlock = 64;
    const std::size_t block = std::min(window, maxBlock);
    std::array<double, maxBlock> suffix{}; // suffix[k]: steps [b + k, b + block)
    std::int64_t frameCount = frames(first, window);
    for (std::size_t b = first - first % block; b <= last; b += block) {
        double sum = 0;
        for (std::size_t k = block; k-- > 0;)
            suffix[k] = sum += m_energy[b + k];
        double shared = 0;
        for (std::size_t j = b + block; j < b + window; ++j)
            shared += m_energy[j];
        double tail = 0; // steps [b + window, start + window)
        for (std::size_t start = b; start < b + block && start <= last; ++start) {
            if (start >= first && (start - first) % stride == 0) {
                const double e = suffix[start - b] + shared + tail;
                visit(start, frameCount < 1 ? 0.0 : e / static_cast<double>(frameCount));
            }
            if (start == last)
                return;
            tail += m_energy[start + window];
            if (start >= first)
                frameCount +=
                    std::int64_t(m_frames[start + window]) - std::int64_t(m_frames[start]);
        }
    }
}

EnergyHistory::Loudest EnergyHistory::loudestWindow(std::size_t window, std::size_t after) const {
    Loudest loudest;
    const std::size_t n = stepCount();
    const std::size_t first = std::max(after + 1, window) - window;
    if (n < window || first > n - window)
        return loudest;
    forEachWindow(window, 1, first, n - window, [&](std::size_t start, double e) {
        if (e > loudest.meanEnergy)
            loudest = {e, start + window};
    });
    return loudest;
}

std::vector<double> EnergyHistory::windowLoudness(std::size_t window, std::size_t stride) const {
    TAVRIN_EXPECTS(stride > 0);
    std::vector<double> values;
    const std::size_t n = stepCount();
    if (n < window || window == 0)
        return values;
    values.reserve((n - window) / stride + 1);
    forEachWindow(window, stride, 0, n - window,
                  [&](std::size_t, double e) { values.push_back(loudness(e)); });
    return values;
}

std::vector<double> EnergyHistory::momentaryLoudness(std::size_t stride) const {
    return windowLoudness(momentarySteps, stride);
}

std::vector<double> EnergyHistory::shortTermLoudness(std::size_t stride) const {
    return windowLoudness(shortTermSteps, stride);
}

std::optional<double> EnergyHistory::integratedLoudness() const {
    const std::size_t n = stepCount();
    if (n < momentarySteps)
        return std::nullopt;
    // Gating blocks of 400 ms every 100 ms, aligned to the start of the file.
    std::vector<double> blocks;
    blocks.reserve((n - momentarySteps) / blockHop + 1);
    for (std::size_t s = 0; s + momentarySteps <= n; s += blockHop) {
        const double e = meanEnergy(s, momentarySteps);
        if (e > 0 && loudness(e) > absoluteGate)
            blocks.push_back(e);
    }
    if (blocks.empty())
        return std::nullopt;
    double sum = 0;
    for (double e : blocks)
        sum += e;
    const double threshold = loudness(sum / static_cast<double>(blocks.size())) + relativeGate;
    double gatedSum = 0;
    std::size_t gatedCount = 0;
    for (double e : blocks)
        if (loudness(e) > threshold) {
            gatedSum += e;
            ++gatedCount;
        }
    return loudness(gatedSum / static_cast<double>(gatedCount));
}

std::optional<double> EnergyHistory::loudnessRange() const {
    if (stepCount() < shortTermSteps)
        return std::nullopt;
    return loudnessRange(shortTermLoudness(blockHop));
}

std::optional<double> EnergyHistory::loudnessRange(std::vector<double> shortTerm) {
    std::erase_if(shortTerm, [](double l) { return !(l >= absoluteGate); });
    if (shortTerm.empty())
        return std::nullopt;
    double power = 0;
    for (double l : shortTerm)
        power += std::pow(10.0, l / 10);
    const double threshold =
        10 * std::log10(power / static_cast<double>(shortTerm.size())) + rangeGate;
    std::erase_if(shortTerm, [&](double l) { return !(l >= threshold); });
    std::sort(shortTerm.begin(), shortTerm.end());
    // Nearest rank, halves away from zero: rank = p·(m − 1)/100 + 1, 1-based.
    const auto percentile = [&](int p) {
        const double m = static_cast<double>(shortTerm.size());
        const auto rank = static_cast<std::size_t>(std::round(p * (m - 1) / 100 + 1));
        return shortTerm[rank - 1];
    };
    return percentile(95) - percentile(10);
}

} // namespace tavrin
