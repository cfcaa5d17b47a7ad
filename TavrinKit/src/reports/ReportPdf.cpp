#include "reports/PdfLayout.h"
#include "tavrin/reports/Report.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace tavrin::Report {
namespace {

using namespace PdfLayout;

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

/// One line of cells; a right-aligned cell ends 6 points before its column does. Empty cells
/// are left out.
void drawCells(PdfCanvas& canvas, const Columns& columns, const Cells& texts, double baseline,
               Font font) {
    double x = margin;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& column = columns[i];
        const double maxWidth = column.width - columnGap;
        const double anchor = column.align == Align::left ? x : x + maxWidth;
        if (!texts[i].empty())
            canvas.drawLine(texts[i], anchor, baseline, font, 0, maxWidth, column.align);
        x += column.width;
    }
}

double resultX(const Columns& columns) {
    double x = margin;
    for (std::size_t i = 0; i < resultColumn; ++i)
        x += columns[i].width;
    return x;
}

void drawColumnTitles(PdfCanvas& canvas, const Layout& layout, double baseline) {
    Cells titles;
    std::ranges::transform(layout.columns, titles.begin(),
                           [](const Column& column) { return std::string(column.title); });
    drawCells(canvas, layout.columns, titles, baseline, boldCellFont);
    canvas.strokeLine(margin, baseline - 5, layout.sheet.width - margin, baseline - 5, 0.6, 0.6);
}

void drawPiece(PdfCanvas& canvas, const Layout& layout, const RowPiece& piece, double top,
               bool band) {
    const TableRow& row = layout.tableRows[piece.row];
    const double height = layout.pieceHeight(piece);
    // Bands on every second row guide the eye along the wide lines.
    if (band)
        canvas.fillRect(margin - 2, top - height, layout.sheet.textWidth() + 4, height, 0.95);
    const double baseline = top - 12;
    if (piece.firstLine == 0) {
        Cells numbers = row.cells;
        numbers[resultColumn].clear();
        drawCells(canvas, layout.columns, numbers, baseline, cellFont);
        if (!row.folder.empty())
            canvas.drawLine(row.folder, margin, baseline - folderStep, captionFont, secondaryGray,
                            layout.columns[fileColumn].width - columnGap);
    }
    // Each line was broken to fit; the slack only keeps rounding from shortening one.
    const double x = resultX(layout.columns);
    const double width = layout.columns[resultColumn].width - columnGap + 1;
    for (std::size_t i = 0; i < piece.lineCount; ++i) {
        const std::size_t line = piece.firstLine + i;
        canvas.drawLine(row.resultLines[line], x, baseline - static_cast<double>(i) * cellLineStep,
                        row.boldResult && line < row.verdictLines ? boldCellFont : cellFont, 0,
                        width);
    }
}

/// Draws the page's rows from `top` down and returns where they end.
double drawRows(PdfCanvas& canvas, const Layout& layout, const Page& page, double top) {
    for (std::size_t i = 0; i < page.pieces.size(); ++i) {
        drawPiece(canvas, layout, page.pieces[i], top, i % 2 == 1);
        top -= layout.pieceHeight(page.pieces[i]);
    }
    return top;
}

/// What every page's footer says besides its number.
struct Footer {
    std::string_view creator;
    std::string exported; ///< "Exported Dec 8, 2026, 10:32 AM"
    std::string signedBy; ///< the operator and the job; empty without them
};

void drawFooter(PdfCanvas& canvas, const Sheet& sheet, const Footer& footer, std::size_t page,
                std::size_t pages) {
    canvas.drawParagraph(footerText, margin, 15, sheet.width - 160, 28, captionFont, secondaryGray);
    canvas.drawLine(pageLabel(footer.creator, page, pages), sheet.width - margin, 36, captionFont,
                    secondaryGray, 150, Align::right);
    canvas.drawLine(footer.exported, sheet.width - margin, 27, captionFont, secondaryGray, 150,
                    Align::right);
    if (!footer.signedBy.empty())
        canvas.drawLine(footer.signedBy, sheet.width - margin, 18, captionFont, secondaryGray, 150,
                        Align::right);
}

