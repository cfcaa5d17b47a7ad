#include "tavrin/core/Fmt.h"
#include "tavrin/workflow/Copies.h"
#include "tavrin/workflow/Measuring.h"
#include "workflow/CopySteps.h"

namespace tavrin::Workflow {

namespace {

/// Where the limiter aims: the middle of what reads, rounded, between the target − 0.1 and the
/// target.
constexpr double aimBelowTarget = 0.05;
/// dB of gain over the gain-only one that the limiter's first read of a file allows for.
constexpr double firstGainRoom = 3;
/// The peaks are held the partial fix's margin under the ceiling, where dither, rounding and the
/// curve's slope within the interpolator's reach can't lift them over it.
double firstThreshold(const DeliverySpec& spec) {
    return spec.ceiling(spec.target) - FixPlan::margin;
}

/// The copy reads, rounded, within the limiter's window and its true peak is at most the ceiling.
bool landed(const LoudnessResult& copy, const DeliverySpec& spec) {
    if (!copy.integrated || !copy.truePeak)
        return false;
    const double shown = Fmt::round1(*copy.integrated);
    return shown >= spec.target - 0.1 - 1e-9 && shown <= spec.target + 1e-9 &&
           *copy.truePeak <= spec.ceiling(spec.target);
}

/// What the limiter will do under `setting`, as the record of a copy says it before the copy is
/// written (formats whose tags come first need it then).
Limiter::Summary plannedLimiting(const Limiter::Analysis& analysis,
                                 const Limiter::Setting& setting) {
    const Limiter::Prediction prediction = analysis.predict(setting);
    return {setting.gain, prediction.maxReduction, prediction.seconds};
}

/// One limited copy, written and measured but not yet under its name.
struct LimitedCopy {
    GainWriter::PendingCopy copy;
    LoudnessResult result;
    Limiter::Summary limiting;
    bool ofDamaged;

