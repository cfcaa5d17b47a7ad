#include "Output.h"

#include "CliTexts.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/reports/Report.h"
#include "tavrin/rules/FixPlan.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/Workflow.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace tavrin::cli {
namespace {

constexpr std::size_t maxFileWidth = 48;
constexpr std::string_view emDash = "—";

namespace Colour {
constexpr std::string_view pass = "\033[32m";
constexpr std::string_view fail = "\033[31m";
constexpr std::string_view caution = "\033[33m";
constexpr std::string_view secondary = "\033[2m";
constexpr std::string_view reset = "\033[0m";
} // namespace Colour

struct Column {
    std::string_view title;
    std::size_t width;
};

constexpr Column resultColumn{"Result", 10};
constexpr Column numberColumns[] = {{"Integrated", 10},     {"Difference", 10},
                                    {"True peak", 9},       {"Range", 6},
                                    {"Max short-term", 14}, {"Sample peak", 11}};

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string padRight(std::string_view text, std::size_t width) {
    std::string s(text);
    s.append(width > displayWidth(text) ? width - displayWidth(text) : 0, ' ');
    return s;
}

std::string padLeft(std::string_view text, std::size_t width) {
    return std::string(width > displayWidth(text) ? width - displayWidth(text) : 0, ' ') +
           std::string(text);
}

std::string coloured(std::string text, std::string_view colour, bool enabled) {
    return enabled && !colour.empty() ? std::string(colour) + text + std::string(Colour::reset)
                                      : text;
}

} // namespace

std::size_t displayWidth(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !isContinuationByte(c); }));
}

std::string shortenMiddle(std::string_view text, std::size_t width) {
    if (displayWidth(text) <= width || width < 2)
        return std::string(text);
    // Keep whole code points from both ends around the ellipsis.
    const std::size_t keep = width - 1, front = (keep + 1) / 2, back = keep / 2;
    std::size_t head = 0;
    for (std::size_t points = 0; head < text.size() && points < front; ++points)
        do
            ++head;
        while (head < text.size() && isContinuationByte(text[head]));
    std::size_t tail = text.size();
    for (std::size_t points = 0; tail > 0 && points < back; ++points)
        do
            --tail;
        while (tail > 0 && isContinuationByte(text[tail]));
    return std::string(text.substr(0, head)) + "…" + std::string(text.substr(tail));
}

Table::Table(const std::vector<std::filesystem::path>& files, const DeliverySpec& spec,
             DamagePolicy damage, bool colour)
    : m_spec(spec), m_damage(damage), m_fileWidth(4), m_colour(colour) {
    for (const auto& file : files)
        m_fileWidth = std::max(m_fileWidth, displayWidth(file.filename().string()));
    m_fileWidth = std::min(m_fileWidth, maxFileWidth);
}

void Table::printHeader(std::ostream& out) const {
    std::string line =
        padRight(resultColumn.title, resultColumn.width) + "  " + padRight("File", m_fileWidth);
    // A spec measured in RMS shows its level and noise floor where loudness and true peak stand.
    const bool rms = m_spec.measure == DeliverySpec::Measure::rms;
    for (std::size_t i = 0; i < std::size(numberColumns); ++i) {
        const std::string_view title = rms && i == 0   ? "RMS"
                                       : rms && i == 2 ? "Floor"
                                                       : numberColumns[i].title;
        line += "  " + padLeft(title, numberColumns[i].width);
    }
    out << line << "  Fix\n";
}

const Workflow::CopyOutcome::Written* FileFix::written() const {
    return copy ? std::get_if<Workflow::CopyOutcome::Written>(&copy->value) : nullptr;
}

std::optional<std::string> FileFix::text(const DeliverySpec& spec) const {
    if (written())
        return Workflow::fixTextWritten(*written(), spec);
    if (copy)
        return Workflow::fixTextFailed(
            std::get<Workflow::CopyOutcome::Failed>(copy->value).message);
    if (notLimited)
        return Workflow::fixTextNotLimited(*notLimited);
    if (damaged)
        return damaged;
    if (plan && std::holds_alternative<FixPlan::Refused>(plan->value))
        return std::string(Workflow::fixTextRefused);
    return std::nullopt;
}

