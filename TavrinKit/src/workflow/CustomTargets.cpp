#include "tavrin/workflow/CustomTargets.h"

#include "tavrin/core/Fmt.h"
#include "tavrin/workflow/WorkflowTexts.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace tavrin::Workflow {

namespace {

/// What a custom spec's number is called in sentences, its unit and the range it must be in:
/// wide enough for every delivery in use, narrow enough to catch a lost sign or a dB slip.
struct CustomRange {
    double low;
    double high;
};

CustomRange customRange(CustomNumber number) {
    switch (number) {
    case CustomNumber::target:
        return {-50, -5};
    case CustomNumber::tolerance:
        return {0, 5};
    case CustomNumber::maxLoudnessRange:
        return {1, 40};
    case CustomNumber::maxShortTerm:
    case CustomNumber::maxMomentary:
        return {-50, 0};
    case CustomNumber::maxSamplePeak:
        return {-30, 0};
    case CustomNumber::maxTruePeak:
    case CustomNumber::louderMaxTruePeak:
        break;
    }
    return {-20, 0};
}

void requireWithin(CustomNumber number, double value) {
    if (auto problem = customNumberProblem(number, value))
        throw std::invalid_argument(*problem);
}

constexpr std::string_view customPrefix = "custom:";

/// A number of a custom id: one decimal with an ASCII minus when that is exact ("-19.0"), else the
/// shortest text that reads back as the same double, so different targets never share an id.
std::string idNumber(double value) {
    if (std::abs(value * 10 - std::round(value * 10)) < 1e-9)
        return Fmt::plain(value);
    char text[32];
    const auto end = std::to_chars(std::begin(text), std::end(text), value).ptr;
    return std::string(text, end);
}

/// The number at the start of `text` up to the next ':' (or the end), which it consumes.
std::optional<double> takeIdNumber(std::string_view& text) {
    const std::size_t colon = text.find(':');
    const std::string_view field = text.substr(0, colon);
    double value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (field.empty() || error != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    text.remove_prefix(colon == std::string_view::npos ? text.size() : colon + 1);
    return value;
}

} // namespace

std::optional<std::string> customNumberProblem(CustomNumber number, double value) {
    const CustomRange range = customRange(number);
    if (std::isfinite(value) && value >= range.low && value <= range.high)
        return std::nullopt;
    return customNumberOutOfRange(number, range.low, range.high, value);
}

DeliverySpec customSpec(double target, std::optional<double> tolerance,
                        std::optional<double> maxTruePeak) {
    requireWithin(CustomNumber::target, target);
    requireWithin(CustomNumber::tolerance, tolerance.value_or(1));
    requireWithin(CustomNumber::maxTruePeak, maxTruePeak.value_or(-1));
    DeliverySpec spec{.id = std::string(customPrefix) + idNumber(target) + ":" +
                            idNumber(tolerance.value_or(1)) + ":" +
                            idNumber(maxTruePeak.value_or(-1)),
                      .name = Fmt::number(target, false) + " LUFS",
                      .target = target,
                      .tolerance = tolerance.value_or(1),
                      .maxTruePeak = maxTruePeak.value_or(-1),
                      .toleranceIsOurs = !tolerance,
                      .summary = {},
                      .sourceName = std::string(customTargetSource)};
    spec.summary = customTargetSummary;
    return spec;
}

std::optional<DeliverySpec> customSpecForId(std::string_view id) {
    if (!id.starts_with(customPrefix))
        return std::nullopt;
    std::string_view numbers = id.substr(customPrefix.size());
    const auto target = takeIdNumber(numbers);
    const auto tolerance = target ? takeIdNumber(numbers) : std::nullopt;
    const auto maxTruePeak = tolerance ? takeIdNumber(numbers) : std::nullopt;
    if (!maxTruePeak)
        return std::nullopt;
    try {
        DeliverySpec spec = customSpec(*target, tolerance, maxTruePeak);
        // Only the spelling customSpec writes, so one target never goes by two ids.
        return spec.id == id ? std::optional(std::move(spec)) : std::nullopt;
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

std::optional<DeliverySpec> specForId(std::string_view id) {
    if (auto preset = DeliverySpec::preset(id))
        return preset;
    return customSpecForId(id);
}

} // namespace tavrin::Workflow
