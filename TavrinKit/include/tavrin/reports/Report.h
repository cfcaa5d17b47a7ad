#pragma once

#include "tavrin/reports/ReportRow.h"
#include "tavrin/reports/ReportTexts.h"
#include "tavrin/rules/DeliverySpec.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

/// Documents that leave the application, made from the file list and the selected spec. Verdicts
/// are computed afresh for every row, so a report always agrees with the results table.
namespace tavrin::Report {

/// The pass/fail tally shared by the PDF report and the main window.
struct Counts {
    int passed = 0;
    int failed = 0;
    int other = 0;   ///< unmeasurable, or no result at all
    int damaged = 0; ///< with damage among their findings, whatever their verdict
    int copies = 0;  ///< with a copy on disk, of which
    int limitedCopies = 0;
    int encodedCopies = 0; ///< in the original's format
    bool operator==(const Counts&) const = default;
};

/// Tallies `rows` by their verdict against `spec`.
Counts counts(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

/// The tally sentence: "12 files: 9 pass, 2 fail, 1 without a reading, 3 damaged" ("1 file";
/// the last two parts only when some row has no reading, or damage).
std::string tallyText(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

/// One CSV field: an apostrophe before text a spreadsheet would run as a formula (a leading
/// "=", "+", "-" or "@" that is not a whole number such as -23.0 or -inf), then double quotes
/// around a field holding a comma, double quote, CR or LF, with inner quotes doubled.
std::string escapeCSV(std::string_view field);

/// The whole CSV document: a title line and one line per row, 18 columns, every line ending in
/// CR LF. Numbers use one decimal, "." and an ASCII minus. The Notes column holds the error, or
/// the verdict's problems, then the sentences of the row's findings, all joined with "; "; the
/// last, Findings, their kinds ("clipping; dcOffset"). Pure; never fails.
std::string csv(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

/// The CSV document's lines and columns with tabs between the fields, as a spreadsheet pastes
/// them: a field is quoted when it holds a tab, double quote, CR or LF (commas stay as they are).
std::string tsv(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

/// The paper a PDF report is laid out on, landscape.
enum class Paper { letter, a4 };

/// Who signs a PDF report off and for what; each part may be empty.
struct SignOff {
    std::string operatorName;
    std::string job; ///< a job or order number
    std::string notes;
    bool empty() const { return operatorName.empty() && job.empty() && notes.empty(); }
    bool operator==(const SignOff&) const = default;
};

/// How a PDF report is laid out and what its first page says besides the preset.
struct PdfOptions {
    Paper paper = Paper::letter;
    bool dualMono = false; ///< mono files were measured as dual mono
    /// After everything else, a page per row that has a timeline: the file's numbers, its
    /// verdict and its loudness over time.
    bool graphs = false;
    SignOff signOff{};
};

/// The steps a graph page's timeline needs: its plot is some 3,000 columns wide, and a timeline
/// reduced to this many (Timeline::reduced) still gives each column several steps.
inline constexpr std::size_t graphPageSteps = std::size_t{1} << 13;

/// The pass/fail report as the bytes of a PDF document, on landscape pages of `options.paper`
/// (Letter unless A4 is asked for; A4's extra width goes to the File and Result columns). The
/// first page names `spec` and its rule, with `dualMonoNote` under it when `options.dualMono` and
/// the sign-off's operator, job and notes (wrapped onto three lines at most) after the source,
/// then the tally with the copies written (dated `date` in the user's locale); then one table row
/// per row in order, its
/// Result cell wrapped onto as many lines as it needs, and each file's folder under its name when
/// the rows come from more than one folder. A row starts a new page when it doesn't fit (a row
/// taller than a page goes on over the next), so one-line rows fill 22 rows of the first Letter
/// page and 27 of each later one (21 and 26 on A4). After the table, when any row has warnings, a
/// "Warnings" section lists each such file with its sentences, going on over further pages as
/// needed. Every page carries `footerText`, "`creator` · page N of M", the time of export and
/// the operator and job. `title` heads the first
/// page; `title` and `creator` are also the document's metadata. File names and other one-line
/// texts wider than their place are shortened in the middle with "…"; Result texts never are.
/// Empty only when the PDF document can't be created. Safe to call on any thread.
std::vector<std::uint8_t> pdf(const std::vector<ReportRow>& rows, const DeliverySpec& spec,
                              std::string_view title, std::string_view creator,
                              std::chrono::system_clock::time_point date,
                              const PdfOptions& options = {});

/// Saves report bytes at `path` so that readers only ever see the old file or the whole new one:
/// written beside it under a hidden temporary name, flushed to disk, then renamed over any file
/// of that name (whose permissions it keeps). A temporary left by a crashed save is removed by
/// the next save into that folder. Throws std::system_error with the system's error code.
void save(const std::filesystem::path& path, std::string_view bytes);

} // namespace tavrin::Report