std::string Table::numbersLine(const std::string& name, const LoudnessResult& r,
                               const Verdict& verdict) const {
    const std::string_view statusColour = verdict.status == Verdict::Status::pass ? Colour::pass
                                          : verdict.status == Verdict::Status::fail
                                              ? Colour::fail
                                              : Colour::secondary;
    const bool hasVerdict = verdict.status != Verdict::Status::unmeasurable;
    const bool rms = m_spec.measure == DeliverySpec::Measure::rms;
    struct Number {
        std::optional<double> value;
        bool isSigned;
        bool bad;
    };
    const Number numbers[] = {
        {m_spec.level(r), false, hasVerdict && !verdict.loudnessOK},
        {verdict.delta, true, hasVerdict && !verdict.loudnessOK},
        rms ? Number{r.noiseFloor, false,
                     Verdict::overLimit(r.noiseFloor, m_spec.limits.noiseFloor)}
            : Number{r.truePeak, true, hasVerdict && !verdict.peakOK},
        {r.loudnessRange, false, Verdict::overLimit(r.loudnessRange, m_spec.limits.loudnessRange)},
        {r.maxShortTerm, false, Verdict::overLimit(r.maxShortTerm, m_spec.limits.shortTerm)},
        {r.samplePeak, true,
         Verdict::overLimit(r.samplePeak, m_spec.limits.samplePeak) ||
             (rms && hasVerdict && !verdict.peakOK)},
    };
    std::string line =
        coloured(padRight(label(verdict.status), resultColumn.width), statusColour, m_colour) +
        "  " + padRight(name, m_fileWidth);
    for (std::size_t i = 0; i < std::size(numbers); ++i) {
        const auto& n = numbers[i];
        const std::string text =
            padLeft(Fmt::number(n.value, n.isSigned, emDash), numberColumns[i].width);
        line += "  " + coloured(text, n.bad ? Colour::fail : "", m_colour);
    }
    return line;
}

void Table::printRow(std::ostream& out, const std::filesystem::path& file, const Reading& reading,
                     const std::optional<std::string>& fix, std::string_view note) const {
    const std::string name = shortenMiddle(file.filename().string(), m_fileWidth);
    std::vector<std::string> notes;
    if (!reading.result) {
        out << coloured(padRight(CliTexts::cantRead, resultColumn.width), Colour::caution, m_colour)
            << "  " << name << "\n";
        notes.push_back(reading.error.value_or(""));
    } else {
        const Verdict verdict = *verdictOf(reading, m_spec, m_damage);
        const auto plan = Workflow::fixPlanFor(reading.result, m_spec);
        const std::string fixText = fix ? *fix : plan ? plan->label() : "";
        out << numbersLine(name, *reading.result, verdict)
            << (fixText.empty() ? "" : "  " + fixText) << "\n";
        notes = verdict.problems;
        // A limited copy answers the refusal; so does the limiter's own refusal, in its column.
        const bool limited = fix && *fix != Workflow::fixTextRefused;
        if (const auto* refused = plan ? std::get_if<FixPlan::Refused>(&plan->value) : nullptr;
            refused && !limited)
            notes.push_back(refused->text(FixPlan::limiterInCommandLine));
        else if (const auto* gain = plan ? std::get_if<FixPlan::Gain>(&plan->value) : nullptr)
            notes.insert(notes.end(), gain->unfixed.begin(), gain->unfixed.end());
    }
    for (const Finding& finding : reading.findings)
        notes.push_back(CliTexts::findingNote(finding.isDamage(), finding.text));
    if (!note.empty())
        notes.emplace_back(note);
    const std::string indent(resultColumn.width + 2, ' ');
    for (const std::string& text : notes)
        out << indent << coloured(text, Colour::secondary, m_colour) << "\n";
}

