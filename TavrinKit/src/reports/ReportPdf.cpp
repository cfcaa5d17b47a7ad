#include "reports/PdfCanvas.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/reports/Report.h"

#include <algorithm>
#include <array>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace tavrin::Report {
namespace {

using Font = PdfCanvas::Font;
using Align = PdfCanvas::Align;

constexpr double margin = 40;
constexpr double rowPitch = 17;       // a table row of one line
constexpr double cellLineStep = 10.5; // each further line of a wrapped Result cell
constexpr double folderStep = 9.5;    // from a file name's baseline down to its folder's
constexpr double columnGap = 6;       // between a column's text and the next column

constexpr Font titleFont{18, true};
constexpr Font headingFont{10.5, true};
constexpr Font continuedFont{10, true};
constexpr Font sourceFont{9, false};
constexpr Font dualMonoFont{9, false};
constexpr Font tallyFont{10.5, false};
constexpr Font cellFont{8.5, false};
constexpr Font boldCellFont{8.5, true};
constexpr Font noFilesFont{9, false};
constexpr Font captionFont{7, false};
constexpr double sourceGray = 0.35;
constexpr std::size_t mostNoteLines = 3; // of a sign-off's notes on the first page
constexpr double secondaryGray = 0.4;

/// A landscape page of one paper size, with 40-point margins; y grows upwards from the bottom.
struct Sheet {
    double width = 0;
    double height = 0;

    double top() const { return height - margin; }
    double textWidth() const { return width - 2 * margin; }
    /// The height rows may take below the table header: what is left once the margins and the
    /// header (150 points on the first page, 70 on later ones) are taken; on Letter, 22 and 27
    /// one-line rows.
    double firstPageRowSpace() const { return height - 80 - 150; }
    double laterPageRowSpace() const { return height - 80 - 70; }
    /// A later page's table header baseline, and where a later page without a table starts.
    double laterTableHeader() const { return top() - 38; }
    double laterTop() const { return top() - 24; }
};

Sheet sheetFor(Paper paper) {
    return paper == Paper::a4 ? Sheet{841.89, 595.28} : Sheet{792, 612};
}

struct Column {
    const char* title;
    double width;
    Align align;
};

// On Letter the widths add up to the text width, 712 points.
constexpr std::array<Column, 7> letterColumns{{
    {"File", 238, Align::left},
    {"Integrated", 64, Align::right},
    {"Diff.", 44, Align::right},
    {"LRA", 40, Align::right},
    {"True peak", 58, Align::right},
    {"Max S", 50, Align::right},
    {"Result", 218, Align::left},
}};
constexpr std::size_t fileColumn = 0;
constexpr std::size_t resultColumn = letterColumns.size() - 1;

using Columns = std::array<Column, letterColumns.size()>;
using Cells = std::array<std::string, letterColumns.size()>;

/// The numbers keep their widths on any paper; the two text columns share what a wider page adds.
Columns columnsFor(const Sheet& sheet) {
    Columns columns = letterColumns;
    const double extra = (sheet.textWidth() - 712) / 2;
    columns[fileColumn].width += extra;
    columns[resultColumn].width += extra;
    return columns;
}

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
    std::string text(row.findings.empty() ? "" : caution);
    if (row.error)
        text += errorText(*row.error);
    else if (verdict)
        text += verdict->summary();
    else
        text += missing;
    if (row.fix)
        text += fixText(*row.fix);
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

/// The line under a file's name: empty while every row shares one folder.
std::string folderLine(const ReportRow& row, bool showFolders) {
    if (!showFolders)
        return {};
    return row.folder.empty() ? std::string(missing) : row.folder;
}

/// One table row ready to draw: its one-line cells, its Result cell broken into lines: the
/// verdict's, then those of the findings' sentences.
struct TableRow {
    Cells cells;
    std::vector<std::string> resultLines;
    std::size_t verdictLines = 0;
    bool boldResult = false;
    std::string folder; ///< shown under the name; empty when every row shares one folder
};

/// The part of a table row on one page: a run of its Result lines. A row taller than a whole
/// page goes on over the next; its other cells stand with its first run only.
struct RowPiece {
    std::size_t row = 0;
    std::size_t firstLine = 0;
    std::size_t lineCount = 1;
};

struct Page {
    std::vector<RowPiece> pieces{};
};

/// A line of the first page's header.
struct HeaderLine {
    std::string text;
    Font font;
    double gray;
    double baseline;
};

/// Everything the report shows, measured and placed before the first page is drawn, so that
/// every page knows the page count.
class Layout {
public:
    Layout(PdfCanvas& canvas, const std::vector<ReportRow>& rows, const DeliverySpec& spec,
           std::string_view title, const std::string& tally, const PdfOptions& options)
        : sheet(sheetFor(options.paper)), columns(columnsFor(sheet)) {
        firstHeader = headerLines(canvas, spec, title, tally, options);
        firstTableHeader = firstHeader.back().baseline - 26;
        const bool showFolders = std::ranges::any_of(
            rows, [&](const ReportRow& row) { return row.folder != rows.front().folder; });
        for (const ReportRow& row : rows)
            tableRows.push_back(tableRow(canvas, row, spec, showFolders));
        paginate();
    }

