#include "reports/PdfLayout.h"

#include "tavrin/core/Fmt.h"

#include <algorithm>

namespace tavrin::Report::PdfLayout {
namespace {

Cells cells(const ReportRow& row, const std::optional<Verdict>& verdict, const DeliverySpec& spec) {
    const auto measured = [&row](std::optional<double> LoudnessResult::*value, bool isSigned) {
        return row.result ? Fmt::number((*row.result).*value, isSigned, missing)
                          : std::string(missing);
    };
    if (spec.measure == DeliverySpec::Measure::rms)
        return {
            row.name,
            measured(&LoudnessResult::rms, false),
            verdict ? Fmt::number(verdict->delta, true, missing) : std::string(missing),
            measured(&LoudnessResult::noiseFloor, false),
            measured(&LoudnessResult::samplePeak, true),
            measured(&LoudnessResult::integrated, false),
            resultText(row, verdict),
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

} // namespace

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

Layout::Layout(PdfCanvas& canvas, const std::vector<ReportRow>& rows, const DeliverySpec& spec,
               std::string_view title, const std::string& tally, const PdfOptions& options)
    : sheet(sheetFor(options.paper)), columns(columnsFor(sheet, spec)) {
    firstHeader = headerLines(canvas, spec, title, tally, options);
    firstTableHeader = firstHeader.back().baseline - 26;
    const bool showFolders = std::ranges::any_of(
        rows, [&](const ReportRow& row) { return row.folder != rows.front().folder; });
    for (const ReportRow& row : rows)
        tableRows.push_back(tableRow(canvas, row, spec, showFolders));
    paginate();
}

std::vector<HeaderLine> Layout::headerLines(PdfCanvas& canvas, const DeliverySpec& spec,
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

TableRow Layout::tableRow(PdfCanvas& canvas, const ReportRow& row, const DeliverySpec& spec,
                          bool showFolders) const {
    const std::optional<Verdict> verdict = row.verdict(spec);
    const bool passes = verdict && verdict->status == Verdict::Status::pass;
    TableRow laidOut{cells(row, verdict, spec), {}, 0, !passes, folderLine(row, showFolders)};
    const double width = columns[resultColumn].width - columnGap;
    laidOut.resultLines =
        canvas.wrap(laidOut.cells[resultColumn], passes ? cellFont : boldCellFont, width);
    laidOut.verdictLines = laidOut.resultLines.size();
    for (const std::string& sentence : findingSentences(row.findings))
        for (std::string& line : canvas.wrap(sentence, cellFont, width))
            laidOut.resultLines.push_back(std::move(line));
    return laidOut;
}

void Layout::paginate() {
    pages.emplace_back();
    m_cursor = firstTableHeader - 5;
    m_bottom = m_cursor - sheet.firstPageRowSpace();
    for (std::size_t row = 0; row < tableRows.size(); ++row)
        placeRow(row);
}

void Layout::newPage() {
    pages.emplace_back();
    m_cursor = sheet.laterTableHeader() - 5;
    m_bottom = m_cursor - sheet.laterPageRowSpace();
}

void Layout::placeRow(std::size_t row) {
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

} // namespace tavrin::Report::PdfLayout