namespace {

using Json = nlohmann::json;

/// The measurement with one JSON type per key: sample rates are whole numbers of hertz.
Json resultJson(const LoudnessResult& result) {
    Json j = Json::parse(result.toJson());
    j["sampleRate"] = std::llround(result.sampleRate);
    return j;
}

Json outcomeJson(const FileFix& fix, const DeliverySpec& spec) {
    if (const auto* written = fix.written()) {
        const Verdict verdict = Verdict::make(written->result, spec);
        Json limiting = nullptr;
        if (const auto& summary = written->limiting)
            limiting = {{"gain", summary->gain},
                        {"maxReduction", summary->maxReduction},
                        {"seconds", summary->seconds}};
        return {{"kind", "written"},
                {"copy", written->copy.string()},
                {"result", resultJson(written->result)},
                {"status", rawValue(verdict.status)},
                {"problems", verdict.problems},
                {"limiting", limiting},
                {"ofDamaged", written->ofDamaged},
                {"notCarried",
                 written->encoding ? written->encoding->notCarried : std::vector<std::string>{}}};
    }
    if (fix.damaged)
        return {{"kind", "refused"}, {"message", *fix.damaged}};
    if (fix.notLimited)
        return {{"kind", "refused"}, {"message", *fix.notLimited}};
    if (fix.copy)
        return {{"kind", "failed"},
                {"message", std::get<Workflow::CopyOutcome::Failed>(fix.copy->value).message}};
    if (const auto* refused = fix.plan ? std::get_if<FixPlan::Refused>(&fix.plan->value) : nullptr)
        return {{"kind", "refused"}, {"message", refused->text(FixPlan::limiterInCommandLine)}};
    return nullptr;
}

/// A series with null for steps without a value; hundredths are all a graph or a script needs,
/// and keep an hour's timeline near a megabyte.
Json seriesJson(const std::vector<std::optional<double>>& series) {
    Json values = Json::array();
    for (const auto& v : series)
        values.push_back(v ? Json(std::round(*v * 100) / 100) : Json(nullptr));
    return values;
}

Json timelineJson(const Timeline& timeline) {
    return {{"step", timeline.step},
            {"momentary", seriesJson(timeline.momentary)},
            {"shortTerm", seriesJson(timeline.shortTerm)},
            {"truePeak", seriesJson(timeline.truePeak)}};
}

} // namespace

std::optional<Verdict> verdictOf(const Reading& reading, const DeliverySpec& spec,
                                 DamagePolicy damage) {
    if (!reading.result)
        return std::nullopt;
    return Verdict::make(*reading.result, spec, reading.findings, damage);
}

std::string jsonLine(const std::filesystem::path& file, const Reading& reading,
                     const DeliverySpec& spec, DamagePolicy damage, bool dualMono,
                     const FileFix* fix, bool withTimeline) {
    Json j = Json::object();
    j["file"] = file.string();
    j["format"] = reading.format.empty() ? Json(nullptr) : Json(reading.format);
    j["dualMono"] = dualMono;
    j["result"] = reading.result ? resultJson(*reading.result) : Json(nullptr);
    j["status"] = "error";
    j["problems"] = Json::array();
    j["fix"] = nullptr;
    j["error"] = reading.error ? Json(*reading.error) : Json(nullptr);
    j["warnings"] = findingSentences(reading.findings);
    j["findings"] = Json::parse(findingsJson(reading.findings));
    if (reading.provenance)
        j["provenance"] = Json::parse(reading.provenance->toJson());
    if (const auto verdict = verdictOf(reading, spec, damage)) {
        j["status"] = rawValue(verdict->status);
        j["problems"] = verdict->problems;
        if (const auto plan = Workflow::fixPlanFor(reading.result, spec))
            j["fix"] = plan->label();
    }
    if (fix)
        j["outcome"] = outcomeJson(*fix, spec);
    if (withTimeline)
        j["timeline"] = reading.timeline ? timelineJson(*reading.timeline) : Json(nullptr);
    // File names need not be valid UTF-8; invalid bytes become U+FFFD rather than raw bytes.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string tallyLine(const std::vector<Reading>& readings, const DeliverySpec& spec,
                      DamagePolicy damage, std::size_t otherFiles, bool dualMono) {
    std::vector<ReportRow> rows;
    for (const Reading& reading : readings)
        rows.push_back(Workflow::reportRow({}, reading.format, reading.result, reading.error, {},
                                           reading.findings, damage));
    std::string tally = Report::tallyText(rows, spec);
    if (otherFiles > 0)
        tally += CliTexts::otherFilesSkipped(otherFiles);
    if (dualMono)
        tally += "; " + std::string(Report::dualMonoNote);
    return tally;
}

} // namespace tavrin::cli
