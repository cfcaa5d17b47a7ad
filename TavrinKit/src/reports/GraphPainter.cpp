#include "reports/GraphPainter.h"

#include "reports/GraphColumns.h"
#include "reports/GraphText.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/reports/ReportTexts.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tavrin::Graph {
namespace {

/// Absorbs floating-point error so that a rounded peak exactly on the ceiling is within it.
constexpr double epsilon = 1e-9;

/// A whole number of LUFS or dBTP for an axis label, with a true minus sign.
std::string axisNumber(double value) {
    const long long n = std::llround(value);
    return (n < 0 ? "−" : "") + std::to_string(n < 0 ? -n : n);
}

/// Whether the content's detail covers the plot, and is drawn in the timeline's place.
bool detailed(const Content& content, const Geometry& g) {
    return content.detail && content.detail->covers(g.start, g.start + g.duration);
}

/// `g` for a timeline whose steps start `origin` seconds into the file.
Geometry shifted(Geometry g, double origin) {
    g.start -= origin;
    return g;
}

class Painter {
public:
    Painter(cairo_t* cr, const Content& content, const Style& style, const Geometry& g,
            double columnsPerUnit)
        : m_cr(cr), m_content(content), m_style(style), m_palette(style.palette), m_g(g),
          m_pen(cr, style), m_columns(static_cast<std::size_t>(std::max(
                                1.0, std::ceil((g.plotRight - g.plotLeft) * columnsPerUnit)))),
          m_ceiling(content.spec.ceiling(content.result.integrated)),
          m_drawn(detailed(content, g) ? content.detail->timeline : content.timeline),
          m_gDrawn(shifted(g, detailed(content, g) ? content.detail->origin : 0)),
          m_limiting(content.copy ? limiting(content.timeline, *content.copy)
                                  : std::vector<std::optional<double>>{}) {}

    void paint(double width, double height) {
        setColour(m_cr, m_palette.background);
        cairo_rectangle(m_cr, 0, 0, width, height);
        cairo_fill(m_cr);
        cairo_set_line_join(m_cr, CAIRO_LINE_JOIN_ROUND);
        loudnessGrid();
        peakLane();
        timeAxis();
        cairo_save(m_cr);
        cairo_rectangle(m_cr, m_g.plotLeft, m_g.loudnessTop, m_g.plotRight - m_g.plotLeft,
                        m_g.loudnessBottom - m_g.loudnessTop);
        cairo_clip(m_cr);
        // The momentary band of a long file fills most of the plot: the target and the integrated
        // line go over it, the short-term line over them.
        series(m_drawn, m_drawn.momentary, m_gDrawn, m_palette.momentary, 1.0);
        targetBand();
        integratedLine();
        series(m_drawn, m_drawn.shortTerm, m_gDrawn, m_palette.shortTerm, 1.6);
        if (const Timeline* copy = m_content.copy)
            series(*copy, copy->shortTerm, m_g, m_palette.copy, 1.6);
        cairo_restore(m_cr);
        maxima();
        legend();
    }

private:
    double fontSize() const { return m_style.fontSize; }
    double unit() const { return 1 / std::max(1.0, m_style.scale); } // one device pixel

    void hLine(double y, double x1, double x2, Colour colour, double width) {
        cairo_new_path(m_cr);
        setColour(m_cr, colour);
        cairo_set_line_width(m_cr, width);
        cairo_move_to(m_cr, x1, y);
        cairo_line_to(m_cr, x2, y);
        cairo_stroke(m_cr);
    }

    void targetBand() {
        const DeliverySpec& spec = m_content.spec;
        const double top = m_g.yAtLufs(spec.target + spec.tolerance);
        const double bottom = m_g.yAtLufs(spec.target - spec.tolerance);
        setColour(m_cr, m_palette.target, 0.16);
        cairo_rectangle(m_cr, m_g.plotLeft, top, m_g.plotRight - m_g.plotLeft, bottom - top);
        cairo_fill(m_cr);
        hLine(m_g.yAtLufs(spec.target), m_g.plotLeft, m_g.plotRight, m_palette.target, 1);
    }

    void loudnessGrid() {
        const double range = m_g.lufsTop - m_g.lufsBottom;
        const double step = range <= 42 ? 6 : 12;
        for (double lufs = m_g.lufsTop; lufs >= m_g.lufsBottom - epsilon; lufs -= step) {
            const double y = m_g.yAtLufs(lufs);
            hLine(y, m_g.plotLeft, m_g.plotRight, m_palette.grid, 0.5);
            m_pen.draw(axisNumber(lufs), m_g.plotLeft - fontSize() * 0.5, y, Align::right,
                       m_palette.text);
        }
        m_pen.draw("LUFS", m_g.plotLeft - fontSize() * 0.5, m_g.loudnessTop - fontSize() * 1.1,
                   Align::right, m_palette.text);
    }

