#include "tavrin/Workflow.h"

#include "Joined.h"
#include "WaveHeader.h"
#include "tavrin/AudioFileError.h"
#include "tavrin/Fmt.h"
#include "tavrin/GainWriter.h"
#include "tavrin/Provenance.h"
#include "tavrin/Verdict.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <stdexcept>

namespace tavrin::Workflow {

namespace {

/// A measured file's findings, then the damage its original had when it is a copy of one.
std::vector<Finding> findingsOf(const FileMeasurement& measurement) {
    std::vector<Finding> findings = measurement.findings;
    if (measurement.provenance)
        for (const Finding& finding : measurement.provenance->findings)
            if (finding.isDamage())
                findings.push_back(finding.asOriginal());
    return findings;
}

MeasuringStep& measuringStep() {
    static MeasuringStep step;
    return step;
}

FileMeasurement measureWithStep(const std::filesystem::path& file, bool dualMono,
                                const ProgressFn& progress, const CancelCheck& isCancelled,
                                bool withTimeline = false) {
    const MeasuringStep& step = measuringStep();
    return step ? step(file, dualMono, progress, isCancelled)
                : AudioFileMeter::measure(file, dualMono, progress, isCancelled, withTimeline);
}

} // namespace

void replaceMeasuringStepForTesting(MeasuringStep step) {
    measuringStep() = std::move(step);
}

Reading measure(const std::filesystem::path& file, bool dualMono, const ProgressFn& progress,
                const CancelCheck& isCancelled, bool withTimeline) {
    const auto failed = [](std::string_view sentence) {
        return Reading{{}, std::nullopt, std::string(sentence)};
    };
    try {
        auto measurement = measureWithStep(file, dualMono, progress, isCancelled, withTimeline);
        auto findings = findingsOf(measurement);
        return {std::move(measurement.format),
                measurement.result,
                std::nullopt,
                std::move(findings),
                std::move(measurement.provenance),
                std::move(measurement.timeline)};
    } catch (const Cancelled&) {
        throw;
    } catch (const AudioFileError& error) {
        return failed(error.what());
    } catch (const std::bad_alloc&) {
        return failed(AudioFileMeter::outOfMemory);
    } catch (...) {
        return failed(internalMeasuringError);
    }
}

std::optional<FixPlan> fixPlanFor(const std::optional<LoudnessResult>& result,
                                  const DeliverySpec& spec) {
    if (!result || Verdict::make(*result, spec).status != Verdict::Status::fail)
        return std::nullopt;
    return FixPlan::make(*result, spec);
}

int measuringWidth(unsigned processors) {
    return std::clamp(static_cast<int>(processors / 2), 1, 4);
}

std::string unusableMessage(const AudioTypes::Unusable& unusable) {
    using Reason = AudioTypes::Unusable::Reason;
    const std::string path = unusable.path.string();
    switch (unusable.reason) {
    case Reason::missing:
        return "Nothing at " + path + "; skipped.";
    case Reason::notAudio:
        return path +
               " is not a file Tavrin reads (WAV, AIFF, MP3, M4A/AAC, FLAC or CAF); skipped.";
    case Reason::hidden:
        return path + " is a hidden file; skipped.";
    case Reason::notARegularFile:
        return path + " is not a regular file (a pipe or a device, say); skipped.";
    case Reason::unreadable:
        break;
    }
    return path + " can’t be read (" + unusable.error.message() + "); skipped.";
}

namespace {

/// What a custom spec's number is called in sentences, its unit and the range it must be in:
/// wide enough for every delivery in use, narrow enough to catch a lost sign or a dB slip.
struct CustomRange {
    std::string_view what;
    std::string_view unit;
    double low;
    double high;
};

CustomRange customRange(CustomNumber number) {
    switch (number) {
    case CustomNumber::target:
        return {"The target", "LUFS", -50, -5};
    case CustomNumber::tolerance:
        return {"The tolerance", "LU", 0, 5};
    case CustomNumber::maxTruePeak:
        break;
    }
    return {"The true-peak ceiling", "dBTP", -20, 0};
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
    return std::string(range.what) + " must be between " + Fmt::number(range.low, false) + " and " +
           Fmt::number(range.high, false) + " " + std::string(range.unit) + " (it was " +
           Fmt::number(value, false) + ").";
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
                      .sourceName = "A target given by the user"};
    spec.summary = "A target of your own, for a delivery the presets don’t cover.";
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

std::string nothingToFixMessage(const DeliverySpec& spec, bool fromSelection, int passing,
                                int withoutReading) {
    if (passing == 0)
        return fromSelection ? "None of the selected files has a reading."
                             : "No file has a reading.";
    if (fromSelection)
        return "The selected files pass " + spec.name + " or have no reading.";
    if (withoutReading == 0)
        return "Every measured file passes " + spec.name + ".";
    return "Every file with a reading passes " + spec.name + "; " + std::to_string(withoutReading) +
           (withoutReading == 1 ? " file has none." : " files have none.");
}

std::string onlyDamageFailsMessage(int count) {
    return count == 1 ? "The only failing file fails because its audio is damaged, which gain "
                        "can’t mend; fix it at the source."
                      : std::to_string(count) +
                            " files fail only because their audio is damaged, which gain can’t "
                            "mend; fix them at the source.";
}

std::string cantFixMessage(const DeliverySpec& spec) {
    return "Reaching " + spec.name + "’s target would push the true peak over " +
           Fmt::number(spec.maxTruePeak, false) +
           " dBTP. These files need a limiter first; the Fix column says by how much.";
}

std::string folderName(const std::filesystem::path& folder) {
    // "/x/y/" names y; only a root has no name of its own.
    const auto named = folder.has_filename() ? folder : folder.parent_path();
    return named.has_filename() ? named.filename().string() : folder.string();
}

std::string fixedCopiesMessage(const FixRunCounts& counts,
                               const std::optional<std::filesystem::path>& outputFolder) {
    const auto& [written, jobs, skipped, kept, notStarted, damaged, ofDamaged, stillFailing] =
        counts;
    std::string message =
        std::to_string(written) + (written == 1 ? " copy" : " copies") + " written " +
        (outputFolder ? "to " + folderName(*outputFolder) : std::string("next to the originals")) +
        ", each measured again.";
    if (stillFailing >= 1)
        message += " " + std::to_string(stillFailing) +
                   (stillFailing == 1 ? " of them still fails; the Fix column says why."
                                      : " of them still fail; the Fix column says why.");
    if (ofDamaged >= 1)
        message +=
            " " + std::to_string(ofDamaged) +
            (ofDamaged == 1 ? " is a copy of damaged audio." : " are copies of damaged audio.");
    if (skipped >= 1)
        message += " " + std::to_string(skipped) + (skipped == 1 ? " file" : " files") +
                   " can’t reach the target with gain alone; the Fix column says why.";
    if (damaged >= 1)
        message += " " + damagedLeftMessage(damaged);
    if (kept >= 1)
        message +=
            " " + std::to_string(kept) +
            (kept == 1 ? " copy made earlier was found and kept instead of writing a new one."
                       : " copies made earlier were found and kept instead of writing new "
                         "ones.");
    if (written < jobs)
        message +=
            " " + std::to_string(jobs - written) + " couldn’t be written (see the Fix column).";
    if (notStarted >= 1)
        message += " " + std::to_string(notStarted) + " not started.";
    return message;
}

std::string damagedLeftMessage(int count) {
    return std::to_string(count) + (count == 1 ? " damaged file was" : " damaged files were") +
           " left alone; fix " + (count == 1 ? "it" : "them") + " at the source, or fix anyway.";
}

std::string fixTextDamaged(const std::vector<Finding>& findings) {
    const Finding* damage = firstDamage(findings);
    const std::string what =
        damage && damage->fromOriginal ? "the original was damaged (" : "the audio is damaged (";
    return "Not fixed: " + what + (damage ? damage->brief() : std::string()) +
           "). Fix it at the source, or fix anyway.";
}

namespace {

/// What `write` gives, or the sentence of its failure as a Failed outcome (any fault of Tavrin's
/// own with `internalCopyError`); only Cancelled propagates.
template <typename Write> CopyOutcome outcomeOf(Write write) {
    try {
        return write();
    } catch (const Cancelled&) {
        throw;
    } catch (const AudioFileError& error) {
        return {CopyOutcome::Failed{error.what()}};
    } catch (const std::bad_alloc&) {
        return {CopyOutcome::Failed{std::string(GainWriter::outOfMemory)}};
    } catch (...) {
        return {CopyOutcome::Failed{std::string(internalCopyError)}};
    }
}

/// A copy still under its temporary name, measured again.
LoudnessResult measurePending(const GainWriter::PendingCopy& copy, bool dualMono,
                              const CancelCheck& isCancelled) {
    return measureWithStep(copy.file(), dualMono, {}, isCancelled).result;
}

/// The record a copy of `original`, in which `findings` were found, carries once `digest` has the
/// original's SHA-256.
GainWriter::RecordFn provenanceRecord(const std::filesystem::path& original,
                                      const std::vector<Finding>& findings,
                                      const BackgroundDigest& digest, const DeliverySpec& spec,
                                      double gain, std::optional<Limiter::Summary> limiting) {
    return [&original, &findings, &digest, &spec, gain, limiting] {
        return Provenance::of(original, digest.get(), spec.id, gain, limiting, findings).toJson();
    };
}

} // namespace

namespace {

/// Encodes after which a lossy copy that still fails is given up: the first and two corrected.
constexpr int mostEncodes = 3;

/// Where an MP3 or AAC copy should land, in the middle rather than at an edge: its loudness
/// within this many LU of the target, its true peak at least this many dB under the ceiling.
constexpr double encodedAim = 0.2;

bool fails(const LoudnessResult& copy, const DeliverySpec& spec) {
    return Verdict::make(copy, spec).status == Verdict::Status::fail;
}

/// The gain change that should bring an MP3 or AAC copy where encodedAim says: toward the target
/// by what its loudness missed, or lower by what its true peak came too close to the ceiling,
/// whichever is lower. Absent when the copy is there, or has no loudness reading.
std::optional<double> encodedCorrection(const LoudnessResult& copy, const DeliverySpec& spec) {
    if (!copy.integrated)
        return std::nullopt;
    const double missed = spec.target - *copy.integrated;
    double change = std::abs(missed) > encodedAim ? missed : 0;
    const double highest = Verdict::make(copy, spec).ceiling - encodedAim;
    if (copy.truePeak && *copy.truePeak > highest)
        change = std::min(change, highest - *copy.truePeak);
    return change != 0 ? std::optional(change) : std::nullopt;
}

std::string encodedAs(const GainWriter::PendingCopy& copy) {
    return "Encoded as " + copy.encoding().value_or(GainWriter::Encoding{}).name + ", the copy";
}

/// Why an encoded copy that fails `spec` after its last encode is not kept.
CopyOutcome stillFails(const GainWriter::PendingCopy& copy, const LoudnessResult& result,
                       const DeliverySpec& spec, int corrections) {
    return {CopyOutcome::Failed{encodedAs(copy) + " still fails after " +
                                std::to_string(corrections) + " more encodes (" +
                                Verdict::make(result, spec).summary() + "); no copy was kept."}};
}

/// Why an encoded copy whose true peak can't be held under the ceiling within the tolerance is
/// not kept.
CopyOutcome peakNeedsLimiter(const GainWriter::PendingCopy& copy, const LoudnessResult& result,
                             const DeliverySpec& spec, double loudness) {
    const Verdict verdict = Verdict::make(result, spec);
    return {CopyOutcome::Failed{
        encodedAs(copy) + "’s true peak is " + Fmt::number(result.truePeak, true, "—") +
        " dBTP, over the " + Fmt::number(verdict.ceiling, false) +
        " dBTP ceiling; holding it under would leave the " + "copy at " +
        Fmt::number(loudness, false) + " LUFS, outside the ±" + Fmt::oneDecimal(spec.tolerance) +
        " LU tolerance. It needs a limiter first."}};
}

} // namespace

CopyOutcome writeFixedCopy(const std::filesystem::path& original, double gain,
                           const DeliverySpec& spec,
                           const std::optional<std::filesystem::path>& outputFolder, bool dualMono,
                           const CancelCheck& isCancelled, GainWriter::CopyFormat format,
                           const std::vector<Finding>& findings) {
    return outcomeOf([&]() -> CopyOutcome {
        const BackgroundDigest digest(original);
        for (int encodes = 1;; ++encodes) {
            auto copy = GainWriter::writePending(
                original, spec.shortName(), outputFolder, gain, {},
                provenanceRecord(original, findings, digest, spec, gain, std::nullopt), isCancelled,
                format);
            const LoudnessResult result = measurePending(copy, dualMono, isCancelled);
            const auto change = copy.encoding() && copy.encoding()->lossy
                                    ? encodedCorrection(result, spec)
                                    : std::nullopt;
            const auto keep = [&]() -> CopyOutcome {
                return {CopyOutcome::Written{
                    copy.commit(), result, {}, copy.encoding(), anyDamage(findings)}};
            };
            if (!change)
                return keep();
            // Short of the middle, a copy that passes is still kept.
            if (encodes == mostEncodes)
                return fails(result, spec) ? stillFails(copy, result, spec, mostEncodes - 1)
                                           : keep();
            // The copy's loudness moves with the gain; it must stay within the tolerance.
            const double loudness = *result.integrated + *change;
            if (std::abs(Fmt::round1(loudness) - spec.target) > spec.tolerance + 1e-9)
                return fails(result, spec) ? peakNeedsLimiter(copy, result, spec, loudness)
                                           : keep();
            gain += *change;
        }
    });
}

namespace {

/// Where the limiter aims: the middle of what reads, rounded, between the target − 0.1 and the
/// target.
constexpr double aimBelowTarget = 0.05;
/// dB of gain over the gain-only one that the limiter's first read of a file allows for.
constexpr double firstGainRoom = 3;
/// What a file without a reading gets from the limiter.
constexpr std::string_view noReadingToLimit =
    "There’s no loudness reading, so Tavrin can’t tell how much limiting it would need.";

std::string tooMuchReduction(double reduction, const DeliverySpec& spec) {
    return "Reaching " + Fmt::number(spec.target, false) + " LUFS would need " +
           Fmt::oneDecimal(reduction) + " dB of peak reduction to hold the " +
           Fmt::number(spec.ceiling(spec.target), false) +
           " dBTP ceiling; Tavrin’s limiter takes " + Fmt::oneDecimal(Limiter::mostReduction) +
           " dB off the peaks at most.";
}

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
        return {CopyOutcome::Written{copy.commit(), result, limiting, copy.encoding(), ofDamaged}};
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
    if (const auto solved = analysis.solve(aim, setting.threshold, plainGain + room);
        solved && solved->setting.gain >= plainGain + room - 0.01) {
        room = Limiter::mostReduction;
        analysis = read();
    }
    constexpr int writes = 3;
    for (int pass = 1;; ++pass) {
        const auto solved = analysis.solve(aim, setting.threshold, plainGain + room);
        if (!solved)
            return {CopyOutcome::Refused{std::string(noReadingToLimit)}};
        setting = solved->setting; // unconverged, it is still written: the copy's reading decides
        const double reduction = analysis.predict(setting).maxReduction;
        if (reduction > Limiter::mostReduction + 1e-9)
            return {CopyOutcome::Refused{tooMuchReduction(reduction, spec)}};
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
        if (setting.threshold - plainGain - room - 1 < floor)
            analysis = read(); // peaks once under the floor may now need holding
    }
}

} // namespace

bool limiterTakes(const std::optional<LoudnessResult>& result, const DeliverySpec& spec) {
    if (!result || !result->integrated || !result->truePeak)
        return false;
    const auto plan = fixPlanFor(result, spec);
    if (!plan)
        return false;
    if (std::holds_alternative<FixPlan::Refused>(plan->value))
        return true;
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
        return tooMuchReduction(reduction, spec);
    return std::nullopt;
}

std::string limiterRefusedMessage(int count) {
    return std::to_string(count) + (count == 1 ? " file would" : " files would") +
           " need more peak reduction than the limiter takes; the Fix column says how much.";
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

std::optional<CopyOutcome::Written>
earlierCopy(const std::filesystem::path& original, const DeliverySpec& spec,
            const std::optional<std::filesystem::path>& outputFolder, bool dualMono,
            const CancelCheck& isCancelled, GainWriter::CopyFormat format) {
    for (const auto& copy :
         GainWriter::namedLikeCopies(original, spec.shortName(), outputFolder, format)) {
        const auto provenance = Provenance::read(copy);
        if (!provenance || provenance->preset != spec.id || provenance->limiting ||
            !provenance->isOf(original, isCancelled))
            continue;
        const Reading reading = measure(copy, dualMono, {}, isCancelled);
        if (reading.result && Verdict::make(*reading.result, spec).status == Verdict::Status::pass)
            return CopyOutcome::Written{copy,
                                        *reading.result,
                                        {},
                                        GainWriter::encoding(original, format),
                                        anyDamage(provenance->findings)};
    }
    return std::nullopt;
}

std::string fixTextWritten(const CopyOutcome::Written& written) {
    std::string text = written.copy.filename().string() + ": " +
                       Fmt::number(written.result.integrated, false, "—") + " LUFS, " +
                       Fmt::number(written.result.truePeak, true, "—") + " dBTP";
    if (const auto& limiting = written.limiting)
        text += "; limited by up to " + Fmt::oneDecimal(limiting->maxReduction) + " dB for " +
                Fmt::oneDecimal(limiting->seconds) + " s";
    if (written.encoding)
        text += "; " + written.encoding->name;
    if (written.ofDamaged)
        text += "; copy of damaged audio";
    return text;
}

std::string fixTextWritten(const CopyOutcome::Written& written, const DeliverySpec& spec) {
    const Verdict verdict = Verdict::make(written.result, spec);
    std::string text = fixTextWritten(written);
    if (verdict.status != Verdict::Status::pass)
        text += "; still fails: " + joined(verdict.problems, "; ");
    return text;
}

std::string fixTextNotLimited(std::string_view message) {
    return "Not fixed: " + std::string(message);
}

std::string fixTextFailed(std::string_view message) {
    return "Not written: " + std::string(message);
}

std::string cantSaveReportMessage(const std::filesystem::path& path, const std::error_code& error) {
    return path.filename().string() + " couldn’t be written in " + path.parent_path().string() +
           " (" + error.message() + ").";
}

std::string reportReplacesAudioMessage(std::string_view named) {
    return std::string(named) + " would replace an audio file; give the report its own name.";
}

std::string cantCreateFolderMessage(const std::filesystem::path& path,
                                    const std::error_code& error) {
    // Something that is not a folder stands at the path when there is no error of its own.
    const std::error_code reason = error ? error : std::make_error_code(std::errc::not_a_directory);
    return "The folder " + path.string() + " couldn’t be created (" + reason.message() + ").";
}

ReportRow reportRow(const std::filesystem::path& file, std::string format,
                    std::optional<LoudnessResult> result, std::optional<std::string> error,
                    std::optional<std::string> fix, std::vector<Finding> findings,
                    DamagePolicy damage, std::shared_ptr<const Timeline> timeline) {
    return {file.filename().string(), file.parent_path().string(),
            std::move(format),        std::move(result),
            std::move(error),         std::move(fix),
            std::move(findings),      damage,
            std::move(timeline)};
}

} // namespace tavrin::Workflow
