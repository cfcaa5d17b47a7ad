#include "tavrin/rules/RuleTexts.h"

#include "tavrin/core/Fmt.h"

namespace tavrin::RuleTexts {

Units unitsOf(const DeliverySpec& spec) {
    if (spec.measure == DeliverySpec::Measure::rms)
        return {"dB RMS", "dB", "sample peak", "dBFS"};
    return {"LUFS", "LU", "true peak", "dBTP"};
}

std::string levelOff(double difference, const DeliverySpec& spec) {
    if (spec.measure == DeliverySpec::Measure::rms) {
        const double edge =
            difference < 0 ? spec.target - spec.tolerance : spec.target + spec.tolerance;
        return "RMS " + Fmt::number(spec.target + difference, false) + " dB is " +
               (difference < 0 ? "under " : "over ") + Fmt::number(edge, false) + " dB";
    }
    return difference < 0 ? Fmt::oneDecimal(-difference) + " LU too quiet"
                          : Fmt::oneDecimal(difference) + " LU too loud";
}

std::string peakOver(double peak, double ceiling, const DeliverySpec& spec) {
    const Units units = unitsOf(spec);
    const std::string unit(units.peakUnit);
    return std::string(units.peak) + " " + Fmt::number(peak, true) + " " + unit + " is over " +
           Fmt::number(ceiling, false) + " " + unit;
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
    case Limit::noiseFloor:
        return {"noise floor", " dB"};
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

std::string gainLeaves(Limit limit, double value, double most, double loudness,
                       const DeliverySpec& spec) {
    const auto [name, unit] = wordsFor(limit);
    if (limit == Limit::loudnessRange)
        return "Gain can't change the loudness range: " + Fmt::number(value, false) +
               " LU stays over " + Fmt::number(most, false) + " LU.";
    return std::string("Gain can't fix the ") + name + ": at " + Fmt::number(loudness, false) +
           " " + std::string(unitsOf(spec).level) + " it would be " +
           Fmt::number(value, limit == Limit::samplePeak) + unit + ", over " +
           Fmt::number(most, false) + unit + ".";
}

std::string noReadingToFix(std::string_view firstProblem) {
    return "There's no loudness reading to fix: " +
           (firstProblem.empty() ? std::string("nothing measured") : std::string(firstProblem));
}

std::string gainRefusal(double loudness, double truePeak, double gain, double ceiling,
                        const DeliverySpec& spec) {
    const Units units = unitsOf(spec);
    const std::string level = " " + std::string(units.level), name(units.peak),
                      unit = " " + std::string(units.peakUnit);
    const std::string target = Fmt::number(spec.target, false) + level;
    const std::string peak = Fmt::number(truePeak + gain, true) + unit;
    const std::string limit = Fmt::number(ceiling, false) + unit;
    // A gain of exactly 0 counts as raising: the file is on target and still over the ceiling.
    // The loudest it can go puts the peak exactly on the ceiling, without the margin.
    if (gain >= 0)
        return "Raising it to " + target + " needs " + Fmt::number(gain, true) +
               " dB of gain, which would put the " + name + " at " + peak + ", over the " + limit +
               " ceiling. With gain alone the loudest it can go is " +
               Fmt::number(loudness + ceiling - truePeak, false) + level + ".";
    return "Even after lowering it to " + target + " (" + Fmt::number(gain, true) + " dB), the " +
           name + " would be " + peak + ", over the " + limit + " ceiling.";
}

std::string needsLimiter(std::string_view refusal, std::string_view limiterCommand) {
    return std::string(refusal) + " It needs a limiter first: " + std::string(limiterCommand) +
           " can bring it there.";
}

std::string shortOfTargetNote(double under, double ceiling, const DeliverySpec& spec) {
    const Units units = unitsOf(spec);
    const std::string difference(units.difference);
    return "Set " + Fmt::oneDecimal(under) + " " + difference + " under the target to keep the " +
           std::string(units.peak) + " under " + Fmt::number(ceiling, false) + " " +
           std::string(units.peakUnit) + "; still within ±" + Fmt::oneDecimal(spec.tolerance) +
           " " + difference + ".";
}

std::string gainLabel(double gain, double loudness, bool shortOfTarget, std::string_view unit) {
    return Fmt::number(gain, true) + " dB → " + Fmt::number(loudness, false) + " " +
           std::string(unit) + (shortOfTarget ? " (short of target)" : "");
}

} // namespace tavrin::RuleTexts
