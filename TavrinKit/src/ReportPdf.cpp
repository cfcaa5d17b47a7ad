#include "PdfCanvas.h"
#include "tavrin/Fmt.h"
#include "tavrin/Report.h"

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace tavrin::Report {
namespace {

using Font = PdfCanvas::Font;
using Align = PdfCanvas::Align;

// US Letter landscape with 40-point margins; y grows upwards from the bottom edge.
constexpr double pageWidth = 792;
constexpr double pageHeight = 612;
constexpr double margin = 40;
constexpr double top = pageHeight - margin;
constexpr double textWidth = pageWidth - 2 * margin;
constexpr double rowPitch = 17;

// What is left for rows once the margins and the header (150 points on the first page, 70 on
// later ones) are taken: 22 and 27 rows.
constexpr std::size_t firstPageRows = static_cast<std::size_t>((pageHeight - 80 - 150) / rowPitch);
constexpr std::size_t laterPageRows = static_cast<std::size_t>((pageHeight - 80 - 70) / rowPitch);

constexpr Font titleFont{18, true};
constexpr Font headingFont{10.5, true};
constexpr Font continuedFont{10, true};
constexpr Font sourceFont{9, false};
constexpr Font tallyFont{10.5, false};
constexpr Font cellFont{8.5, false};
constexpr Font boldCellFont{8.5, true};
constexpr Font noFilesFont{9, false};
constexpr Font footerFont{7, false};
constexpr double sourceGray = 0.35;
constexpr double footerGray = 0.4;

struct Column {
    const char* title;
    double width;
    Align align;
};

// The widths add up to the text width, 712 points.
constexpr std::array<Column, 7> columns{{
    {"File", 238, Align::left},
    {"Integrated", 64, Align::right},
    {"Diff.", 44, Align::right},
    {"LRA", 40, Align::right},
    {"True peak", 58, Align::right},
    {"Max S", 50, Align::right},
    {"Result", 218, Align::left},
}};

constexpr const char* missing = "—";

using Cells = std::array<std::string, columns.size()>;

/// Medium date and short time in the user's locale, e.g. "Mar 4, 2025, 3:07 PM".
std::string dateText(std::chrono::system_clock::time_point date) {
    const std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kShort, icu::Locale::getDefault()));
    if (!format)
        return {};
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    icu::UnicodeString text;
    format->format(static_cast<UDate>(millis), text);
    std::string utf8;
    return text.toUTF8String(utf8);
}

std::string resultText(const ReportRow& row, const std::optional<Verdict>& verdict) {
    std::string text;
    if (row.error)
        text = "Error: " + *row.error;
    else if (verdict)
        text = verdict->summary();
    else
        text = missing;
    if (row.fix)
        text += " · Fix: " + *row.fix;
    return text;
}

Cells cells(const ReportRow& row, const std::optional<Verdict>& verdict) {
    const auto measured = [&row](std::optional<double> LoudnessResult::*value, bool isSigned) {
        return row.result ? Fmt::number((*row.result).*value, isSigned, missing)
                          : std::string(missing);
    };
    return {
        row.name,
        measured(&LoudnessResult::integrated, false),
        verdict ? Fmt::number(verdict->delta, true, missing) : std::string(missing),
        measured(&LoudnessResult::loudnessRange, false),
        measured(&LoudnessResult::truePeak, true),
        measured(&LoudnessResult::maxShortTerm, false),
        resultText(row, verdict),
    };
}

std::size_t pageCount(std::size_t rowCount) {
    if (rowCount <= firstPageRows)
        return 1;
    return 1 + (rowCount - firstPageRows + laterPageRows - 1) / laterPageRows;
}

/// Draws the first page's header and returns the table header's baseline.
double drawFirstHeader(PdfCanvas& canvas, const DeliverySpec& spec, std::string_view title,
                       const std::string& tally) {
    canvas.drawLine(title, margin, top - 20, titleFont, 0, textWidth);
    canvas.drawLine(spec.name + ": " + spec.ruleText(), margin, top - 40, headingFont, 0,
                    textWidth);
    std::string source = "Source: " + spec.sourceName;
    if (spec.sourceURL)
        source += " · " + *spec.sourceURL;
    double lastLine = top - 54;
    canvas.drawLine(source, margin, lastLine, sourceFont, sourceGray, textWidth);
    if (spec.caution) {
        lastLine -= 13;
        canvas.drawLine(*spec.caution, margin, lastLine, sourceFont, sourceGray, textWidth);
    }
    const double tallyLine = lastLine - 18;
    canvas.drawLine(tally, margin, tallyLine, tallyFont, 0, textWidth);
    return tallyLine - 26;
}