    void peakLane() {
        const Timeline& timeline = m_drawn;
        const Geometry& g = m_gDrawn;
        setColour(m_cr, m_palette.grid, 0.35);
        cairo_rectangle(m_cr, g.plotLeft, g.peakTop, g.plotRight - g.plotLeft,
                        g.peakBottom - g.peakTop);
        cairo_fill(m_cr);
        // Stretches over the ceiling stay visible however short: at least a device pixel.
        for (const TimeSpan& span : timeline.truePeakOver(m_ceiling)) {
            const double x1 = std::max(g.xAt(span.start), g.plotLeft);
            const double x2 = std::min(std::max(g.xAt(span.end), x1 + 2 * unit()), g.plotRight);
            if (x2 <= x1)
                continue;
            setColour(m_cr, m_palette.fail, 0.22);
            cairo_rectangle(m_cr, x1, g.peakTop, x2 - x1, g.peakBottom - g.peakTop);
            cairo_fill(m_cr);
        }
        // A short file's steps, or a short stretch's, are wider than a column: each bar then
        // fills its step.
        const auto [first, last] = stepsShown(timeline.size(), timeline.step, g);
        const bool perStep = last - first <= m_columns;
        const std::size_t count = perStep ? last - first : m_columns;
        const std::vector<Column> columns =
            perStep ? std::vector<Column>{}
                    : columnsOf(timeline.truePeak, timeline.step, g, m_columns);
        const double plotWidth = g.plotRight - g.plotLeft;
        // One path per colour, filled once: a fill per bar costs more than the rest of the graph.
        for (const bool over : {false, true}) {
            cairo_new_path(m_cr);
            for (std::size_t c = 0; c < count; ++c) {
                const std::size_t k = first + c;
                const std::optional<double> peak =
                    perStep ? timeline.truePeak[k]
                            : (columns[c].any ? std::optional(columns[c].high) : std::nullopt);
                if (!peak || (Fmt::round1(*peak) > m_ceiling + epsilon) != over)
                    continue;
                const double y = std::max(g.yAtDbtp(*peak), g.peakTop);
                if (y >= g.peakBottom)
                    continue;
                const double x1 =
                    perStep ? std::max(g.xAt(static_cast<double>(k) * timeline.step), g.plotLeft)
                            : g.plotLeft + plotWidth * static_cast<double>(c) /
                                               static_cast<double>(m_columns);
                const double x2 = perStep ? std::min(g.xAt(timeline.stepEnd(k)), g.plotRight)
                                          : x1 + plotWidth / static_cast<double>(m_columns);
                cairo_rectangle(m_cr, x1, y, std::max(x2 - x1, unit()), g.peakBottom - y);
            }
            setColour(m_cr, over ? m_palette.fail : m_palette.truePeak);
            cairo_fill(m_cr);
        }
        limitingBars();
        m_pen.draw(axisNumber(m_g.dbtpBottom), m_g.plotLeft - fontSize() * 0.5,
                   m_g.peakBottom - fontSize() * 0.5, Align::right, m_palette.text);
        const double ceilingY = m_g.yAtDbtp(m_ceiling);
        hLine(ceilingY, m_g.plotLeft, m_g.plotRight, m_palette.fail, 1);
        m_pen.draw(Fmt::number(m_ceiling, false), m_g.plotLeft - fontSize() * 0.5, ceilingY,
                   Align::right, m_palette.fail);
        m_pen.draw("dBTP", m_g.plotLeft - fontSize() * 0.5, ceilingY + fontSize() * 1.2,
                   Align::right, m_palette.text);
    }

    /// The copy's limiting, hanging from the lane's top as deep as it took the peaks down: a bar
    /// per step where steps are wider than columns, else per column.
    void limitingBars() {
        if (m_limiting.empty())
            return;
        const double step = m_content.copy->step;
        const auto [first, last] = stepsShown(m_limiting.size(), step, m_g);
        const double perDb = (m_g.peakBottom - m_g.peakTop) / (m_g.dbtpTop - m_g.dbtpBottom);
        const auto bar = [&](double x1, double x2, double dB) {
            cairo_rectangle(m_cr, x1, m_g.peakTop, std::max(x2 - x1, unit()),
                            std::min(dB * perDb, m_g.peakBottom - m_g.peakTop));
        };
        cairo_new_path(m_cr);
        if (last - first <= m_columns) {
            for (std::size_t k = first; k < last; ++k)
                if (m_limiting[k])
                    bar(std::max(m_g.xAt(static_cast<double>(k) * step), m_g.plotLeft),
                        std::min(m_g.xAt(static_cast<double>(k + 1) * step), m_g.plotRight),
                        *m_limiting[k]);
        } else {
            const auto columns = columnsOf(m_limiting, step, m_g, m_columns);
            const double width = (m_g.plotRight - m_g.plotLeft) / static_cast<double>(m_columns);
            for (std::size_t c = 0; c < columns.size(); ++c)
                if (columns[c].any) {
                    const double x = m_g.plotLeft + width * static_cast<double>(c);
                    bar(x, x + width, columns[c].high);
                }
        }
        setColour(m_cr, m_palette.copy, 0.85);
        cairo_fill(m_cr);
    }