void drawPage(PdfCanvas& canvas, const Layout& layout, std::size_t index, std::string_view title,
              const Footer& footer, std::size_t pageCount) {
    const Page& page = layout.pages[index];
    const Sheet& sheet = layout.sheet;
    if (index == 0) {
        for (const HeaderLine& line : layout.firstHeader)
            canvas.drawLine(line.text, margin, line.baseline, line.font, line.gray,
                            sheet.textWidth());
    } else {
        canvas.drawLine(continued(title), margin, sheet.top() - 14, continuedFont, 0,
                        sheet.textWidth());
    }
    const double header = index == 0 ? layout.firstTableHeader : sheet.laterTableHeader();
    drawColumnTitles(canvas, layout, header);
    drawRows(canvas, layout, page, header - 5);
    if (layout.tableRows.empty())
        canvas.drawLine(std::string(noFiles), margin, header - rowPitch, noFilesFont, 0, 300);
    drawFooter(canvas, sheet, footer, index + 1, pageCount);
    canvas.endPage();
}

void drawGraphPage(PdfCanvas& canvas, const Sheet& sheet, const ReportRow& row,
                   const DeliverySpec& spec) {
    const double width = sheet.textWidth();
    const std::optional<Verdict> verdict = row.verdict(spec);
    const bool passes = verdict && verdict->status == Verdict::Status::pass;
    canvas.drawLine(row.name, margin, sheet.top() - 16, Font{14, true}, 0, width);
    canvas.drawLine(row.folder.empty() ? row.format : row.format + " · " + row.folder, margin,
                    sheet.top() - 32, sourceFont, sourceGray, width);
    canvas.drawLine(numbersLine(*row.result), margin, sheet.top() - 50, tallyFont, 0, width);
    canvas.drawLine(resultText(row, verdict), margin, sheet.top() - 66,
                    passes ? tallyFont : Font{10.5, true}, 0, width);
    const double bottom = 64, top = sheet.top() - 80;
    canvas.drawGraph({*row.timeline, *row.result, spec}, margin, bottom, width, top - bottom,
                     {.fontSize = 8});
}

} // namespace

std::vector<std::uint8_t> pdf(const std::vector<ReportRow>& rows, const DeliverySpec& spec,
                              std::string_view title, std::string_view creator,
                              std::chrono::system_clock::time_point date,
                              const PdfOptions& options) {
    const Sheet sheet = sheetFor(options.paper);
    PdfCanvas canvas(sheet.width, sheet.height, title, creator);
    if (!canvas.isValid())
        return {};
    const Counts tallied = counts(rows, spec);
    std::string tally = tallyText(rows, spec);
    if (tallied.copies > 0)
        tally +=
            " · " + copiesWritten(tallied.copies, tallied.limitedCopies, tallied.encodedCopies);
    const std::string exported = dateText(date);
    tally += " · " + exported;
    const Footer footer{creator, exportedAt(exported),
                        signedBy(options.signOff.operatorName, options.signOff.job)};
    const Layout layout(canvas, rows, spec, title, tally, options);
    std::vector<const ReportRow*> graphed;
    for (const ReportRow& row : rows)
        if (options.graphs && row.result && row.timeline)
            graphed.push_back(&row);
    const std::size_t pages = layout.pages.size() + graphed.size();
    for (std::size_t page = 0; page < layout.pages.size(); ++page)
        drawPage(canvas, layout, page, title, footer, pages);
    for (std::size_t i = 0; i < graphed.size(); ++i) {
        drawGraphPage(canvas, layout.sheet, *graphed[i], spec);
        drawFooter(canvas, layout.sheet, footer, layout.pages.size() + i + 1, pages);
        canvas.endPage();
    }
    return canvas.finish();
}

} // namespace tavrin::Report
