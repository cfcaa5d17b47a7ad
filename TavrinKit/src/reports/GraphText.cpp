#include "reports/GraphText.h"

namespace tavrin::Graph {

TextPen::TextPen(cairo_t* cr, const Style& style) : m_cr(cr) {
    PangoContext* context = pango_font_map_create_context(m_fontMap.get());
    pango_cairo_update_context(cr, context);
    m_layout = pango_layout_new(context);
    g_object_unref(context); // the layout keeps it
    m_font = pango_font_description_new();
    pango_font_description_set_family(m_font, style.fontFamily.c_str());
    pango_font_description_set_absolute_size(m_font, style.fontSize * PANGO_SCALE);
}

TextPen::~TextPen() {
    pango_font_description_free(m_font);
    g_object_unref(m_layout);
}

double TextPen::draw(const std::string& text, double x, double y, Align align, Colour colour,
                     bool bold) {
    const double width = measure(text, bold);
    const double left = align == Align::left    ? x
                        : align == Align::right ? x - width
                                                : x - width / 2;
    int w = 0, h = 0;
    pango_layout_get_size(m_layout, &w, &h);
    setColour(m_cr, colour);
    cairo_move_to(m_cr, left, y - static_cast<double>(h) / PANGO_SCALE / 2);
    pango_cairo_show_layout(m_cr, m_layout);
    return width;
}

double TextPen::measure(const std::string& text, bool bold) {
    pango_font_description_set_weight(m_font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(m_layout, m_font);
    pango_layout_set_text(m_layout, text.c_str(), -1);
    int w = 0, h = 0;
    pango_layout_get_size(m_layout, &w, &h);
    return static_cast<double>(w) / PANGO_SCALE;
}

} // namespace tavrin::Graph
