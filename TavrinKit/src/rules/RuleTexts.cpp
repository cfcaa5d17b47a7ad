#include "tavrin/rules/RuleTexts.h"

#include "tavrin/core/Fmt.h"

namespace tavrin::RuleTexts {

std::string loudnessOff(double difference) {
    return difference < 0 ? Fmt::oneDecimal(-difference) + " LU too quiet"
                          : Fmt::oneDecimal(difference) + " LU too loud";
}

std::string truePeakOver(double truePeak, double ceiling) {
    return "true peak " + Fmt::number(truePeak, true) + " dBTP is over " +
           Fmt::number(ceiling, false) + " dBTP";
}

namespace {

struct LimitWords {
    const char* name;
    const char* unit;
};

LimitWords wordsFor(Limit limit) {
    switch (limit) {
    case Limit::loudnessRange:
        return {"loudness range", " LU"};
    case Limit::shortTerm:
        return {"maximum short-term loudness", " LUFS"};
    case Limit::momentary:
        return {"maximum momentary loudness", " LUFS"};
    case Limit::samplePeak:
        break;
    }
    return {"sample peak", " dBFS"};
}

} // namespace

std::string overLimit(Limit limit, double value, double most) {
    const auto [name, unit] = wordsFor(limit);
    const bool isSigned = limit == Limit::samplePeak;
    return std::string(name) + " " + Fmt::number(value, isSigned) + unit + " is over " +
           Fmt::number(most, false) + unit;
}

std::string gainLeaves(Limit limit, double value, double most, double loudness) {
    const auto [name, unit] = wordsFor(limit);
    if (limit == Limit::loudnessRange)
        return "Gain can't change the loudness range: " + Fmt::number(value, false) +
               " LU stays over " + Fmt::number(most, false) + " LU.";
    return std::string("Gain can't fix the ") + name + ": at " + Fmt::number(loudness, false) +
           " LUFS it would be " + Fmt::number(value, limit == Limit::samplePeak) + unit +
           ", over " + Fmt::number(most, false) + unit + ".";
}

std::string noReadingToFix(std::string_view firstProblem) {
    return "There's no loudness reading to fix: " +
           (firstProblem.empty() ? std::string("nothing measured") : std::string(firstProblem));
}

std::string gainRefusal(double loudness, double truePeak, double gain, double ceiling,
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

std::string needsLimiter(std::string_view refusal, std::string_view limiterCommand) {
    return std::string(refusal) + " It needs a limiter first: " + std::string(limiterCommand) +
           " can bring it there.";
}

std::string shortOfTargetNote(double under, double ceiling, const DeliverySpec& spec) {
    return "Set " + Fmt::oneDecimal(under) + " LU under the target to keep the true peak under " +
           Fmt::number(ceiling, false) + " dBTP; still within ±" + Fmt::oneDecimal(spec.tolerance) +
           " LU.";
}

std::string gainLabel(double gain, double loudness, bool shortOfTarget) {
    return Fmt::number(gain, true) + " dB → " + Fmt::number(loudness, false) + " LUFS" +
           (shortOfTarget ? " (short of target)" : "");
}

} // namespace tavrin::RuleTexts
