#include "tavrin/rules/FixPlan.h"

#include "tavrin/core/Fmt.h"
#include "tavrin/rules/Verdict.h"

namespace tavrin {
namespace {

/// Why no gain lands the file inside the window without pushing its true peak over the ceiling.
std::string refusal(double loudness, double truePeak, double gain, double ceiling,
                    const DeliverySpec& spec) {
    const std::string target = Fmt::number(spec.target, false);
    const std::string peak = Fmt::number(truePeak + gain, true);
    const std::string limit = Fmt::number(ceiling, false);
    // A gain of exactly 0 counts as raising: the file is on target and still over the ceiling.
    // The loudest it can go puts the true peak exactly on the ceiling, without the margin.
    if (gain >= 0)
        return "Raising it to " + target + " LUFS needs " + Fmt::number(gain, true) +
               " dB of gain, which would put the true peak at " + peak + " dBTP, over the " +
               limit + " dBTP ceiling. With gain alone the loudest it can go is " +
               Fmt::number(loudness + ceiling - truePeak, false) + " LUFS.";
    return "Even after lowering it to " + target + " LUFS (" + Fmt::number(gain, true) +
           " dB), the true peak would be " + peak + " dBTP, over the " + limit + " dBTP ceiling.";
}

} // namespace

FixPlan FixPlan::make(const LoudnessResult& result, const DeliverySpec& spec) {
    const Verdict verdict = Verdict::make(result, spec);
    if (verdict.status == Verdict::Status::pass)
        return {AlreadyPasses{}};
    if (!result.integrated || !result.truePeak)
        return {
            Refused{"There's no loudness reading to fix: " +
                    (verdict.problems.empty() ? "nothing measured" : verdict.problems.front())}};

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
                     "Set " + Fmt::oneDecimal(spec.target - partialLoudness) +
                         " LU under the target to keep the true peak under " +
                         Fmt::number(ceiling, false) + " dBTP; still within ±" +
                         Fmt::oneDecimal(spec.tolerance) + " LU."}};

    return {Refused{refusal(loudness, truePeak, gain, ceiling, spec), true}};
}

std::string FixPlan::Refused::text(std::string_view limiterCommand) const {
    if (!needsLimiter)
        return message;
    return message + " It needs a limiter first: " + std::string(limiterCommand) +
           " can bring it there.";
}

std::string FixPlan::label() const {
    if (const auto* plan = std::get_if<Gain>(&value))
        return Fmt::number(plan->gain, true) + " dB → " + Fmt::number(plan->loudness, false) +
               " LUFS" + (plan->note ? " (short of target)" : "");
    if (std::holds_alternative<Refused>(value))
        return "Can't fix with gain alone";
    return "Already passes";
}

} // namespace tavrin
