#include "tavrin/EnergyHistory.h"

#include "tavrin/Expects.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
    m_prefixEnergy.reserve(steps + 1);
    m_prefixFrames.reserve(steps + 1);
}

void EnergyHistory::append(double stepEnergy, std::int64_t stepFrames) {
    TAVRIN_EXPECTS(stepFrames >= 0 &&
                   m_prefixFrames.back() <= std::numeric_limits<std::int64_t>::max() - stepFrames);
    m_prefixEnergy.push_back(m_prefixEnergy.back() + stepEnergy);
    m_prefixFrames.push_back(m_prefixFrames.back() + stepFrames);
}

double EnergyHistory::energy(std::size_t from, std::size_t count) const {
    TAVRIN_EXPECTS(from + count < m_prefixEnergy.size());
    return m_prefixEnergy[from + count] - m_prefixEnergy[from];
}

std::int64_t EnergyHistory::frames(std::size_t from, std::size_t count) const {
    TAVRIN_EXPECTS(from + count < m_prefixFrames.size());
    return m_prefixFrames[from + count] - m_prefixFrames[from];
}

double EnergyHistory::meanEnergy(std::size_t from, std::size_t count) const {
    TAVRIN_EXPECTS(from + count < m_prefixEnergy.size());
    const std::int64_t frameCount = m_prefixFrames[from + count] - m_prefixFrames[from];
    if (frameCount < 1)
        return 0;
    return (m_prefixEnergy[from + count] - m_prefixEnergy[from]) / static_cast<double>(frameCount);
}

std::vector<double> EnergyHistory::windowLoudness(std::size_t window, std::size_t stride) const {
    TAVRIN_EXPECTS(stride > 0);
    std::vector<double> values;
    const std::size_t n = stepCount();
    if (n < window)
        return values;
    values.reserve((n - window) / stride + 1);
    for (std::size_t s = 0; s + window <= n; s += stride)
        values.push_back(loudness(meanEnergy(s, window)));
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
