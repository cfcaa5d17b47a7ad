#pragma once

// Private to the reports group: where everything on a PDF report's pages goes, measured and
// placed before the first page is drawn.

#include "reports/PdfCanvas.h"
#include "tavrin/reports/Report.h"
#include "tavrin/rules/Verdict.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::Report::PdfLayout {

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

inline Sheet sheetFor(Paper paper) {
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
// A spec measured in RMS shows its own numbers in the same places.
constexpr std::array<Column, 7> letterRmsColumns{{
    {"File", 238, Align::left},
    {"RMS", 64, Align::right},
    {"Diff.", 44, Align::right},
    {"Floor", 40, Align::right},
    {"Sample pk", 58, Align::right},
    {"LUFS", 50, Align::right},
    {"Result", 218, Align::left},
}};
constexpr std::size_t fileColumn = 0;
constexpr std::size_t resultColumn = letterColumns.size() - 1;

using Columns = std::array<Column, letterColumns.size()>;
using Cells = std::array<std::string, letterColumns.size()>;

/// The numbers keep their widths on any paper; the two text columns share what a wider page adds.
inline Columns columnsFor(const Sheet& sheet, const DeliverySpec& spec) {
    Columns columns = spec.measure == DeliverySpec::Measure::rms ? letterRmsColumns : letterColumns;
    const double extra = (sheet.textWidth() - 712) / 2;
    columns[fileColumn].width += extra;
    columns[resultColumn].width += extra;
    return columns;
}

/// The Result cell: the verdict (or the error), then the fix; ⚠ first for a row with findings.
std::string resultText(const ReportRow& row, const std::optional<Verdict>& verdict);

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
           std::string_view title, const std::string& tally, const PdfOptions& options);

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
                                        const PdfOptions& options) const;
    TableRow tableRow(PdfCanvas& canvas, const ReportRow& row, const DeliverySpec& spec,
                      bool showFolders) const;
    /// Fills pages top to bottom with the table rows.
    void paginate();
    void newPage();
    bool pageIsEmpty() const { return pages.back().pieces.empty(); }
    void placeRow(std::size_t row);

    double m_cursor = 0; ///< the top of the next thing placed
    double m_bottom = 0; ///< nothing placed reaches below this
};

} // namespace tavrin::Report::PdfLayout