    void timeAxis() {
        static constexpr std::array ticks{1.0,   2.0,   5.0,    10.0,   15.0,   30.0,
                                          60.0,  120.0, 300.0,  600.0,  900.0,  1800.0,
                                          3600., 7200., 10800., 21600., 43200., 86400.};
        const double room = m_g.plotRight - m_g.plotLeft;
        const double labels = std::max(1.0, room / (fontSize() * 6));
        double tick = ticks.back();
        for (double t : ticks)
            if (m_g.duration / t <= labels) {
                tick = t;
                break;
            }
        const double y = m_g.peakBottom + fontSize() * 1.0;
        const double end = m_g.start + m_g.duration;
        for (double t = std::ceil(m_g.start / tick - epsilon) * tick; t <= end + epsilon;
             t += tick) {
            const double x = m_g.xAt(t);
            setColour(m_cr, m_palette.grid);
            cairo_set_line_width(m_cr, 0.5);
            cairo_move_to(m_cr, x, m_g.loudnessTop);
            cairo_line_to(m_cr, x, m_g.peakBottom + fontSize() * 0.3);
            cairo_stroke(m_cr);
            const std::string label = Fmt::duration(t);
            const double half = m_pen.measure(label) / 2;
            const Align align = x - half < m_g.plotLeft - fontSize() * 2 ? Align::left
                                : x + half > m_g.plotRight + fontSize()  ? Align::right
                                                                         : Align::centre;
            m_pen.draw(label, x, y, align, m_palette.text);
        }
    }

    void integratedLine() {
        const auto& integrated = m_content.result.integrated;
        if (!integrated)
            return;
        const std::array<double, 2> dashes{4, 3};
        cairo_set_dash(m_cr, dashes.data(), 2, 0);
        hLine(m_g.yAtLufs(*integrated), m_g.plotLeft, m_g.plotRight, m_palette.integrated, 1.2);
        cairo_set_dash(m_cr, nullptr, 0, 0);
    }

    /// One line through the columns' values, down and up within a column when it holds more than
    /// one, broken where the series has no value. The line is stroked in short pieces: cairo's
    /// rasteriser slows down sharply with the number of edges a single long zigzag keeps active
    /// per row. Round caps meet where two pieces join, so the seam looks like a round join.
    /// `values` of `timeline`, placed by `g`: the plot's geometry, or the detail's.
    void series(const Timeline& timeline, const std::vector<std::optional<double>>& values,
                const Geometry& g, Colour colour, double width) {
        constexpr std::size_t columnsPerStroke = 8;
        const std::vector<Column> columns = columnsOf(values, timeline.step, g, m_columns);
        const double columnWidth = (g.plotRight - g.plotLeft) / static_cast<double>(m_columns);
        bool open = false;
        double last = 0;
        setColour(m_cr, colour);
        cairo_set_line_width(m_cr, width);
        cairo_set_line_cap(m_cr, CAIRO_LINE_CAP_ROUND);
        cairo_new_path(m_cr);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (!column.any)
                continue;
            const double x = g.plotLeft + (static_cast<double>(c) + 0.5) * columnWidth;
            // Enter the column at the end nearer the line's last value, so it doesn't zigzag.
            const bool downFirst = std::abs(column.high - last) < std::abs(column.low - last);
            const double first = downFirst ? column.high : column.low;
            const double second = downFirst ? column.low : column.high;
            if (!open || column.gapBefore)
                cairo_move_to(m_cr, x, g.yAtLufs(first));
            else
                cairo_line_to(m_cr, x, g.yAtLufs(first));
            cairo_line_to(m_cr, x, g.yAtLufs(second));
            last = second;
            open = true;
            if (c % columnsPerStroke == columnsPerStroke - 1) {
                cairo_stroke(m_cr);
                cairo_move_to(m_cr, x, g.yAtLufs(second));
            }
        }
        cairo_stroke(m_cr);
        cairo_set_line_cap(m_cr, CAIRO_LINE_CAP_BUTT);
    }

