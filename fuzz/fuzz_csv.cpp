// Report::escapeCSV and Report::csv over arbitrary texts. Invariants checked:
// - an escaped field, unquoted, gives back the input with at most an apostrophe put before it,
//   and the apostrophe comes exactly when the input starts like a formula and strtod in the C
//   locale does not read the whole input as one number;
// - the document parses back as records of 17 fields, each record ending in CR LF, one per row
//   after the titles, with the texts of every row where they belong.

#include "FuzzInput.h"
#include "ReportInput.h"
#include "tavrin/reports/Report.h"

#include <cstdlib>
#include <optional>
#include <string>

using namespace tavrin;
using tavrin::fuzz::finding;

namespace {

bool startsLikeFormula(std::string_view s) {
    return !s.empty() && std::string_view("=+-@").find(s.front()) != std::string_view::npos;
}

/// strtod in the C locale reads all of `s`, from its first character.
bool strtodReadsAll(const std::string& s) {
    if (s.empty() || s.find('\0') != std::string::npos ||
        std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    char* end = nullptr;
    (void)std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

/// One field as a CSV reader sees it, from `pos` to just past its delimiter; nullopt when the
/// text is not well-formed CSV. `lineEnd` tells whether the field closed a record.
std::optional<std::string> readField(std::string_view doc, std::size_t& pos, bool& lineEnd) {
    std::string value;
    if (pos < doc.size() && doc[pos] == '"') {
        for (++pos;; ++pos) {
            if (pos >= doc.size())
                return std::nullopt;
            if (doc[pos] == '"') {
                if (pos + 1 < doc.size() && doc[pos + 1] == '"')
                    ++pos;
                else
                    break;
            }
            value += doc[pos];
        }
        ++pos;
    } else {
        while (pos < doc.size() && doc[pos] != ',' && doc[pos] != '\r') {
            if (doc[pos] == '"' || doc[pos] == '\n')
                return std::nullopt;
            value += doc[pos++];
        }
    }
    if (doc.substr(pos, 2) == "\r\n") {
        pos += 2;
        lineEnd = true;
    } else if (pos < doc.size() && doc[pos] == ',') {
        ++pos;
        lineEnd = false;
    } else {
        return std::nullopt;
    }
    return value;
}

/// The value of a field as written: the text itself, or an apostrophe and the text.
bool holds(const std::string& field, const std::string& text) {
    return field == text || (startsLikeFormula(text) && field == "'" + text);
}

void checkEscape(const std::string& s) {
    const std::string escaped = Report::escapeCSV(s);
    std::size_t pos = 0;
    bool lineEnd = false;
    const std::string doc = escaped + "\r\n";
    const auto value = readField(doc, pos, lineEnd);
    if (!value || pos != doc.size() || !lineEnd)
        finding("an escaped field that is not one well-formed CSV field");
    const bool guarded = *value != s;
    if (guarded && *value != "'" + s)
        finding("an escaped field that does not give back its text");
    if (guarded != (startsLikeFormula(s) && !strtodReadsAll(s)))
        finding("the formula guard disagrees with strtod");
    if ((escaped.front() == '"') != (value->find_first_of(",\"\r\n") != std::string::npos))
        finding("quotes around a field that needs none, or none around one that does");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    checkEscape(in.ConsumeRandomLengthString(300));

    const DeliverySpec& spec = tavrin::fuzz::deliverySpec(in);
    std::vector<ReportRow> rows;
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i)
        rows.push_back(tavrin::fuzz::reportRow(in));

    const std::string doc = Report::csv(rows, spec);
    std::vector<std::vector<std::string>> records(1);
    for (std::size_t pos = 0; pos < doc.size();) {
        bool lineEnd = false;
        const auto field = readField(doc, pos, lineEnd);
        if (!field)
            finding("a document that is not well-formed CSV with CR LF line ends");
        records.back().push_back(*field);
        if (lineEnd)
            records.emplace_back();
    }
    records.pop_back(); // after the last CR LF
    if (records.size() != rows.size() + 1 || !doc.ends_with("\r\n"))
        finding("not one record per row after the titles");
    for (std::size_t r = 0; r < records.size(); ++r) {
        if (records[r].size() != 17)
            finding("a record without 17 fields");
        if (r == 0)
            continue;
        const ReportRow& row = rows[r - 1];
        const auto& f = records[r];
        if (!holds(f[0], row.name) || !holds(f[1], row.folder) || !holds(f[2], row.format) ||
            (row.error && !holds(f[15], *row.error)) || !holds(f[16], row.fix.value_or("")))
            finding("a row's text out of place");
        for (const std::size_t c : {3u, 4u, 6u, 8u, 9u, 10u, 11u, 13u})
            if (f[c].find_first_of("naif") != std::string::npos)
                finding("a numeric column holding something other than a number");
    }
    return 0;
}
