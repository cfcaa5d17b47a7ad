#include "reports/GraphColumns.h"

#include <algorithm>
#include <cmath>

namespace tavrin::Graph {

std::pair<std::size_t, std::size_t> stepsShown(std::size_t size, double step, const Geometry& g) {
    const auto first =
        std::min(size, static_cast<std::size_t>(std::max(0.0, std::floor(g.start / step))));
    const auto last =
        std::clamp(static_cast<std::size_t>(std::ceil((g.start + g.duration) / step)), first, size);
    return {first, last};
}

std::vector<Column> columnsOf(const std::vector<std::optional<double>>& series, double step,
                              const Geometry& g, std::size_t count) {
    std::vector<Column> columns(count);
    bool gap = false;
    const auto [first, last] = stepsShown(series.size(), step, g);
    for (std::size_t k = first; k < last; ++k) {
        if (!series[k]) {
            gap = true;
            continue;
        }
        const double along = ((static_cast<double>(k) + 0.5) * step - g.start) / g.duration;
        const auto c = std::min(
            count - 1, static_cast<std::size_t>(std::max(0.0, along * static_cast<double>(count))));
        Column& column = columns[c];
        const double v = *series[k];
        column.gapBefore |= gap && !column.any;
        column.low = column.any ? std::min(column.low, v) : v;
        column.high = column.any ? std::max(column.high, v) : v;
        column.any = true;
        gap = false;
    }
    return columns;
}

std::vector<std::optional<double>> limiting(const Timeline& original, const Timeline& copy) {
    if (original.step != copy.step)
        return {};
    const std::size_t size = std::min({original.momentary.size(), original.truePeak.size(),
                                       copy.momentary.size(), copy.truePeak.size()});
    std::vector<double> differences;
    for (std::size_t k = 0; k < size; ++k)
        if (original.momentary[k] && copy.momentary[k])
            differences.push_back(*copy.momentary[k] - *original.momentary[k]);
    if (differences.empty())
        return {};
    const auto middle = differences.begin() + std::ptrdiff_t(differences.size() / 2);
    std::nth_element(differences.begin(), middle, differences.end());
    const double gain = *middle;
    constexpr double acting = 0.2; // dB: less is the copy's quantisation, not the limiter
    std::vector<std::optional<double>> reduction(size);
    for (std::size_t k = 0; k < size; ++k)
        if (original.truePeak[k] && copy.truePeak[k] &&
            *original.truePeak[k] + gain - *copy.truePeak[k] >= acting)
            reduction[k] = *original.truePeak[k] + gain - *copy.truePeak[k];
    return reduction;
}

} // namespace tavrin::Graph
