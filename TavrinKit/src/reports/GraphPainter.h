#pragma once

#include "tavrin/reports/Graph.h"

#include <cairo.h>

namespace tavrin::Graph {

/// Draws the graph of `content` with cairo in a `width` × `height` box of user units whose
/// top-left corner is the current origin. Series are reduced to one minimum and maximum per
/// column, `columnsPerUnit` columns to a unit: the device pixels of an image, a finer grid for
/// documents that may be zoomed.
void paint(cairo_t* cr, double width, double height, const Content& content, const Style& style,
           double columnsPerUnit);

} // namespace tavrin::Graph
