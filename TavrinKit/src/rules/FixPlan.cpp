#include "tavrin/rules/FixPlan.h"

#include "core/Joined.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/rules/RuleTexts.h"
#include "tavrin/rules/Verdict.h"

namespace tavrin {
namespace {

/// What a copy with `gain` dB would still be over among the spec's further limits: the loudness
/// range doesn't move with gain; the maxima and the sample peak move with it.
std::vector<std::string> unfixedAfter(const LoudnessResult& result, const DeliverySpec& spec,
                                      double gain) {
    std::vector<std::string> unfixed;
    const double loudness = *spec.level(result) + gain;
    for (const auto& [limit, most, value, moves] : limitReadings(result, spec)) {
        const double after = value.value_or(0) + (moves ? gain : 0);
        if (value && Verdict::overLimit(after, most))
            unfixed.push_back(
                RuleTexts::gainLeaves(limit, Fmt::round1(after), *most, loudness, spec));
    }
    return unfixed;
}

} // namespace

FixPlan FixPlan::make(const LoudnessResult& result, const DeliverySpec& spec) {
    const Verdict verdict = Verdict::make(result, spec);
    if (verdict.status == Verdict::Status::pass)
        return {AlreadyPasses{}};
    if (!spec.level(result) || !spec.peak(result))
        return {Refused{RuleTexts::noReadingToFix(
            verdict.problems.empty() ? std::string_view() : verdict.problems.front())}};
    if (verdict.levelOK())
        return {Refused{joined(unfixedAfter(result, spec, 0), " ")}};

    const double loudness = *spec.level(result);
    const double truePeak = *spec.peak(result);
    const std::string_view unit = RuleTexts::unitsOf(spec).level;
    const double gain = spec.target - loudness;
    // The copy will sit at the target, so the louder ceiling never applies to it.
    const double ceiling = spec.ceiling(spec.target);
    if (Fmt::round1(truePeak + gain) <= ceiling)
        return {Gain{gain, spec.target, truePeak + gain, std::nullopt,
                     unfixedAfter(result, spec, gain), unit}};

    // Stop short of the target, keeping the margin under the ceiling, if that is still in the
    // window.
    const double partialGain = ceiling - truePeak - margin;
    const double partialLoudness = loudness + partialGain;
    const double shown = Fmt::round1(partialLoudness);
    if (spec.target - spec.tolerance <= shown && shown <= spec.target + spec.tolerance)
        return {Gain{partialGain, partialLoudness, truePeak + partialGain,
                     RuleTexts::shortOfTargetNote(spec.target - partialLoudness, ceiling, spec),
                     unfixedAfter(result, spec, partialGain), unit}};

    // The limiter holds true peaks at a loudness target; the RMS level's sample peaks are not its.
    return {Refused{RuleTexts::gainRefusal(loudness, truePeak, gain, ceiling, spec),
                    spec.measure == DeliverySpec::Measure::loudness}};
}

std::optional<std::string> FixPlan::Gain::remark() const {
    std::vector<std::string> parts = unfixed;
    if (note)
        parts.insert(parts.begin(), *note);
    return parts.empty() ? std::nullopt : std::optional(joined(parts, " "));
}

std::string FixPlan::Refused::text(std::string_view limiterCommand) const {
    if (!needsLimiter)
        return message;
    return RuleTexts::needsLimiter(message, limiterCommand);
}

std::string FixPlan::label() const {
    if (const auto* plan = std::get_if<Gain>(&value))
        return RuleTexts::gainLabel(plan->gain, plan->loudness, plan->note.has_value(), plan->unit);
    if (std::holds_alternative<Refused>(value))
        return std::string(RuleTexts::cantFixLabel);
    return std::string(RuleTexts::alreadyPassesLabel);
}

} // namespace tavrin
