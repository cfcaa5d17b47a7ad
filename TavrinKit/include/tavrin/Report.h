#pragma once

#include "tavrin/DeliverySpec.h"
#include "tavrin/ReportRow.h"

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
    int other = 0; ///< unmeasurable, or no result at all
    bool operator==(const Counts&) const = default;
};

/// Tallies `rows` by their verdict against `spec`.
Counts counts(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

/// The tally sentence: "12 files: 9 pass, 2 fail, 1 without a reading" ("1 file", and the
/// last part only when some row has no reading).
std::string tallyText(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

/// One CSV field: an apostrophe before text a spreadsheet would run as a formula (a leading
/// "=", "+", "-" or "@" that is not a whole number such as -23.0 or -inf), then double quotes
/// around a field holding a comma, double quote, CR or LF, with inner quotes doubled.
std::string escapeCSV(std::string_view field);

/// The whole CSV document: a title line and one line per row, 17 columns, every line ending in
/// CR LF. Numbers use one decimal, "." and an ASCII minus. Pure; never fails.
std::string csv(const std::vector<ReportRow>& rows, const DeliverySpec& spec);

} // namespace tavrin::Report