    /// A dot where a maximum happens, with its value beside it: above it, where a maximum leaves
    /// the curve clear, unless that is over the lane; to its right, or its left when `leftward`
    /// or there is no room.
    void mark(std::optional<double> value, std::optional<double> at, double y, Colour colour,
              const std::string& name, bool labelAbove, bool isSigned = false,
              bool leftward = false) {
        if (!value || !at || *at < m_g.start || *at > m_g.start + m_g.duration)
            return;
        const double x = m_g.xAt(*at);
        setColour(m_cr, m_palette.background);
        cairo_new_path(m_cr); // text leaves a current point behind
        cairo_arc(m_cr, x, y, fontSize() * 0.38, 0, 2 * M_PI);
        cairo_fill_preserve(m_cr);
        setColour(m_cr, colour);
        cairo_set_line_width(m_cr, 1.5);
        cairo_stroke(m_cr);
        const std::string label = name + " " + Fmt::number(*value, isSigned);
        const double width = m_pen.measure(label) + fontSize();
        const bool right = leftward ? x - width < m_g.plotLeft : x + width < m_g.plotRight;
        const double offset = fontSize() * 0.7;
        const double labelY = labelAbove ? y - fontSize() * 0.9 : y + fontSize() * 0.9;
        m_pen.draw(label, right ? x + offset : x - offset, labelY,
                   right ? Align::left : Align::right, m_palette.text, true);
    }

    void maxima() {
        const LoudnessResult& r = m_content.result;
        const auto lufsY = [&](std::optional<double> v) {
            return v ? std::clamp(m_g.yAtLufs(*v), m_g.loudnessTop, m_g.loudnessBottom) : 0.0;
        };
        // A maximum over the lane's top is marked on its edge, the value below, clear of the
        // legend.
        mark(r.maxMomentary, r.maxMomentaryAt, lufsY(r.maxMomentary), m_palette.momentary, "M",
             r.maxMomentary <= m_g.lufsTop);
        // Both maxima are labelled above their dots, apart: momentary to the right, short-term to
        // the left.
        mark(r.maxShortTerm, r.maxShortTermAt, lufsY(r.maxShortTerm), m_palette.shortTerm, "S",
             r.maxShortTerm <= m_g.lufsTop, false, true);
        if (r.truePeak) {
            const bool over = Fmt::round1(*r.truePeak) > m_ceiling + epsilon;
            const double y = std::clamp(m_g.yAtDbtp(*r.truePeak), m_g.peakTop, m_g.peakBottom);
            mark(r.truePeak, r.truePeakAt, y, over ? m_palette.fail : m_palette.truePeak, "TP",
                 true, true);
        }
    }

    /// What each line is, in one row above the plot.
    void legend() {
        const DeliverySpec& spec = m_content.spec;
        const double y = m_g.loudnessTop - fontSize() * 1.1;
        const double swatch = fontSize() * 1.6, gap = fontSize() * 1.2;
        double x = m_g.plotLeft;
        const auto entry = [&](const std::string& text, Colour colour, bool dashed) {
            const std::array<double, 2> dashes{3, 2};
            cairo_set_dash(m_cr, dashes.data(), dashed ? 2 : 0, 0);
            hLine(y, x, x + swatch, colour, 2);
            cairo_set_dash(m_cr, nullptr, 0, 0);
            x += swatch + fontSize() * 0.4;
            x += m_pen.draw(text, x, y, Align::left, m_palette.text) + gap;
        };
        entry(std::string(Report::legendShortTerm), m_palette.shortTerm, false);
        if (m_content.copy)
            entry(std::string(Report::legendCopy), m_palette.copy, false);
        if (std::ranges::any_of(m_limiting, [](const auto& dB) { return dB.has_value(); }))
            entry(std::string(Report::legendLimiting), m_palette.copy, true);
        entry(std::string(Report::legendMomentary), m_palette.momentary, false);
        entry(Report::legendTarget(spec), m_palette.target, false);
        if (m_content.result.integrated)
            entry(Report::legendIntegrated(*m_content.result.integrated), m_palette.integrated,
                  true);
        entry(Report::legendCeiling(m_ceiling), m_palette.fail, false);
    }

    cairo_t* m_cr;
    const Content& m_content;
    const Style& m_style;
    const Palette& m_palette;
    const Geometry& m_g;
    TextPen m_pen;
    std::size_t m_columns;
    double m_ceiling;
    const Timeline& m_drawn; ///< the timeline, or the detail that covers the view
    Geometry m_gDrawn;       ///< places m_drawn's steps
    std::vector<std::optional<double>> m_limiting; ///< the copy's, per step; empty without
};

} // namespace

void paint(cairo_t* cr, double width, double height, const Content& content, const Style& style,
           double columnsPerUnit) {
    const Geometry g = geometry(content, width, height, style);
    cairo_save(cr);
    Painter(cr, content, style, g, columnsPerUnit).paint(width, height);
    cairo_restore(cr);
}

} // namespace tavrin::Graph
