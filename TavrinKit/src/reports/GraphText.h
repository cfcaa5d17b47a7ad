#pragma once

// Private to TavrinKit: text and colour for the graph's painter.

#include "reports/SharedFontMap.h"
#include "tavrin/reports/Graph.h"

#include <cairo.h>
#include <pango/pangocairo.h>
#include <string>

namespace tavrin::Graph {

inline void setColour(cairo_t* cr, Colour c, double alphaScale = 1) {
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha * alphaScale);
}

enum class Align { left, centre, right };

/// Text in the graph's font, its vertical middle at `y`.
class TextPen {
public:
    TextPen(cairo_t* cr, const Style& style);
    ~TextPen();
    TextPen(const TextPen&) = delete;
    TextPen& operator=(const TextPen&) = delete;

    /// Draws `text` and returns its width.
    double draw(const std::string& text, double x, double y, Align align, Colour colour,
                bool bold = false);
    double measure(const std::string& text, bool bold = false);

private:
    SharedFontMap m_fontMap; // held while the pen lives
    cairo_t* m_cr;
    PangoLayout* m_layout;
    PangoFontDescription* m_font;
};

} // namespace tavrin::Graph
