#include "tavrin/core/Finding.h"

#include "core/FindingJson.h"

#include <array>
#include <nlohmann/json.hpp>

namespace tavrin {
namespace {

using Json = nlohmann::json;
using Kind = Finding::Kind;

constexpr std::array<std::pair<Kind, std::string_view>, 7> rawValues{{
    {Kind::cutOff, "cutOff"},
    {Kind::undecodable, "undecodable"},
    {Kind::container, "container"},
    {Kind::clipping, "clipping"},
    {Kind::dropout, "dropout"},
    {Kind::dcOffset, "dcOffset"},
    {Kind::phase, "phase"},
}};

} // namespace

bool Finding::isDamage() const {
    return kind != Kind::dcOffset && kind != Kind::phase;
}

std::string_view rawValue(Finding::Kind kind) {
    for (const auto& [k, raw] : rawValues)
        if (k == kind)
            return raw;
    return {};
}

std::optional<Finding::Kind> findingKindFromRawValue(std::string_view raw) {
    for (const auto& [kind, value] : rawValues)
        if (value == raw)
            return kind;
    return std::nullopt;
}

bool anyDamage(const std::vector<Finding>& findings) {
    return firstDamage(findings) != nullptr;
}

const Finding* firstDamage(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings)
        if (finding.isDamage())
            return &finding;
    return nullptr;
}

std::vector<std::string> findingSentences(const std::vector<Finding>& findings) {
    std::vector<std::string> sentences;
    for (const Finding& finding : findings)
        sentences.push_back(finding.text);
    return sentences;
}

std::string findingsJson(const std::vector<Finding>& findings) {
    return findingsToJson(findings).dump(-1, ' ', false, Json::error_handler_t::replace);
}

nlohmann::ordered_json findingsToJson(const std::vector<Finding>& findings) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const Finding& finding : findings) {
        nlohmann::ordered_json entry = {{"kind", rawValue(finding.kind)}, {"count", finding.count}};
        entry["at"] = finding.at ? nlohmann::ordered_json(std::round(*finding.at * 100) / 100)
                                 : nlohmann::ordered_json(nullptr);
        entry["text"] = finding.text;
        if (finding.fromOriginal)
            entry["fromOriginal"] = true;
        array.push_back(std::move(entry));
    }
    return array;
}

std::vector<Finding> findingsFromJson(const Json& json) {
    std::vector<Finding> findings;
    if (!json.is_array())
        return findings;
    for (const Json& entry : json) {
        if (!entry.is_object())
            continue;
        const auto kind = entry.find("kind"), count = entry.find("count"), at = entry.find("at"),
                   sentence = entry.find("text"), original = entry.find("fromOriginal");
        if (kind == entry.end() || !kind->is_string() || count == entry.end() ||
            !count->is_number_integer() || sentence == entry.end() || !sentence->is_string())
            continue;
        const auto known = findingKindFromRawValue(kind->get<std::string>());
        if (!known)
            continue;
        Finding finding{*known, count->get<std::int64_t>(), std::nullopt,
                        sentence->get<std::string>()};
        if (at != entry.end() && at->is_number() && std::isfinite(at->get<double>()))
            finding.at = at->get<double>();
        finding.fromOriginal = original != entry.end() && original->is_boolean() && *original;
        findings.push_back(std::move(finding));
    }
    return findings;
}

} // namespace tavrin
