#pragma once

// The meter's algorithm written the straightforward way, one sample at a time in the order the
// arithmetic is defined, as a yardstick for the vectorised LoudnessMeter. It shares only the
// coefficient designs and the gating arithmetic (EnergyHistory) with the product.

#include "tavrin/EnergyHistory.h"
#include "tavrin/KWeighting.h"
#include "tavrin/LoudnessResult.h"
#include "tavrin/TruePeakDetector.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavrin::test {

inline LoudnessResult referenceMeter(const std::vector<std::vector<double>>& channels,
                                     const std::vector<double>& weights, double rate) {
    const auto stages = KWeighting::stages(rate);
    const auto& bank = TruePeakDetector::filterBank();
    const std::size_t frames = channels.front().size();
    std::vector<std::vector<double>> filtered(channels.size());
    double samplePeak = 0, truePeak = 0;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        // 31 zeros of history, the samples, then 32 zeros of flush.
        std::vector<double> x(31, 0.0);
        x.insert(x.end(), channels[c].begin(), channels[c].end());
        x.resize(x.size() + 32, 0.0);
        for (std::size_t i = 0; i + 31 < x.size(); ++i)
            for (const auto& phase : bank) {
                double sum = 0;
                for (std::size_t p = 0; p < 32; ++p)
                    sum += x[i + p] * phase[p];
                truePeak = std::max(truePeak, std::fabs(sum));
            }
        for (double v : channels[c])
            samplePeak = std::max(samplePeak, std::fabs(v));
        filtered[c] = channels[c];
        for (const Biquad& b : stages) {
            double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
            for (double& v : filtered[c]) {
                const double y = b.b0 * v + b.b1 * x1 + b.b2 * x2 - b.a1 * y1 - b.a2 * y2;
                x2 = x1, x1 = v, y2 = y1, y1 = y, v = y;
            }
        }
    }
    EnergyHistory history;
    std::size_t start = 0;
    for (std::int64_t k = 0;; ++k) {
        const auto end =
            static_cast<std::size_t>(std::floor(rate * static_cast<double>(k + 1) / 100));
        if (end > frames)
            break;
        double energy = 0;
        for (std::size_t c = 0; c < channels.size(); ++c)
            if (weights[c] > 0) {
                double sum = 0;
                for (std::size_t i = start; i < end; ++i)
                    sum += filtered[c][i] * filtered[c][i];
                energy += weights[c] * sum;
            }
        history.append(energy, static_cast<std::int64_t>(end - start));
        start = end;
    }
    const auto maxOf = [](const std::vector<double>& values) -> std::optional<double> {
        if (values.empty())
            return std::nullopt;
        const double m = *std::max_element(values.begin(), values.end());
        return std::isfinite(m) ? std::optional(m) : std::nullopt;
    };
    const auto dB = [](double v) {
        return v > 0 ? std::optional(20 * std::log10(v)) : std::nullopt;
    };
    LoudnessResult r;
    r.integrated = history.integratedLoudness();
    r.loudnessRange = history.loudnessRange();
    r.maxMomentary = maxOf(history.momentaryLoudness(1));
    r.maxShortTerm = maxOf(history.shortTermLoudness(1));
    r.samplePeak = dB(samplePeak);
    r.truePeak = dB(std::max(truePeak, samplePeak));
    r.duration = static_cast<double>(frames) / rate;
    r.sampleRate = rate;
    r.channels = static_cast<int>(channels.size());
    return r;
}

} // namespace tavrin::test