    CopyOutcome commit() {
        return {CopyOutcome::Written{copy.commit(), result, limiting, copy.encoding(), ofDamaged,
                                     limiting.gain}};
    }
};

LimitedCopy writeLimited(const std::filesystem::path& original,
                         const std::vector<Finding>& findings, const BackgroundDigest& digest,
                         const Limiter::Analysis& analysis, const Limiter::Setting& setting,
                         const DeliverySpec& spec,
                         const std::optional<std::filesystem::path>& outputFolder, bool dualMono,
                         const CancelCheck& isCancelled, GainWriter::CopyFormat format) {
    Limiter::Curve curve(analysis, setting);
    auto copy = GainWriter::writePending(
        original, limitedLabel(spec), outputFolder, setting.gain,
        [&curve](std::int64_t first, std::span<float> factors) { curve(first, factors); },
        provenanceRecord(original, findings, digest, spec, setting.gain,
                         plannedLimiting(analysis, setting)),
        isCancelled, format);
    LoudnessResult result = measurePending(copy, dualMono, isCancelled);
    return {std::move(copy), std::move(result), curve.summary(), anyDamage(findings)};
}

/// Limits `original` as writeLimitedCopy describes, throwing what the writer and meter throw.
CopyOutcome limit(const std::filesystem::path& original, const std::vector<Finding>& findings,
                  const LoudnessResult& measured, const DeliverySpec& spec,
                  const std::optional<std::filesystem::path>& outputFolder, bool dualMono,
                  const CancelCheck& isCancelled, GainWriter::CopyFormat format) {
    if (!measured.integrated || !measured.truePeak)
        return {CopyOutcome::Refused{std::string(noReadingToLimit)}};
    if (auto refusal = limiterRefusal(measured, spec))
        return {CopyOutcome::Refused{std::move(*refusal)}};
    const BackgroundDigest digest(original); // while the original is read for the limiter
    double aim = spec.target - aimBelowTarget;
    Limiter::Setting setting{0, firstThreshold(spec)};
    // Peaks far under the threshold at the gain-only gain cost time to find and matter only when
    // limiting takes more loudness away than the gain has room for; those rarer files are read
    // again with room for the most reduction, which the solved gain never exceeds.
    const double plainGain = aim - *measured.integrated;
    double room = firstGainRoom;
    double floor = 0;
    const auto read = [&] {
        floor = setting.threshold - plainGain - room - 1;
        return Limiter::Analysis::read(original, dualMono, floor, isCancelled);
    };
    auto analysis = read();
    // A gain held at the room the analysis was read for is read again with the most room: on the
    // first pass, and on a later one whose threshold came down.
    const auto solve = [&] {
        auto solved = analysis.solve(aim, setting.threshold, plainGain + room);
        if (solved && room < Limiter::mostReduction &&
            solved->setting.gain >= plainGain + room - 0.01) {
            room = Limiter::mostReduction;
            analysis = read();
            solved = analysis.solve(aim, setting.threshold, plainGain + room);
        }
        return solved;
    };
    constexpr int writes = 3;
    struct Overshoot {
        std::string encoding;
        double truePeak;
    };
    std::optional<Overshoot> encodedOver; // the last copy's, when encoding lifted its peaks over
    for (int pass = 1;; ++pass) {
        const auto solved = solve();
        if (!solved)
            return {CopyOutcome::Refused{std::string(noReadingToLimit)}};
        setting = solved->setting; // unconverged, it is still written: the copy's reading decides
        const double reduction = analysis.predict(setting).maxReduction;
        if (reduction > Limiter::mostReduction + 1e-9)
            return encodedOver
                       ? CopyOutcome{CopyOutcome::Failed{encodedLimitOverMessage(
                             encodedOver->encoding, encodedOver->truePeak, reduction, spec)}}
                       : CopyOutcome{
                             CopyOutcome::Refused{tooMuchReductionMessage(reduction, spec)}};
        LimitedCopy written = writeLimited(original, findings, digest, analysis, setting, spec,
                                           outputFolder, dualMono, isCancelled, format);
        const LoudnessResult& copy = written.result;
        const auto& encoding = written.copy.encoding();
        if (pass == writes && encoding && encoding->lossy && fails(copy, spec))
            return stillFails(written.copy, copy, spec, writes - 1);
        if (landed(copy, spec) || pass == writes || !copy.integrated || !copy.truePeak)
            return written.commit();
        // The copy that missed is dropped with `written`. Aim as far off the other way as the
        // prediction missed; hold the peaks lower by what they went over.
        aim += spec.target - aimBelowTarget - *copy.integrated;
        const double over = *copy.truePeak - spec.ceiling(spec.target);
        if (over > 0)
            setting.threshold -= over + 0.02;
        if (over > 0 && encoding && encoding->lossy)
            encodedOver = Overshoot{encoding->name, *copy.truePeak};
        if (setting.threshold - plainGain - room - 1 < floor)
            analysis = read(); // peaks once under the floor may now need holding
    }
}

} // namespace

bool limiterTakes(const std::optional<LoudnessResult>& result, const DeliverySpec& spec) {
    if (!result || !result->integrated || !result->truePeak ||
        spec.measure != DeliverySpec::Measure::loudness)
        return false;
    const auto plan = fixPlanFor(result, spec);
    if (!plan)
        return false;
    if (const auto* refused = std::get_if<FixPlan::Refused>(&plan->value))
        return refused->needsLimiter;
    const auto* gain = std::get_if<FixPlan::Gain>(&plan->value);
    return gain && gain->note;
}

std::optional<std::string> limiterRefusal(const LoudnessResult& result, const DeliverySpec& spec) {
    if (!result.integrated || !result.truePeak)
        return std::string(noReadingToLimit);
    // At least this much: limiting lowers the loudness, which asks for a little more gain.
    const double gain = spec.target - aimBelowTarget - *result.integrated;
    const double reduction = *result.truePeak + gain - firstThreshold(spec);
    if (reduction > Limiter::mostReduction)
        return tooMuchReductionMessage(reduction, spec);
    return std::nullopt;
}

std::string limitedLabel(const DeliverySpec& spec) {
    return spec.shortName() + ", limited";
}

CopyOutcome writeLimitedCopy(const std::filesystem::path& original, const LoudnessResult& measured,
                             const DeliverySpec& spec,
                             const std::optional<std::filesystem::path>& outputFolder,
                             bool dualMono, const CancelCheck& isCancelled,
                             GainWriter::CopyFormat format, const std::vector<Finding>& findings) {
    return outcomeOf([&] {
        return limit(original, findings, measured, spec, outputFolder, dualMono, isCancelled,
                     format);
    });
}

} // namespace tavrin::Workflow
