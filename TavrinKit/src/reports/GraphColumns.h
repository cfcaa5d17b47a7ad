#pragma once

// Private to the reports group: a timeline's series as the graph draws them, a column at a time.

#include "tavrin/reports/Graph.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace tavrin::Graph {

/// One series reduced to columns: the smallest and largest value whose step centre falls in each.
struct Column {
    double low = 0, high = 0;
    bool any = false;
    bool gapBefore = false; ///< a step without a value came since the previous column with one
};

/// The steps of a series `step` seconds apart that lie within the plot, at least partly.
std::pair<std::size_t, std::size_t> stepsShown(std::size_t size, double step, const Geometry& g);

/// The steps of `series` within the plot in `count` columns across it.
std::vector<Column> columnsOf(const std::vector<std::optional<double>>& series, double step,
                              const Geometry& g, std::size_t count);

/// Per step, how far a copy's limiter took its true peak below the original's at the copy's gain,
/// in dB; absent where it took less than a fifth of a dB, and where either has no peak. The gain
/// is read from the two: the median difference of their momentary loudness, which limiting
/// barely moves. Empty unless the two have steps of one length.
std::vector<std::optional<double>> limiting(const Timeline& original, const Timeline& copy);

} // namespace tavrin::Graph