    double pieceHeight(const RowPiece& piece) const {
        double depth = static_cast<double>(piece.lineCount - 1) * cellLineStep;
        if (piece.firstLine == 0 && !tableRows[piece.row].folder.empty())
            depth = std::max(depth, folderStep);
        return rowPitch + depth;
    }

    const Sheet sheet;
    const Columns columns;
    std::vector<HeaderLine> firstHeader; ///< the tally line last
    double firstTableHeader = 0;
    std::vector<TableRow> tableRows;
    std::vector<Page> pages;

private:
    std::vector<HeaderLine> headerLines(PdfCanvas& canvas, const DeliverySpec& spec,
                                        std::string_view title, const std::string& tally,
                                        const PdfOptions& options) const {
        const double top = sheet.top();
        std::vector<HeaderLine> lines = {
            {std::string(title), titleFont, 0, top - 20},
            {spec.name + ": " + spec.ruleText(), headingFont, 0, top - 40},
        };
        double y = top - 41; // the baseline of the last line added
        const auto add = [&](std::string text, Font font, double gray) {
            y -= 13;
            lines.push_back({std::move(text), font, gray, y});
        };
        // Stands with the rule it changes: every mono reading above is 3 dB louder.
        if (options.dualMono)
            add(std::string(dualMonoNote), dualMonoFont, 0);
        add(sourceLine(spec), sourceFont, sourceGray);
        if (spec.caution)
            add(*spec.caution, sourceFont, sourceGray);
        const SignOff& signOff = options.signOff;
        if (const std::string line = signOffLine(signOff.operatorName, signOff.job); !line.empty())
            add(line, sourceFont, 0);
        if (!signOff.notes.empty()) {
            auto notes = canvas.wrap(notesLine(signOff.notes), sourceFont, sheet.textWidth());
            notes.resize(std::min<std::size_t>(notes.size(), mostNoteLines));
            for (std::string& line : notes)
                add(std::move(line), sourceFont, 0);
        }
        lines.push_back({tally, tallyFont, 0, y - 18});
        return lines;
    }

    TableRow tableRow(PdfCanvas& canvas, const ReportRow& row, const DeliverySpec& spec,
                      bool showFolders) const {
        const std::optional<Verdict> verdict = row.verdict(spec);
        const bool passes = verdict && verdict->status == Verdict::Status::pass;
        TableRow laidOut{cells(row, verdict), {}, 0, !passes, folderLine(row, showFolders)};
        const double width = columns[resultColumn].width - columnGap;
        laidOut.resultLines =
            canvas.wrap(laidOut.cells[resultColumn], passes ? cellFont : boldCellFont, width);
        laidOut.verdictLines = laidOut.resultLines.size();
        for (const std::string& sentence : findingSentences(row.findings))
            for (std::string& line : canvas.wrap(sentence, cellFont, width))
                laidOut.resultLines.push_back(std::move(line));
        return laidOut;
    }

    /// Fills pages top to bottom with the table rows.
    void paginate() {
        pages.emplace_back();
        m_cursor = firstTableHeader - 5;
        m_bottom = m_cursor - sheet.firstPageRowSpace();
        for (std::size_t row = 0; row < tableRows.size(); ++row)
            placeRow(row);
    }

    void newPage() {
        pages.emplace_back();
        m_cursor = sheet.laterTableHeader() - 5;
        m_bottom = m_cursor - sheet.laterPageRowSpace();
    }

    bool pageIsEmpty() const { return pages.back().pieces.empty(); }

    void placeRow(std::size_t row) {
        const std::size_t lines = tableRows[row].resultLines.size();
        for (RowPiece piece{row, 0, lines}; piece.firstLine < lines;
             piece.firstLine += piece.lineCount, piece.lineCount = lines - piece.firstLine) {
            if (m_cursor - pieceHeight(piece) < m_bottom && !pageIsEmpty())
                newPage();
            // Taller than a whole page: as many lines as fit, then the rest on the next.
            while (piece.lineCount > 1 && m_cursor - pieceHeight(piece) < m_bottom)
                --piece.lineCount;
            pages.back().pieces.push_back(piece);
            m_cursor -= pieceHeight(piece);
        }
    }

    double m_cursor = 0; ///< the top of the next thing placed
    double m_bottom = 0; ///< nothing placed reaches below this
};

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
