#include "tavrin/rules/Verdict.h"

#include "core/Joined.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/rules/RuleTexts.h"

#include <cmath>
#include <limits>

namespace tavrin {
namespace {

/// Absorbs floating-point error so that a rounded value exactly on a limit is within it.
constexpr double epsilon = 1e-9;

Verdict unmeasurable(const LoudnessResult& result, const DeliverySpec& spec) {
    // Without any non-zero sample the file is digital silence; otherwise it was too short for one
    // 400 ms gating block or every block fell under the absolute gate.
    return {
        .status = Verdict::Status::unmeasurable,
        .ceiling = spec.maxTruePeak,
        .problems = {std::string(result.samplePeak &&
                                         spec.measure == DeliverySpec::Measure::loudness
                                     ? RuleTexts::tooShortToMeasure
                                     : RuleTexts::silent)},
    };
}

/// The problem of each further limit `result` is over, in the spec's order; a quantity without a
/// reading is never over.
std::vector<std::string> limitProblems(const LoudnessResult& result, const DeliverySpec& spec) {
    std::vector<std::string> problems;
    for (const auto& [limit, most, value, moves] : limitReadings(result, spec))
        if (Verdict::overLimit(value, most))
            problems.push_back(RuleTexts::overLimit(limit, Fmt::round1(*value), *most));
    return problems;
}

} // namespace

bool Verdict::overLimit(std::optional<double> value, std::optional<double> most) {
    return value && most && Fmt::round1(*value) > *most + epsilon;
}

Verdict Verdict::make(const LoudnessResult& result, const DeliverySpec& spec) {
    const auto level = spec.level(result);
    if (!level)
        return unmeasurable(result, spec);

    Verdict verdict;
    const double loudness = Fmt::round1(*level);
    verdict.ceiling = spec.ceiling(result.integrated);
    const double difference = Fmt::round1(loudness - spec.target);
    verdict.delta = difference;
    verdict.loudnessOK = std::abs(difference) <= spec.tolerance + epsilon;
    // No peak reading (silent samples only) can never be over any ceiling.
    const auto measuredPeak = spec.peak(result);
    const double peak =
        measuredPeak ? Fmt::round1(*measuredPeak) : -std::numeric_limits<double>::infinity();
    verdict.peakOK = peak <= verdict.ceiling + epsilon;

    if (!verdict.loudnessOK)
        verdict.problems.push_back(RuleTexts::levelOff(difference, spec));
    if (!verdict.peakOK)
        verdict.problems.push_back(RuleTexts::peakOver(peak, verdict.ceiling, spec));
    const auto overLimits = limitProblems(result, spec);
    verdict.limitsOK = overLimits.empty();
    verdict.problems.insert(verdict.problems.end(), overLimits.begin(), overLimits.end());
    verdict.status = verdict.problems.empty() ? Status::pass : Status::fail;
    return verdict;
}

Verdict Verdict::make(const LoudnessResult& result, const DeliverySpec& spec,
                      const std::vector<Finding>& findings, DamagePolicy damage) {
    Verdict verdict = make(result, spec);
    if (damage == DamagePolicy::warn || !anyDamage(findings))
        return verdict;
    auto problems = damageProblems(findings);
    problems.insert(problems.end(), verdict.problems.begin(), verdict.problems.end());
    verdict.problems = std::move(problems);
    verdict.status = Status::fail;
    return verdict;
}

std::string Verdict::summary() const {
    std::string text(label(status));
    if (status == Status::pass || problems.empty())
        return text;
    return text + ": " + joined(problems, "; ");
}

std::array<LimitReading, 5> limitReadings(const LoudnessResult& result, const DeliverySpec& spec) {
    using enum RuleTexts::Limit;
    const DeliverySpec::Limits& limits = spec.limits;
    return {{
        {loudnessRange, limits.loudnessRange, result.loudnessRange, false},
        {shortTerm, limits.shortTerm, result.maxShortTerm, true},
        {momentary, limits.momentary, result.maxMomentary, true},
        {samplePeak, limits.samplePeak, result.samplePeak, true},
        {noiseFloor, limits.noiseFloor, result.noiseFloor, true},
    }};
}

std::string_view label(Verdict::Status status) {
    switch (status) {
    case Verdict::Status::pass:
        return "Pass";
    case Verdict::Status::fail:
        return "Fail";
    case Verdict::Status::unmeasurable:
        return "No reading";
    }
    return "No reading";
}

std::string_view rawValue(Verdict::Status status) {
    switch (status) {
    case Verdict::Status::pass:
        return "pass";
    case Verdict::Status::fail:
        return "fail";
    case Verdict::Status::unmeasurable:
        return "unmeasurable";
    }
    return "unmeasurable";
}

std::optional<Verdict::Status> statusFromRawValue(std::string_view raw) {
    using enum Verdict::Status;
    for (auto status : {pass, fail, unmeasurable})
        if (rawValue(status) == raw)
            return status;
    return std::nullopt;
}

} // namespace tavrin
