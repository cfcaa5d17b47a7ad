#pragma once

#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/rules/DeliverySpec.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Every word the reports and graphs print beyond the readings themselves.
namespace tavrin::Report {

/// The CSV and TSV documents' column titles, in order, for every spec; a spec measured in RMS
/// adds rmsColumnTitles.
inline constexpr std::array<std::string_view, 18> columnTitles{
    "File",
    "Folder",
    "Format",
    "Duration (s)",
    "Integrated (LUFS)",
    "Target (LUFS)",
    "Difference (LU)",
    "Tolerance (LU)",
    "Loudness range (LU)",
    "Max short-term (LUFS)",
    "Max momentary (LUFS)",
    "True peak (dBTP)",
    "Ceiling (dBTP)",
    "Sample peak (dBFS)",
    "Result",
    "Notes",
    "Fix",
    "Findings",
};

/// The two columns a spec measured in RMS adds after "Sample peak (dBFS)".
inline constexpr std::array<std::string_view, 2> rmsColumnTitles{"RMS (dB)", "Noise floor (dB)"};
/// Where they go.
inline constexpr std::size_t rmsColumnsAt = 14;
/// The titles such a spec's target, difference, tolerance and ceiling take instead.
inline constexpr std::array<std::pair<std::size_t, std::string_view>, 4> rmsRetitled{{
    {5, "Target (dB RMS)"},
    {6, "Difference (dB)"},
    {7, "Tolerance (dB)"},
    {12, "Sample-peak ceiling (dBFS)"},
}};

/// Said wherever results are summed up while mono files are measured as dual mono.
inline constexpr std::string_view dualMonoNote = "Mono files count as dual mono (+3 dB)";

/// The methodology note at the foot of every PDF page.
inline constexpr std::string_view footerText =
    "Measured per ITU-R BS.1770-4 (gated integrated loudness, EBU Tech 3342 loudness range, "
    "4x-oversampled true peak). The meter is checked against the EBU Tech 3341 and 3342 "
    "minimum-requirements test signals. This is a quality-control report, not a certified "
    "broadcast compliance test.";

/// "12 files: 9 pass, 2 fail, 1 without a reading, 3 damaged" ("1 file"; the last two parts only
/// when they count something).
std::string tally(std::size_t files, int passed, int failed, int withoutReading, int damaged);

/// The PDF's dash for a value that wasn't measured.
inline constexpr std::string_view missing = "—";
/// Marks the Result of a row with findings.
inline constexpr std::string_view caution = "⚠ ";
/// The Result cell of a file that couldn't be read: "Error: …".
std::string errorText(std::string_view error);
/// What follows the Result of a row with a fix: " · Fix: …".
std::string fixText(std::string_view fix);
/// "Source: EBU R 128 (…) · https://…", the line under the rule on the first page.
std::string sourceLine(const DeliverySpec& spec);
/// "3 copies written (1 limited, 2 in the original’s format)", the parts in parentheses only when
/// they count something; empty when no copy was written.
std::string copiesWritten(int copies, int limited, int inOriginalFormat);
/// The first page's sign-off lines: "Operator: Ann Lee · Job: 4711", "Notes: …"; each empty when
/// it has nothing to say.
std::string signOffLine(std::string_view operatorName, std::string_view job);
std::string notesLine(std::string_view notes);
/// The footer's lines under the page label: "Exported Dec 8, 2026, 10:32 AM", then "Ann Lee ·
/// Job 4711" (empty when the sign-off names neither).
std::string exportedAt(std::string_view date);
std::string signedBy(std::string_view operatorName, std::string_view job);
/// "Tavrin · page 2 of 3".
std::string pageLabel(std::string_view creator, std::size_t page, std::size_t pages);
/// The heading of every page after the first: "Loudness report (continued)".
std::string continued(std::string_view title);
inline constexpr std::string_view noFiles = "No files.";
/// "Integrated −23.1 LUFS · LRA 5.2 LU · True peak −0.4 dBTP at 41:07 · …", the numbers a graph
/// page stands on.
std::string numbersLine(const LoudnessResult& result);

/// A graph's description: "Short-term loudness from −31 to −18 LUFS; true peak over −1.0 dBTP at
/// 0:05 and 1:10", or "No loudness above −70 LUFS; true peak never over −1.0 dBTP"; of a stretch,
/// "From 41:00 to 41:30, short-term loudness …"; ending "; the copy limited by up to 2.3 dB"
/// when a copy drawn over it was limited there.
std::string graphDescription(bool shortTerm, std::optional<double> quietest,
                             std::optional<double> loudest, double ceiling,
                             const std::vector<TimeSpan>& overCeiling,
                             const std::optional<TimeSpan>& view = std::nullopt,
                             std::optional<double> copyLimiting = std::nullopt);
/// The graph legend's entries.
inline constexpr std::string_view legendShortTerm = "Short-term";
inline constexpr std::string_view legendMomentary = "Momentary";
inline constexpr std::string_view legendCopy = "Copy, short-term";
/// The copy's limiting, hanging from the top of the peak lane.
inline constexpr std::string_view legendLimiting = "Copy, limiting";
std::string legendTarget(const DeliverySpec& spec);
std::string legendIntegrated(double integrated);
std::string legendCeiling(double ceiling);

} // namespace tavrin::Report
