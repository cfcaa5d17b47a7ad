#include "reports/PdfCanvas.h"

#include "reports/GraphPainter.h"
#include "reports/SharedFontMap.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <glib.h>
#include <pango/pangocairo.h>
#include <string>

namespace tavrin {
namespace {

/// Pango measures in 1/1024 of a point.
int toPango(double points) {
    return static_cast<int>(points * PANGO_SCALE + 0.5);
}
double fromPango(int units) {
    return static_cast<double>(units) / PANGO_SCALE;
}

/// Pango takes only valid UTF-8; a file name from a foreign file system may not be.
std::string validUtf8(std::string_view text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

struct PdfCanvas::State {
    SharedFontMap fontMap; // released last
    double height = 0;
    std::vector<std::uint8_t> bytes;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    PangoContext* context = nullptr;
    PangoLayout* layout = nullptr;

    ~State() {
        if (layout)
            g_object_unref(layout);
        if (context)
            g_object_unref(context);
        if (cr)
            cairo_destroy(cr);
        if (surface)
            cairo_surface_destroy(surface);
    }

    /// cairo's origin is the top-left corner.
    double flip(double y) const { return height - y; }

    void setFont(PdfCanvas::Font font) {
        PangoFontDescription* description = pango_font_description_new();
        // The layout's widths are made for Helvetica's metrics, which fontconfig gives as
        // Liberation Sans; characters it lacks come from whichever installed font has them.
        pango_font_description_set_family(description, "Helvetica");
        pango_font_description_set_weight(description,
                                          font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
        pango_font_description_set_absolute_size(description, font.size * PANGO_SCALE);
        pango_layout_set_font_description(layout, description);
        pango_font_description_free(description);
    }

    /// Lays `text` out as one line no wider than `maxWidth`. A shortened line is laid out again
    /// as the text it shows, "…" included, so that the document's text (copying, searching)
    /// reads as the page does rather than holding the removed part behind the "…".
    void setLine(const std::string& text, double maxWidth) {
        pango_layout_set_text(layout, text.c_str(), -1);
        pango_layout_set_width(layout, toPango(maxWidth));
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_MIDDLE);
        if (!pango_layout_is_ellipsized(layout))
            return;
        const std::string shown = shortened(text);
        pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
        pango_layout_set_width(layout, -1);
        pango_layout_set_text(layout, shown.c_str(), -1);
    }

    /// The text of the current (ellipsized) line: the run Pango marks as the ellipsis covers
    /// exactly the bytes it removed.
    std::string shortened(const std::string& text) const {
        for (GSList* run = pango_layout_get_line_readonly(layout, 0)->runs; run; run = run->next) {
            const PangoItem* item = static_cast<PangoGlyphItem*>(run->data)->item;
            if (item->analysis.flags & PANGO_ANALYSIS_FLAG_IS_ELLIPSIS) {
                const auto start = static_cast<std::size_t>(item->offset);
                const auto end = start + static_cast<std::size_t>(item->length);
                return text.substr(0, start) + "…" + text.substr(end);
            }
        }
        return text;
    }

    void setGray(double gray) { cairo_set_source_rgb(cr, gray, gray, gray); }
};

PdfCanvas::PdfCanvas(double width, double height, std::string_view title, std::string_view creator)
    : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.height = height;
    s.surface = cairo_pdf_surface_create_for_stream(append, &s.bytes, width, height);
    if (cairo_surface_status(s.surface) != CAIRO_STATUS_SUCCESS)
        return;
    cairo_pdf_surface_set_metadata(s.surface, CAIRO_PDF_METADATA_TITLE, validUtf8(title).c_str());
    cairo_pdf_surface_set_metadata(s.surface, CAIRO_PDF_METADATA_CREATOR,
                                   validUtf8(creator).c_str());
    s.cr = cairo_create(s.surface);
    s.context = pango_font_map_create_context(s.fontMap.get());
    // Exact outline metrics: a PDF is resolution-free, so hinting would only skew widths.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(s.context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(s.context, FALSE);
    pango_cairo_update_context(s.cr, s.context);
    // Every cell reads left to right, even one whose text starts in a right-to-left script.
    pango_context_set_base_dir(s.context, PANGO_DIRECTION_LTR);
    s.layout = pango_layout_new(s.context);
    pango_layout_set_auto_dir(s.layout, FALSE);
    pango_layout_set_single_paragraph_mode(s.layout, TRUE);
    pango_layout_set_wrap(s.layout, PANGO_WRAP_WORD);
}

PdfCanvas::~PdfCanvas() = default;

bool PdfCanvas::isValid() const {
    return m_state->layout != nullptr;
}

void PdfCanvas::drawLine(std::string_view text, double x, double baseline, Font font, double gray,
                         double maxWidth, Align align) {
    if (!isValid())
        return;
    State& s = *m_state;
    s.setFont(font);
    s.setLine(validUtf8(text), maxWidth);
    PangoRectangle line;
    pango_layout_line_get_extents(pango_layout_get_line_readonly(s.layout, 0), nullptr, &line);
    const double left = align == Align::left ? x : x - fromPango(line.width);
    s.setGray(gray);
    cairo_move_to(s.cr, left, s.flip(baseline) - fromPango(pango_layout_get_baseline(s.layout)));
    pango_cairo_show_layout(s.cr, s.layout);
}

std::vector<std::string> PdfCanvas::wrap(std::string_view text, Font font, double width) {
    if (!isValid())
        return {std::string(text)};
    State& s = *m_state;
    s.setFont(font);
    const std::string valid = validUtf8(text);
    pango_layout_set_text(s.layout, valid.c_str(), -1);
    pango_layout_set_width(s.layout, toPango(width));
    pango_layout_set_ellipsize(s.layout, PANGO_ELLIPSIZE_NONE);
    pango_layout_set_wrap(s.layout, PANGO_WRAP_WORD_CHAR);
    std::vector<std::string> lines;
    for (GSList* l = pango_layout_get_lines_readonly(s.layout); l; l = l->next) {
        const auto* line = static_cast<PangoLayoutLine*>(l->data);
        std::string part = valid.substr(static_cast<std::size_t>(line->start_index),
                                        static_cast<std::size_t>(line->length));
        part.erase(part.find_last_not_of(' ') + 1);
        lines.push_back(std::move(part));
    }
    pango_layout_set_wrap(s.layout, PANGO_WRAP_WORD);
    if (lines.empty())
        lines.emplace_back();
    return lines;
}

void PdfCanvas::drawParagraph(std::string_view text, double x, double y, double width,
                              double height, Font font, double gray) {
    if (!isValid())
        return;
    State& s = *m_state;
    s.setFont(font);
    pango_layout_set_text(s.layout, validUtf8(text).c_str(), -1);
    pango_layout_set_width(s.layout, toPango(width));
    pango_layout_set_ellipsize(s.layout, PANGO_ELLIPSIZE_NONE);
    s.setGray(gray);
    const double top = s.flip(y + height);
    PangoLayoutIter* lines = pango_layout_get_iter(s.layout);
    do {
        PangoRectangle extents;
        pango_layout_iter_get_line_extents(lines, nullptr, &extents);
        if (fromPango(extents.y + extents.height) > height)
            break;
        cairo_move_to(s.cr, x + fromPango(extents.x),
                      top + fromPango(pango_layout_iter_get_baseline(lines)));
        pango_cairo_show_layout_line(s.cr, pango_layout_iter_get_line_readonly(lines));
    } while (pango_layout_iter_next_line(lines));
    pango_layout_iter_free(lines);
}

void PdfCanvas::fillRect(double x, double y, double width, double height, double gray) {
    if (!isValid())
        return;
    State& s = *m_state;
    s.setGray(gray);
    cairo_rectangle(s.cr, x, s.flip(y + height), width, height);
    cairo_fill(s.cr);
}

void PdfCanvas::strokeLine(double x1, double y1, double x2, double y2, double gray,
                           double lineWidth) {
    if (!isValid())
        return;
    State& s = *m_state;
    s.setGray(gray);
    cairo_set_line_width(s.cr, lineWidth);
    cairo_move_to(s.cr, x1, s.flip(y1));
    cairo_line_to(s.cr, x2, s.flip(y2));
    cairo_stroke(s.cr);
}

void PdfCanvas::drawGraph(const Graph::Content& content, double x, double y, double width,
                          double height, const Graph::Style& style) {
    State& s = *m_state;
    if (!s.cr)
        return;
    cairo_save(s.cr);
    cairo_translate(s.cr, x, s.flip(y + height));
    // A printed page is zoomed into: four columns to a point keep the lines smooth.
    Graph::paint(s.cr, width, height, content, style, 4);
    cairo_restore(s.cr);
}

void PdfCanvas::endPage() {
    if (isValid())
        cairo_show_page(m_state->cr);
}

std::vector<std::uint8_t> PdfCanvas::finish() {
    if (!isValid())
        return {};
    State& s = *m_state;
    cairo_surface_finish(s.surface);
    std::vector<std::uint8_t> bytes = std::move(s.bytes);
    const bool failed = cairo_surface_status(s.surface) != CAIRO_STATUS_SUCCESS;
    g_object_unref(s.layout);
    s.layout = nullptr;
    return failed ? std::vector<std::uint8_t>{} : bytes;
}

} // namespace tavrin
