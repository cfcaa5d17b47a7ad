#include "tavrin/reports/Report.h"

#include "core/Joined.h"
#include "tavrin/core/Fmt.h"

#include <cctype>
#include <charconv>

namespace tavrin::Report {
namespace {

/// Whether strtod in the C locale would read all of `text` as one number: an optional sign, then
/// a decimal literal, a "0x" hexadecimal literal, inf, infinity or nan (optionally with a
/// parenthesised tail), in any letter case. std::from_chars reads the same forms without ever
/// consulting the locale, but knows neither a "+" nor the "0x" prefix, so those are taken here.
bool isNumber(std::string_view text) {
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    auto format = std::chars_format::general;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
        (std::isxdigit(static_cast<unsigned char>(text[2])) || text[2] == '.')) {
        text.remove_prefix(2);
        format = std::chars_format::hex;
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return false;
    double value = 0;
    const char* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, value, format);
    // A literal too large or too small for a double is still a number to strtod.
    return parsed.ptr == end && parsed.ec != std::errc::invalid_argument;
}

/// "%.2f" in the C locale.
std::string twoDecimals(double value) {
    char buffer[400]; // room for every finite double written out in full
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2).ptr;
    return std::string(buffer, end);
}

/// `field` as a spreadsheet reads it between `separator`s: text that looks like a formula gets a
/// leading apostrophe, and a field holding the separator, a double quote, CR or LF is quoted.
std::string escapeField(std::string_view field, char separator) {
    std::string text(field);
    // Spreadsheets run a cell that starts like a formula; a plain negative number must stay a
    // number, everything else gets a leading apostrophe so it reads as text.
    if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos &&
        !isNumber(text))
        text.insert(0, 1, '\'');
    const char quoteWhen[] = {separator, '"', '\r', '\n'};
    if (text.find_first_of(std::string_view(quoteWhen, sizeof quoteWhen)) == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

std::string line(const std::vector<std::string>& fields, char separator) {
    std::vector<std::string> escaped;
    escaped.reserve(fields.size());
    for (const auto& field : fields)
        escaped.push_back(escapeField(field, separator));
    return joined(escaped, std::string(1, separator)) + "\r\n";
}

std::vector<std::string> fields(const ReportRow& row, const DeliverySpec& spec) {
    const std::optional<Verdict> verdict = row.verdict(spec);
    const auto measured = [&row](std::optional<double> LoudnessResult::*value) -> std::string {
        return row.result ? Fmt::plain((*row.result).*value) : "";
    };
    std::string result;
    std::vector<std::string> notes;
    if (row.error) {
        result = "Error";
        notes.push_back(*row.error);
    } else if (verdict) {
        result = label(verdict->status);
        notes = verdict->problems;
    }
    const auto sentences = findingSentences(row.findings);
    notes.insert(notes.end(), sentences.begin(), sentences.end());
    std::vector<std::string> kinds;
    for (const Finding& finding : row.findings)
        kinds.emplace_back(rawValue(finding.kind));
    std::vector<std::string> values{
        row.name,
        row.folder,
        row.format,
        row.result ? twoDecimals(row.result->duration) : "",
        measured(&LoudnessResult::integrated),
        Fmt::plain(spec.target),
        verdict ? Fmt::plain(verdict->delta) : "",
        Fmt::plain(spec.tolerance),
        measured(&LoudnessResult::loudnessRange),
        measured(&LoudnessResult::maxShortTerm),
        measured(&LoudnessResult::maxMomentary),
        measured(&LoudnessResult::truePeak),
        Fmt::plain(verdict ? verdict->ceiling : spec.maxTruePeak),
        measured(&LoudnessResult::samplePeak),
        result,
        joined(notes, "; "),
        row.fix.value_or(""),
        joined(kinds, "; "),
    };
    if (spec.measure == DeliverySpec::Measure::rms)
        values.insert(values.begin() + rmsColumnsAt,
                      {measured(&LoudnessResult::rms), measured(&LoudnessResult::noiseFloor)});
    return values;
}

std::string table(const std::vector<ReportRow>& rows, const DeliverySpec& spec, char separator) {
    std::vector<std::string> titles(columnTitles.begin(), columnTitles.end());
    if (spec.measure == DeliverySpec::Measure::rms) {
        for (const auto& [column, title] : rmsRetitled)
            titles[column] = title;
        titles.insert(titles.begin() + rmsColumnsAt, rmsColumnTitles.begin(),
                      rmsColumnTitles.end());
    }
    std::string document = line(titles, separator);
    for (const auto& row : rows)
        document += line(fields(row, spec), separator);
    return document;
}

} // namespace

Counts counts(const std::vector<ReportRow>& rows, const DeliverySpec& spec) {
    Counts tally;
    for (const auto& row : rows) {
        const auto verdict = row.verdict(spec);
        if (anyDamage(row.findings))
            ++tally.damaged;
        if (row.copy) {
            ++tally.copies;
            tally.limitedCopies += row.copy->limited;
            tally.encodedCopies += row.copy->inOriginalFormat;
        }
        if (!verdict)
            ++tally.other;
        else if (verdict->status == Verdict::Status::pass)
            ++tally.passed;
        else if (verdict->status == Verdict::Status::fail)
            ++tally.failed;
        else
            ++tally.other;
    }
    return tally;
}

std::string tallyText(const std::vector<ReportRow>& rows, const DeliverySpec& spec) {
    const Counts c = counts(rows, spec);
    return tally(rows.size(), c.passed, c.failed, c.other, c.damaged);
}

std::string escapeCSV(std::string_view field) {
    return escapeField(field, ',');
}

std::string csv(const std::vector<ReportRow>& rows, const DeliverySpec& spec) {
    return table(rows, spec, ',');
}

std::string tsv(const std::vector<ReportRow>& rows, const DeliverySpec& spec) {
    return table(rows, spec, '\t');
}

} // namespace tavrin::Report
