#include "tavrin/rules/FixPlan.h"

#include "tavrin/core/Fmt.h"
#include "tavrin/rules/RuleTexts.h"
#include "tavrin/rules/Verdict.h"

namespace tavrin {
FixPlan FixPlan::make(const LoudnessResult& result, const DeliverySpec& spec) {
    const Verdict verdict = Verdict::make(result, spec);
    if (verdict.status == Verdict::Status::pass)
        return {AlreadyPasses{}};
    if (!result.integrated || !result.truePeak)
        return {Refused{RuleTexts::noReadingToFix(
            verdict.problems.empty() ? std::string_view() : verdict.problems.front())}};

    const double loudness = *result.integrated;
    const double truePeak = *result.truePeak;
    const double gain = spec.target - loudness;
    // The copy will sit at the target, so the louder ceiling never applies to it.
    const double ceiling = spec.ceiling(spec.target);
    if (Fmt::round1(truePeak + gain) <= ceiling)
        return {Gain{gain, spec.target, truePeak + gain, std::nullopt}};

    // Stop short of the target, keeping the margin under the ceiling, if that is still in the
    // window.
    const double partialGain = ceiling - truePeak - margin;
    const double partialLoudness = loudness + partialGain;
    const double shown = Fmt::round1(partialLoudness);
    if (spec.target - spec.tolerance <= shown && shown <= spec.target + spec.tolerance)
        return {Gain{partialGain, partialLoudness, truePeak + partialGain,
                     RuleTexts::shortOfTargetNote(spec.target - partialLoudness, ceiling, spec)}};

    return {Refused{RuleTexts::gainRefusal(loudness, truePeak, gain, ceiling, spec), true}};
}

std::string FixPlan::Refused::text(std::string_view limiterCommand) const {
    if (!needsLimiter)
        return message;
    return RuleTexts::needsLimiter(message, limiterCommand);
}

std::string FixPlan::label() const {
    if (const auto* plan = std::get_if<Gain>(&value))
        return RuleTexts::gainLabel(plan->gain, plan->loudness, plan->note.has_value());
    if (std::holds_alternative<Refused>(value))
        return std::string(RuleTexts::cantFixLabel);
    return std::string(RuleTexts::alreadyPassesLabel);
}

} // namespace tavrin
