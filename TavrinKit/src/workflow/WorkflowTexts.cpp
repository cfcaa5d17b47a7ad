#include "tavrin/workflow/WorkflowTexts.h"

#include "core/Joined.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/rules/RuleTexts.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/Session.h"

#include <system_error>

namespace tavrin::Workflow {

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

std::string limiterRefusedMessage(int count) {
    return std::to_string(count) + (count == 1 ? " file would" : " files would") +
           " need more peak reduction than the limiter takes; the Fix column says how much.";
}

std::string fixTextWritten(const CopyOutcome::Written& written) {
    std::string text = written.copy.filename().string() + ": " +
                       Fmt::number(written.result.integrated, false, "—") + " LUFS, " +
                       Fmt::number(written.result.truePeak, true, "—") + " dBTP";
    if (const auto& limiting = written.limiting)
        text += "; limited by up to " + Fmt::oneDecimal(limiting->maxReduction) + " dB for " +
                Fmt::oneDecimal(limiting->seconds) + " s";
    if (written.encoding) {
        text += "; " + written.encoding->name;
        if (const auto& lost = written.encoding->notCarried; !lost.empty())
            text += "; " + std::to_string(lost.size()) + (lost.size() == 1 ? " tag" : " tags") +
                    " not carried: " + joined(lost, ", ");
    }
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

std::string cantReadFileMessage(std::string_view name, const std::error_code& error) {
    return std::string(name) + " couldn’t be read (" + error.message() + ").";
}

std::string sessionNotASessionMessage(std::string_view name) {
    return std::string(name) + " isn’t a Tavrin session.";
}

std::string sessionTooNewMessage(std::string_view name, long long version) {
    return std::string(name) + " was saved by a newer Tavrin (session version " +
           std::to_string(version) + "); this one opens sessions of version " +
           std::to_string(Session::version) + ".";
}

std::string sessionDamagedMessage(std::string_view name, std::string_view where) {
    return std::string(name) + " is damaged: " + std::string(where) +
           " isn’t what a session holds there.";
}

std::string sessionCantSaveMessage(const std::filesystem::path& path,
                                   const std::error_code& error) {
    return path.filename().string() + " couldn’t be saved in " + path.parent_path().string() +
           " (" + error.message() + ").";
}

std::string missingMessage(const std::filesystem::path& file) {
    return "Missing: " + file.string();
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

std::string tooMuchReductionMessage(double reduction, const DeliverySpec& spec) {
    return "Reaching " + Fmt::number(spec.target, false) + " LUFS would need " +
           Fmt::oneDecimal(reduction) + " dB of peak reduction to hold the " +
           Fmt::number(spec.ceiling(spec.target), false) +
           " dBTP ceiling; Tavrin’s limiter takes " + Fmt::oneDecimal(Limiter::mostReduction) +
           " dB off the peaks at most.";
}

std::string encodedLimitOverMessage(std::string_view encoding, double truePeak, double reduction,
                                    const DeliverySpec& spec) {
    return "Encoded as " + std::string(encoding) + ", the limited copy’s true peak came out at " +
           Fmt::number(truePeak, true) + " dBTP, over the " +
           Fmt::number(spec.ceiling(spec.target), false) +
           " dBTP ceiling; holding it under would need " + Fmt::oneDecimal(reduction) +
           " dB of peak reduction, and Tavrin’s limiter takes " +
           Fmt::oneDecimal(Limiter::mostReduction) +
           " dB at most. A WAV copy keeps the peaks where the limiter holds them.";
}

std::string encodedStillFailsMessage(std::string_view encoding, int corrections,
                                     std::string_view summary) {
    return "Encoded as " + std::string(encoding) + ", the copy still fails after " +
           std::to_string(corrections) + " more encodes (" + std::string(summary) +
           "); no copy was kept.";
}

std::string encodedPeakNeedsLimiterMessage(std::string_view encoding,
                                           std::optional<double> truePeak, double ceiling,
                                           double loudness, const DeliverySpec& spec) {
    const RuleTexts::Units units = RuleTexts::unitsOf(spec);
    const std::string unit = " " + std::string(units.peakUnit);
    return "Encoded as " + std::string(encoding) + ", the copy’s " + std::string(units.peak) +
           " is " + Fmt::number(truePeak, true, "—") + unit + ", over the " +
           Fmt::number(ceiling, false) + unit +
           " ceiling; holding it under would leave the copy at " + Fmt::number(loudness, false) +
           " " + std::string(units.level) + ", outside the ±" + Fmt::oneDecimal(spec.tolerance) +
           " " + std::string(units.difference) + " tolerance." +
           (spec.measure == DeliverySpec::Measure::loudness ? " It needs a limiter first." : "");
}

NumberWords numberWords(CustomNumber number) {
    switch (number) {
    case CustomNumber::target:
        return {"The target", "LUFS"};
    case CustomNumber::tolerance:
        return {"The tolerance", "LU"};
    case CustomNumber::maxTruePeak:
        return {"The true-peak ceiling", "dBTP"};
    case CustomNumber::louderMaxTruePeak:
        return {"The true-peak ceiling when louder than the target", "dBTP"};
    case CustomNumber::maxLoudnessRange:
        return {"The loudness range limit", "LU"};
    case CustomNumber::maxShortTerm:
        return {"The short-term limit", "LUFS"};
    case CustomNumber::maxMomentary:
        return {"The momentary limit", "LUFS"};
    case CustomNumber::maxSamplePeak:
        break;
    }
    return {"The sample-peak limit", "dBFS"};
}

std::string customNumberOutOfRange(CustomNumber number, double low, double high, double value) {
    const auto [what, unit] = numberWords(number);
    return std::string(what) + " must be between " + Fmt::number(low, false) + " and " +
           Fmt::number(high, false) + " " + std::string(unit) + " (it was " +
           Fmt::number(value, false) + ").";
}

std::string targetFileProblem(const std::filesystem::path& file, std::string_view problem) {
    return file.filename().string() + " isn’t a target Tavrin can use: " + std::string(problem);
}

std::string targetKeyProblem(std::string_view key, std::string_view problem) {
    return "“" + std::string(key) + "” " + std::string(problem);
}

} // namespace tavrin::Workflow