/// Draws a later page's header and returns the table header's baseline.
double drawLaterHeader(PdfCanvas& canvas, std::string_view title) {
    canvas.drawLine(std::string(title) + " (continued)", margin, top - 14, continuedFont, 0,
                    textWidth);
    return top - 38;
}

/// One line of cells; a right-aligned cell ends 6 points before its column does.
void drawCells(PdfCanvas& canvas, const Cells& texts, double baseline, Font font, Font resultFont) {
    double x = margin;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& column = columns[i];
        const double maxWidth = column.width - 6;
        const double anchor = column.align == Align::left ? x : x + maxWidth;
        canvas.drawLine(texts[i], anchor, baseline, i + 1 == columns.size() ? resultFont : font, 0,
                        maxWidth, column.align);
        x += column.width;
    }
}

void drawTable(PdfCanvas& canvas, double headerBaseline, std::span<const ReportRow> rows,
               const DeliverySpec& spec) {
    Cells titles;
    std::transform(columns.begin(), columns.end(), titles.begin(),
                   [](const Column& column) { return std::string(column.title); });
    drawCells(canvas, titles, headerBaseline, boldCellFont, boldCellFont);
    canvas.strokeLine(margin, headerBaseline - 5, pageWidth - margin, headerBaseline - 5, 0.6, 0.6);
    double baseline = headerBaseline - rowPitch;
    for (std::size_t i = 0; i < rows.size(); ++i, baseline -= rowPitch) {
        // Bands on every second row guide the eye along the wide lines.
        if (i % 2 == 1)
            canvas.fillRect(margin - 2, baseline - 5, textWidth + 4, rowPitch, 0.95);
        const std::optional<Verdict> verdict = rows[i].verdict(spec);
        const bool passes = verdict && verdict->status == Verdict::Status::pass;
        drawCells(canvas, cells(rows[i], verdict), baseline, cellFont,
                  passes ? cellFont : boldCellFont);
    }
}

void drawFooter(PdfCanvas& canvas, std::string_view creator, std::size_t page, std::size_t pages) {
    canvas.drawParagraph(footerText, margin, 15, pageWidth - 160, 28, footerFont, footerGray);
    const std::string label =
        std::string(creator) + " · page " + std::to_string(page) + " of " + std::to_string(pages);
    canvas.drawLine(label, pageWidth - margin, 36, footerFont, footerGray, 150, Align::right);
}

} // namespace

std::vector<std::uint8_t> pdf(const std::vector<ReportRow>& rows, const DeliverySpec& spec,
                              std::string_view title, std::string_view creator,
                              std::chrono::system_clock::time_point date,
                              const PdfOptions& /*options*/) {
    PdfCanvas canvas(pageWidth, pageHeight, title, creator);
    if (!canvas.isValid())
        return {};
    const std::string tally = tallyText(rows, spec) + " · " + dateText(date);
    const std::size_t pages = pageCount(rows.size());
    std::span<const ReportRow> remaining(rows);
    for (std::size_t page = 1; page <= pages; ++page) {
        const double headerBaseline = page == 1 ? drawFirstHeader(canvas, spec, title, tally)
                                                : drawLaterHeader(canvas, title);
        const std::size_t onPage =
            std::min(remaining.size(), page == 1 ? firstPageRows : laterPageRows);
        drawTable(canvas, headerBaseline, remaining.first(onPage), spec);
        if (rows.empty())
            canvas.drawLine("No files.", margin, headerBaseline - rowPitch, noFilesFont, 0, 300);
        drawFooter(canvas, creator, page, pages);
        canvas.endPage();
        remaining = remaining.subspan(onPage);
    }
    return canvas.finish();
}

} // namespace tavrin::Report
