#include "tavrin/reports/Graph.h"

#include "reports/GraphColumns.h"
#include "reports/GraphPainter.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/reports/ReportTexts.h"

#include <algorithm>
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cmath>
#include <span>

namespace tavrin::Graph {
namespace {

constexpr Colour rgb(int r, int g, int b, double alpha = 1) {
    return {r / 255.0, g / 255.0, b / 255.0, alpha};
}

using Series = std::span<const std::optional<double>>;

std::optional<double> largest(Series series) {
    std::optional<double> top;
    for (const auto& v : series)
        if (v && (!top || *v > *top))
            top = v;
    return top;
}

std::optional<double> smallest(Series series) {
    std::optional<double> bottom;
    for (const auto& v : series)
        if (v && (!bottom || *v < *bottom))
            bottom = v;
    return bottom;
}

/// The top of either lane at most, in LUFS or dBTP: louder values are drawn at the top. No
/// recording goes much past full scale, but a float file can hold one absurd sample, which would
/// otherwise squash the rest into a line under dozens of labels.
constexpr double highestShown = 12;

double duration(const Content& content) {
    const double d = std::max(content.timeline.duration, content.result.duration);
    return d > 0 ? d : Timeline::baseStep;
}

/// The stretch drawn: the view within the file, at least a step long, or the whole file.
TimeSpan shown(const Content& content) {
    const double whole = duration(content);
    if (!content.view)
        return {0, whole};
    const double start = std::clamp(content.view->start, 0.0, whole - Timeline::baseStep);
    return {start, std::clamp(content.view->end, start + Timeline::baseStep, whole)};
}

cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
    auto* bytes = static_cast<std::vector<std::uint8_t>*>(closure);
    bytes->insert(bytes->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

/// Paints onto `surface` and finishes it; false when cairo reported an error.
bool paintOn(cairo_surface_t* surface, double width, double height, const Content& content,
             const Style& style, double columnsPerUnit, double scale = 1) {
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    paint(cr, width, height, content, style, columnsPerUnit);
    const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    return ok;
}

} // namespace

Palette Palette::light() {
    return {.background = rgb(255, 255, 255),
            .text = rgb(60, 60, 67),
            .grid = rgb(60, 60, 67, 0.18),
            .shortTerm = rgb(0, 102, 204),
            .momentary = rgb(150, 190, 236),
            .target = rgb(36, 138, 61),
            .integrated = rgb(28, 28, 30),
            .truePeak = rgb(110, 110, 118),
            .fail = rgb(215, 0, 21),
            .copy = rgb(201, 52, 0)};
}

Palette Palette::dark() {
    return {.background = rgb(30, 30, 32),
            .text = rgb(235, 235, 245, 0.75),
            .grid = rgb(235, 235, 245, 0.16),
            .shortTerm = rgb(64, 156, 255),
            .momentary = rgb(44, 86, 140),
            .target = rgb(48, 209, 88),
            .integrated = rgb(242, 242, 247),
            .truePeak = rgb(152, 152, 157),
            .fail = rgb(255, 69, 58),
            .copy = rgb(255, 159, 10)};
}

double Geometry::xAt(double seconds) const {
    return plotLeft + (plotRight - plotLeft) * (seconds - start) / duration;
}

double Geometry::secondsAt(double x) const {
    return start + std::clamp((x - plotLeft) / (plotRight - plotLeft) * duration, 0.0, duration);
}

double Geometry::yAtLufs(double lufs) const {
    return loudnessTop + (lufsTop - lufs) / (lufsTop - lufsBottom) * (loudnessBottom - loudnessTop);
}

double Geometry::yAtDbtp(double dbtp) const {
    return peakTop + (dbtpTop - dbtp) / (dbtpTop - dbtpBottom) * (peakBottom - peakTop);
}

Geometry geometry(const Content& content, double width, double height, const Style& style) {
    const double fs = style.fontSize;
    Geometry g;
    const TimeSpan view = shown(content);
    g.start = view.start;
    g.duration = view.end - view.start;
    g.plotLeft = fs * 4.2;
    g.plotRight = std::max(g.plotLeft + 1, width - fs * 1.5);
    g.loudnessTop = fs * 2.6;
    g.peakBottom = std::max(g.loudnessTop + 4, height - fs * 2.2);
    const double lane = std::max(fs * 3.2, (g.peakBottom - g.loudnessTop) * 0.22);
    g.peakTop = g.peakBottom - lane;
    g.loudnessBottom = std::max(g.loudnessTop + 1, g.peakTop - fs * 1.2);

    // The target band and every value fit, on a grid of 6 LU, at least 18 LU tall.
    const DeliverySpec& spec = content.spec;
    const Timeline& timeline = content.timeline;
    const double high = std::max(
        {spec.target + spec.tolerance, content.result.maxMomentary.value_or(-100),
         largest(timeline.momentary).value_or(-100), largest(timeline.shortTerm).value_or(-100),
         content.copy ? largest(content.copy->shortTerm).value_or(-100) : -100});
    const double low =
        std::min(spec.target - spec.tolerance, smallest(timeline.shortTerm).value_or(spec.target));
    g.lufsTop = std::min(std::ceil((high + 2) / 6) * 6, highestShown);
    g.lufsBottom = std::max(-72.0, std::min(std::floor((low - 4) / 6) * 6, g.lufsTop - 18));

    const double ceiling = spec.ceiling(content.result.integrated);
    g.dbtpTop = std::min(
        std::ceil(std::max(ceiling + 2, content.result.truePeak.value_or(-100) + 1)), highestShown);
    g.dbtpBottom = std::floor(std::min(ceiling - 20, content.result.truePeak.value_or(0) - 6));
    return g;
}

void render(std::uint8_t* pixels, int width, int height, int stride, const Content& content,
            const Style& style) {
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, width, height, stride);
    const double scale = std::max(style.scale, 0.1);
    paintOn(surface, width / scale, height / scale, content, style, scale, scale);
    cairo_surface_destroy(surface);
}

std::optional<FileType> fileTypeFor(const std::filesystem::path& path) {
    const std::string ext = AudioTypes::lowerExtension(path);
    if (ext == "svg")
        return FileType::svg;
    if (ext == "png")
        return FileType::png;
    if (ext == "pdf")
        return FileType::pdf;
    return std::nullopt;
}

std::vector<std::uint8_t> encode(FileType type, double width, double height, const Content& content,
                                 const Style& style) {
    std::vector<std::uint8_t> bytes;
    // Documents may be zoomed: four columns to a point keep the lines smooth.
    constexpr double documentColumns = 4;
    bool ok = false;
    if (type == FileType::png) {
        const double scale = std::max(style.scale, 0.1);
        cairo_surface_t* surface = cairo_image_surface_create(
            CAIRO_FORMAT_ARGB32, static_cast<int>(std::lround(width * scale)),
            static_cast<int>(std::lround(height * scale)));
        ok = paintOn(surface, width, height, content, style, scale, scale) &&
             cairo_surface_write_to_png_stream(surface, append, &bytes) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(surface);
    } else {
        cairo_surface_t* surface =
            type == FileType::svg
                ? cairo_svg_surface_create_for_stream(append, &bytes, width, height)
                : cairo_pdf_surface_create_for_stream(append, &bytes, width, height);
        ok = paintOn(surface, width, height, content, style, documentColumns);
        cairo_surface_finish(surface);
        ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(surface);
    }
    return ok ? bytes : std::vector<std::uint8_t>{};
}

std::string description(const Content& content) {
    const Timeline& timeline = content.timeline;
    const TimeSpan view = shown(content);
    // The steps that end within the view.
    const auto first =
        std::min(timeline.size(),
                 static_cast<std::size_t>(std::max(0.0, std::floor(view.start / timeline.step))));
    const auto last = std::clamp(static_cast<std::size_t>(std::ceil(view.end / timeline.step)),
                                 first, timeline.size());
    const auto within = [&](const std::vector<std::optional<double>>& series) {
        return Series(series).subspan(first, last - first);
    };
    const bool shortTerm = largest(within(timeline.shortTerm)).has_value();
    const Series series = within(shortTerm ? timeline.shortTerm : timeline.momentary);
    const double ceiling = content.spec.ceiling(content.result.integrated);
    std::vector<TimeSpan> over;
    for (const TimeSpan& span : timeline.truePeakOver(ceiling))
        if (span.end > view.start && span.start < view.end)
            over.push_back({std::max(span.start, view.start), std::min(span.end, view.end)});
    std::optional<double> limited; // the copy's deepest limiting in view
    if (content.copy) {
        const auto reduction = limiting(timeline, *content.copy);
        const std::size_t end = std::min(last, reduction.size());
        if (first < end)
            limited = largest(Series(reduction).subspan(first, end - first));
    }
    return Report::graphDescription(shortTerm, smallest(series), largest(series), ceiling, over,
                                    content.view ? std::optional(view) : std::nullopt, limited);
}

} // namespace tavrin::Graph
