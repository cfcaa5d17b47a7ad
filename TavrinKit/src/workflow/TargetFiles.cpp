#include "tavrin/workflow/TargetFiles.h"

#include "tavrin/workflow/CustomTargets.h"
#include "tavrin/workflow/WorkflowTexts.h"
#include "workflow/SmallFile.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

namespace tavrin::Workflow {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view idPrefix = "target:";
constexpr std::size_t longestName = 80;

/// The keys of a target's numbers, in the document's order, and where each goes in the spec.
struct NumberKey {
    const char* key;
    CustomNumber number;
    bool required;
};

constexpr NumberKey numberKeys[] = {
    {"target", CustomNumber::target, true},
    {"tolerance", CustomNumber::tolerance, true},
    {"maxTruePeak", CustomNumber::maxTruePeak, true},
    {"louderMaxTruePeak", CustomNumber::louderMaxTruePeak, false},
    {"maxLoudnessRange", CustomNumber::maxLoudnessRange, false},
    {"maxShortTerm", CustomNumber::maxShortTerm, false},
    {"maxMomentary", CustomNumber::maxMomentary, false},
    {"maxSamplePeak", CustomNumber::maxSamplePeak, false},
};

/// Where the spec keeps each optional number; null for the three every target has.
template <class Spec>
auto optionalSlot(Spec& spec, CustomNumber number) -> decltype(&spec.louderCeiling) {
    switch (number) {
    case CustomNumber::louderMaxTruePeak:
        return &spec.louderCeiling;
    case CustomNumber::maxLoudnessRange:
        return &spec.limits.loudnessRange;
    case CustomNumber::maxShortTerm:
        return &spec.limits.shortTerm;
    case CustomNumber::maxMomentary:
        return &spec.limits.momentary;
    case CustomNumber::maxSamplePeak:
        return &spec.limits.samplePeak;
    default:
        return nullptr;
    }
}

template <class Spec>
auto requiredSlot(Spec& spec, CustomNumber number) -> decltype((spec.target)) {
    switch (number) {
    case CustomNumber::target:
        return spec.target;
    case CustomNumber::tolerance:
        return spec.tolerance;
    default:
        return spec.maxTruePeak;
    }
}

[[noreturn]] void refuse(std::string_view key, std::string_view problem) {
    throw std::invalid_argument(targetKeyProblem(key, problem));
}

bool isKnownKey(std::string_view key) {
    return key == "version" || key == "name" ||
           std::ranges::any_of(numberKeys, [key](const NumberKey& k) { return k.key == key; });
}

std::string nameFrom(const Json& document) {
    const auto it = document.find("name");
    if (it == document.end())
        refuse("name", targetMissingKey);
    const std::string name = it->is_string() ? it->get<std::string>() : std::string();
    const bool hasControl = std::ranges::any_of(
        name, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    // Counted in code points, so that an accented name is held to the same length.
    const auto length = std::ranges::count_if(
        name, [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; });
    if (name.empty() || hasControl || static_cast<std::size_t>(length) > longestName ||
        name.find_first_not_of(' ') == std::string::npos)
        throw std::invalid_argument(std::string(targetNameProblem));
    return name;
}

} // namespace

std::optional<double> targetNumber(const DeliverySpec& spec, CustomNumber number) {
    if (const auto* optional = optionalSlot(spec, number))
        return *optional;
    return requiredSlot(spec, number);
}

void setTargetNumber(DeliverySpec& spec, CustomNumber number, std::optional<double> value) {
    if (auto* optional = optionalSlot(spec, number))
        *optional = value;
    else if (value)
        requiredSlot(spec, number) = *value;
}

std::string namedTargetId(std::string_view name) {
    return std::string(idPrefix) + std::string(name);
}

bool isNamedTargetId(std::string_view id) {
    return id.starts_with(idPrefix);
}

DeliverySpec targetFromJson(std::string_view json) {
    const Json document = Json::parse(json, nullptr, false);
    if (!document.is_object())
        throw std::invalid_argument(std::string(targetNotAnObject));
    for (const auto& [key, value] : document.items())
        if (!isKnownKey(key))
            refuse(key, targetUnknownKey);
    const auto version = document.find("version");
    if (version == document.end() || !version->is_number_integer() || *version != 1)
        throw std::invalid_argument(std::string(targetWrongVersion));

    DeliverySpec spec;
    spec.name = nameFrom(document);
    spec.id = namedTargetId(spec.name);
    spec.summary = namedTargetSummary;
    spec.sourceName = namedTargetSource;
    for (const NumberKey& key : numberKeys) {
        const auto it = document.find(key.key);
        if (it == document.end() || (!key.required && it->is_null())) {
            if (key.required)
                refuse(key.key, targetMissingKey);
            continue;
        }
        if (!it->is_number())
            refuse(key.key, targetNotNumber);
        const double value = it->get<double>();
        if (auto problem = customNumberProblem(key.number, value))
            refuse(key.key, "is out of range. " + *problem);
        setTargetNumber(spec, key.number, value);
    }
    return spec;
}

std::string targetToJson(const DeliverySpec& spec) {
    Json document{{"version", 1}, {"name", spec.name}};
    for (const NumberKey& key : numberKeys)
        if (const auto value = targetNumber(spec, key.number))
            document[key.key] = *value;
    return document.dump(2) + "\n";
}

DeliverySpec readTargetFile(const std::filesystem::path& file) {
    const SmallFile read = readSmallFile(file, 64 * 1024);
    if (read.error)
        throw std::invalid_argument(cantReadFileMessage(file.filename().string(), read.error));
    if (read.tooLarge)
        throw std::invalid_argument(targetFileProblem(file, targetTooLarge));
    try {
        return targetFromJson(read.text);
    } catch (const std::invalid_argument& error) {
        throw std::invalid_argument(targetFileProblem(file, error.what()));
    }
}

} // namespace tavrin::Workflow
