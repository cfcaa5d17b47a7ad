#include "tavrin/reports/ReportTexts.h"

#include "core/Joined.h"
#include "tavrin/core/Fmt.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tavrin::Report {
namespace {

/// "−31" for a loudness in a sentence.
std::string whole(double value) {
    const long long n = std::llround(value);
    return (n < 0 ? "−" : "") + std::to_string(n < 0 ? -n : n);
}

/// "41:07", or "41:07–41:09" when the span ends in a later second.
std::string spanText(const TimeSpan& span) {
    const std::string start = Fmt::duration(span.start), end = Fmt::duration(span.end);
    return start == end ? start : start + "–" + end;
}

/// "at 0:05", "at 0:05 and 1:10", "at 0:05, 0:40, 1:10 and 3 more places".
std::string placesText(const std::vector<TimeSpan>& spans) {
    constexpr std::size_t listed = 3;
    std::string text = "at ";
    const std::size_t shown = std::min(spans.size(), listed);
    for (std::size_t i = 0; i < shown; ++i) {
        const bool lastShown = i + 1 == shown && spans.size() <= listed;
        text += (i == 0 ? "" : lastShown ? " and " : ", ") + spanText(spans[i]);
    }
    if (spans.size() > listed)
        text += " and " + std::to_string(spans.size() - listed) + " more places";
    return text;
}

/// Where a graph's view begins or ends: "41:00", or "41:00.5" off the whole second.
std::string viewEdge(double seconds) {
    const double tenths = std::round(seconds * 10);
    const double whole = std::floor(tenths / 10);
    const auto tenth = static_cast<int>(tenths - whole * 10);
    return Fmt::duration(whole) + (tenth > 0 ? "." + std::to_string(tenth) : "");
}

} // namespace

std::string tally(std::size_t files, int passed, int failed, int withoutReading, int damaged) {
    std::string text = std::to_string(files) + (files == 1 ? " file: " : " files: ") +
                       std::to_string(passed) + " pass, " + std::to_string(failed) + " fail";
    if (withoutReading >= 1)
        text += ", " + std::to_string(withoutReading) + " without a reading";
    if (damaged >= 1)
        text += ", " + std::to_string(damaged) + " damaged";
    return text;
}

std::string errorText(std::string_view error) {
    return "Error: " + std::string(error);
}

std::string fixText(std::string_view fix) {
    return " · Fix: " + std::string(fix);
}

std::string sourceLine(const DeliverySpec& spec) {
    std::string source = "Source: " + spec.sourceName;
    if (spec.sourceURL)
        source += " · " + *spec.sourceURL;
    return source;
}

std::string pageLabel(std::string_view creator, std::size_t page, std::size_t pages) {
    return std::string(creator) + " · page " + std::to_string(page) + " of " +
           std::to_string(pages);
}

std::string continued(std::string_view title) {
    return std::string(title) + " (continued)";
}

std::string numbersLine(const LoudnessResult& r) {
    const auto at = [](std::optional<double> seconds) {
        return seconds ? " at " + Fmt::duration(*seconds) : std::string();
    };
    return "Integrated " + Fmt::number(r.integrated, false, missing) + " LUFS · LRA " +
           Fmt::number(r.loudnessRange, false, missing) + " LU · True peak " +
           Fmt::number(r.truePeak, true, missing) + " dBTP" + at(r.truePeakAt) +
           " · Max momentary " + Fmt::number(r.maxMomentary, false, missing) + " LUFS" +
           at(r.maxMomentaryAt) + " · Max short-term " +
           Fmt::number(r.maxShortTerm, false, missing) + " LUFS" + at(r.maxShortTermAt);
}

std::string copiesWritten(int copies, int limited, int inOriginalFormat) {
    if (copies == 0)
        return {};
    std::vector<std::string> parts;
    if (limited > 0)
        parts.push_back(std::to_string(limited) + " limited");
    if (inOriginalFormat > 0)
        parts.push_back(std::to_string(inOriginalFormat) + " in the original’s format");
    std::string text = std::to_string(copies) + (copies == 1 ? " copy" : " copies") + " written";
    return parts.empty() ? text : text + " (" + joined(parts, ", ") + ")";
}

std::string signOffLine(std::string_view operatorName, std::string_view job) {
    std::vector<std::string> parts;
    if (!operatorName.empty())
        parts.push_back("Operator: " + std::string(operatorName));
    if (!job.empty())
        parts.push_back("Job: " + std::string(job));
    return joined(parts, " · ");
}

std::string notesLine(std::string_view notes) {
    return notes.empty() ? std::string() : "Notes: " + std::string(notes);
}

std::string exportedAt(std::string_view date) {
    return "Exported " + std::string(date);
}

std::string signedBy(std::string_view operatorName, std::string_view job) {
    std::vector<std::string> parts;
    if (!operatorName.empty())
        parts.emplace_back(operatorName);
    if (!job.empty())
        parts.push_back("Job " + std::string(job));
    return joined(parts, " · ");
}

std::string graphDescription(bool shortTerm, std::optional<double> quietest,
                             std::optional<double> loudest, double ceiling,
                             const std::vector<TimeSpan>& overCeiling,
                             const std::optional<TimeSpan>& view,
                             std::optional<double> copyLimiting) {
    std::string text;
    if (quietest && loudest) {
        const std::string low = whole(*quietest), top = whole(*loudest);
        text = std::string(shortTerm ? "Short-term" : "Momentary") + " loudness " +
               (low == top ? "steady at " + top : "from " + low + " to " + top) + " LUFS";
    } else {
        text = "No loudness above −70 LUFS";
    }
    if (view) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        text = "From " + viewEdge(view->start) + " to " + viewEdge(view->end) + ", " + text;
    }
    const std::string limit = Fmt::number(ceiling, false) + " dBTP";
    text += overCeiling.empty() ? "; true peak never over " + limit
                                : "; true peak over " + limit + " " + placesText(overCeiling);
    if (copyLimiting)
        text += "; the copy limited by up to " + Fmt::oneDecimal(*copyLimiting) + " dB";
    return text;
}

std::string legendTarget(const DeliverySpec& spec) {
    return "Target " + Fmt::number(spec.target, false) + " ±" + Fmt::oneDecimal(spec.tolerance) +
           " LU";
}

std::string legendIntegrated(double integrated) {
    return "Integrated " + Fmt::number(integrated, false) + " LUFS";
}

std::string legendCeiling(double ceiling) {
    return "True peak ceiling " + Fmt::number(ceiling, false) + " dBTP";
}

} // namespace tavrin::Report
