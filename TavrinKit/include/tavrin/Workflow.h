#pragma once

#include "tavrin/AudioFileMeter.h"
#include "tavrin/AudioTypes.h"
#include "tavrin/Cancellation.h"
#include "tavrin/DeliverySpec.h"
#include "tavrin/Finding.h"
#include "tavrin/FixPlan.h"
#include "tavrin/GainWriter.h"
#include "tavrin/Limiter.h"
#include "tavrin/LoudnessResult.h"
#include "tavrin/Provenance.h"
#include "tavrin/ReportRow.h"
#include "tavrin/Timeline.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

/// The user-interface-free steps of checking and fixing a list of files, shared by the desktop
/// app and the command-line tool so both say and do exactly the same.
namespace tavrin::Workflow {

/// How many files to measure at once on a machine with `processors` processors: half of them,
/// at least 1 and at most 4, so measuring leaves room for the rest of the machine.
int measuringWidth(unsigned processors);

/// What measuring one file gave: its format and result, or the sentence saying why there is none.
struct Reading {
    std::string format; ///< empty unless the file was measured
    std::optional<LoudnessResult> result;
    std::optional<std::string> error;
    /// What is wrong with the file: its own findings, then, for a copy of damaged audio, the
    /// damage found in its original (Finding::fromOriginal).
    std::vector<Finding> findings{};
    /// The record of the original, when the file is a copy Tavrin wrote.
    std::optional<Provenance> provenance{};
    /// Loudness over time, when it was asked for and the file was measured.
    std::shared_ptr<const Timeline> timeline{};
    bool operator==(const Reading&) const = default;
};

/// Measures one file, turning a file it can't read into a Reading with the reader's sentence, and
/// any other fault into a Reading with `internalMeasuringError`. Throws only Cancelled, when
/// `isCancelled` stops the work. With `withTimeline`, the reading carries the file's loudness
/// over time as well (never while a test replaces the measuring step).
Reading measure(const std::filesystem::path& file, bool dualMono, const ProgressFn& progress = {},
                const CancelCheck& isCancelled = {}, bool withTimeline = false);

/// What a file's reading or a copy's outcome says when Tavrin itself failed, not the file: no
/// library or exception text reaches the user.
inline constexpr std::string_view internalMeasuringError =
    "Tavrin couldn’t measure this file because of an internal error.";
inline constexpr std::string_view internalCopyError =
    "Tavrin couldn’t write the copy because of an internal error.";

/// How a file is measured: AudioFileMeter::measure. Replaceable by tests only, to prove that a
/// fault no real file causes still ends as a failed reading; an empty function restores it. Set it
/// before any measuring starts.
using MeasuringStep = std::function<FileMeasurement(const std::filesystem::path&, bool dualMono,
                                                    const ProgressFn&, const CancelCheck&)>;
void replaceMeasuringStepForTesting(MeasuringStep step);

/// The plan of a fix for a file that fails `spec` (the only files a fix takes); absent for a file
/// that passes, has no reading or could not be read.
std::optional<FixPlan> fixPlanFor(const std::optional<LoudnessResult>& result,
                                  const DeliverySpec& spec);

/// The notice when a selection holds no audio file at all.
inline constexpr std::string_view noAudioFilesNotice =
    "No audio files there. Tavrin reads WAV, AIFF, MP3, M4A/AAC, FLAC and CAF.";

/// Why a path the user named gave no audio file, ending "; skipped.": "Nothing at take.wav;
/// skipped.", "Locked can’t be read (Permission denied); skipped."
std::string unusableMessage(const AudioTypes::Unusable& unusable);

/// The three numbers of a custom spec.
enum class CustomNumber { target, tolerance, maxTruePeak };

/// Why `value` can't be that number of a custom spec, as a whole sentence ("The target must be
/// between −50.0 and −5.0 LUFS (it was −100.0)."); absent when it can. The ranges are −50…−5
/// LUFS, 0…5 LU and −20…0 dBTP.
std::optional<std::string> customNumberProblem(CustomNumber number, double value);

/// A delivery spec for a target outside the presets, named after its numbers ("−19.0 LUFS"), with
/// an id built from all three ("custom:-19.0:1.0:-1.0") so that two custom targets keep their
/// fixes apart; usable wherever a preset is. The tolerance defaults to 1.0 LU (then marked as
/// ours) and the true-peak ceiling to −1.0 dBTP. Throws std::invalid_argument with a whole
/// sentence when a number is outside the range any delivery uses.
DeliverySpec customSpec(double target, std::optional<double> tolerance,
                        std::optional<double> maxTruePeak);

/// The custom spec whose id is `id` (as `customSpec` builds it); absent when `id` is not such an
/// id or one of its numbers is out of range. Ids come back from stored settings, so anything is
/// possible.
std::optional<DeliverySpec> customSpecForId(std::string_view id);

/// The preset whose id is `id`, else the custom spec it names, else absent.
std::optional<DeliverySpec> specForId(std::string_view id);

/// Alert titles of the fix run.
inline constexpr std::string_view fixedCopiesTitle = "Fixed copies";
inline constexpr std::string_view nothingToFixTitle = "Nothing to fix";
inline constexpr std::string_view cantFixTitle = "Can’t fix with gain alone";
/// Alert title when a report can't be written.
inline constexpr std::string_view cantSaveReportTitle = "Couldn’t save the report";
/// Why a report was not saved when drawing it gave nothing, or Tavrin itself failed.
inline constexpr std::string_view reportNotDrawn =
    "The report couldn’t be drawn, so nothing was saved.";
inline constexpr std::string_view internalReportError =
    "Tavrin couldn’t write the report because of an internal error; nothing was saved.";

/// Why nothing was fixed: the candidates were the selected rows (`fromSelection`) or all rows,
/// of which `passing` pass and `withoutReading` have no reading, so the sentence agrees with the
/// tally ("No file has a reading.").
std::string nothingToFixMessage(const DeliverySpec& spec, bool fromSelection, int passing,
                                int withoutReading);
/// Why nothing was fixed when the only failing files, `count` of them, fail for their damage
/// alone, which no gain mends.
std::string onlyDamageFailsMessage(int count);
/// Every candidate was refused: they need a limiter before gain can reach the target.
std::string cantFixMessage(const DeliverySpec& spec);
/// How a folder is named in a sentence: its last name, or the whole path for a root such as "/".
std::string folderName(const std::filesystem::path& folder);
/// What became of the candidates of a fix run.
struct FixRunCounts {
    int written = 0;      ///< copies written
    int jobs = 0;         ///< copies attempted
    int skipped = 0;      ///< candidates refused: gain alone can't fix them
    int kept = 0;         ///< copies made earlier, found and kept instead of written
    int notStarted = 0;   ///< no copy: the run was stopped, or they were removed from it
    int damaged = 0;      ///< damaged candidates left alone
    int ofDamaged = 0;    ///< copies written of damaged audio (fixed anyway)
    int stillFailing = 0; ///< copies written that still fail (a limited copy's last write)
};
/// The summary of a fix run whose copies went to `outputFolder` (absent: next to the originals).
std::string fixedCopiesMessage(const FixRunCounts& counts,
                               const std::optional<std::filesystem::path>& outputFolder);
/// Alert title when every candidate was damaged and left alone.
inline constexpr std::string_view damagedNotFixedTitle = "Damaged audio not fixed";
/// Why `count` damaged candidates got no copy: "2 damaged files were left alone; fix them at the
/// source, or fix anyway."
std::string damagedLeftMessage(int count);
/// The reports' Fix column for a damaged file that a fix leaves alone, naming its first damage:
/// "Not fixed: the audio is damaged (cut off at 0:01). Fix it at the source, or fix anyway."
std::string fixTextDamaged(const std::vector<Finding>& findings);

/// The result of writing one fixed copy and measuring it again.
struct CopyOutcome {
    struct Written {
        std::filesystem::path copy;
        LoudnessResult result;
        std::optional<Limiter::Summary> limiting{}; ///< only for a limited copy
        std::optional<GainWriter::Encoding>
            encoding{};         ///< only for a copy in the original's format
        bool ofDamaged = false; ///< the original was damaged: the copy was made anyway
        bool operator==(const Written&) const = default;
    };
    struct Failed {
        std::string message; ///< the writer's or meter's whole sentence
        bool operator==(const Failed&) const = default;
    };
    /// Nothing was written because the limiter won't take the file, found only once it was read:
    /// a refusal like any other, not a failure.
    struct Refused {
        std::string message;
        bool operator==(const Refused&) const = default;
    };
    std::variant<Written, Failed, Refused> value;
    bool operator==(const CopyOutcome&) const = default;
};

/// Writes `original` with `gain` dB as a new file named after `spec` (in `outputFolder`, or next
/// to the original), in `format`, with its provenance record (naming `findings`, the original's),
/// and measures the copy while it is still a hidden temporary: only a copy that is kept ever
/// appears under its name, the next free one when another program took the first meanwhile.
/// Failures become Failed (any fault of Tavrin's own with `internalCopyError`) and leave nothing
/// behind; so does Cancelled, which propagates. Encoding raises true peaks and can move the
/// loudness: an MP3 or AAC copy that reads more than 0.2 LU off the target, or whose true peak
/// comes within 0.2 dB of the ceiling, is encoded again (at most twice) with the gain moved by what
/// its loudness missed or lowered by what its peak came too close, whichever is lower. A copy that
/// passes is kept even short of that; one that still fails, or could only be held under the
/// ceiling outside the tolerance, is not, and Failed says why.
CopyOutcome writeFixedCopy(const std::filesystem::path& original, double gain,
                           const DeliverySpec& spec,
                           const std::optional<std::filesystem::path>& outputFolder, bool dualMono,
                           const CancelCheck& isCancelled = {},
                           GainWriter::CopyFormat format = GainWriter::CopyFormat::wav,
                           const std::vector<Finding>& findings = {});

/// Whether the limiter takes a file: it fails `spec` with a loudness and true-peak reading, and
/// gain alone can't fix it fully (its plan is refused, or a gain that stops short of the target).
/// Gain alone fixes every other failing file, and those are never limited.
bool limiterTakes(const std::optional<LoudnessResult>& result, const DeliverySpec& spec);

/// How many files the limiter refused, as a sentence that follows a fix run's summary: "2 files
/// would need more peak reduction than the limiter takes; the Fix column says how much."
std::string limiterRefusedMessage(int count);
/// Alert title when the limiter refused every file it took.
inline constexpr std::string_view cantLimitTitle = "Can’t limit";

/// Why the limiter refuses a file it takes, known from its reading alone: it would need more than
/// Limiter::mostReduction of peak reduction, and the sentence says how much. Absent when the
/// limiter can try.
std::optional<std::string> limiterRefusal(const LoudnessResult& result, const DeliverySpec& spec);

/// The label in a limited copy's name: "EBU R 128, limited".
std::string limitedLabel(const DeliverySpec& spec);

/// Writes `original` (whose reading is `measured`) with gain and true-peak limiting as a new file
/// named after limitedLabel(`spec`), in `outputFolder` or next to the original, then measures the
/// copy. The gain is solved so that the copy reads, rounded, between the target − 0.1 and the
/// target, with its true peak at or under the ceiling; when the copy as measured misses, it is
/// written again with the gain and threshold corrected (three writes at most; the last is kept
/// whatever it reads, unless it is an MP3 or AAC copy that fails `spec`: that one is removed and
/// Failed says why). Written carries the limiting summary. A file without a reading, or that
/// would need more than Limiter::mostReduction, becomes Refused with its sentence and nothing is
/// written; other failures as writeFixedCopy. Cancelled propagates and leaves no copy behind.
CopyOutcome writeLimitedCopy(const std::filesystem::path& original, const LoudnessResult& measured,
                             const DeliverySpec& spec,
                             const std::optional<std::filesystem::path>& outputFolder,
                             bool dualMono, const CancelCheck& isCancelled = {},
                             GainWriter::CopyFormat format = GainWriter::CopyFormat::wav,
                             const std::vector<Finding>& findings = {});

/// A copy of `original` made earlier for `spec` by gain alone: among the files named like its
/// copies in the folder copies go to, the first whose provenance record names this original's
/// bytes (its size and SHA-256) and `spec`, and which passes `spec` as measured now. A copy without
/// such a record, of another original, or that fails is never taken for it. Absent when there is
/// none; never fails otherwise. Throws Cancelled when `isCancelled` stops the work.
std::optional<CopyOutcome::Written>
earlierCopy(const std::filesystem::path& original, const DeliverySpec& spec,
            const std::optional<std::filesystem::path>& outputFolder, bool dualMono,
            const CancelCheck& isCancelled = {},
            GainWriter::CopyFormat format = GainWriter::CopyFormat::wav);

/// The reports' Fix column for a written copy: "Interview (Spotify).wav: −14.0 LUFS, −1.2 dBTP",
/// followed for a limited copy by "; limited by up to 4.2 dB for 1.3 s", for a copy in the
/// original's format by its encoding ("; MP3 192 kbps"), and for a copy of damaged audio by
/// "; copy of damaged audio".
std::string fixTextWritten(const CopyOutcome::Written& written);
/// The same for a copy judged against `spec`, followed for one that still fails it by
/// "; still fails: 0.3 LU too loud", as the table marks it.
std::string fixTextWritten(const CopyOutcome::Written& written, const DeliverySpec& spec);
/// The reports' Fix column for a copy that could not be written.
std::string fixTextFailed(std::string_view message);
/// The reports' Fix column for a refused fix, whatever the plan's reason.
inline constexpr std::string_view fixTextRefused =
    "Not fixed: needs a limiter (gain alone would exceed the true-peak ceiling)";

/// The reports' Fix column for a file the limiter refused, with the refusal's sentence.
std::string fixTextNotLimited(std::string_view message);

/// Why a report could not be saved at `path`, in a whole sentence naming the file and the system's
/// reason: "Loudness report.csv couldn’t be written in /srv/out (Permission denied)."
std::string cantSaveReportMessage(const std::filesystem::path& path, const std::error_code& error);
/// Why no report is written over an audio file or a file being checked, naming the report as the
/// user gave it: "--pdf a.flac would replace an audio file; give the report its own name."
std::string reportReplacesAudioMessage(std::string_view named);

/// Why the folder for copies at `path` could not be made, in a whole sentence: "The folder
/// /srv/out couldn’t be created (Permission denied)."
std::string cantCreateFolderMessage(const std::filesystem::path& path,
                                    const std::error_code& error);

/// A report row for `file`: its name, its folder, and what is known about it.
ReportRow reportRow(const std::filesystem::path& file, std::string format,
                    std::optional<LoudnessResult> result, std::optional<std::string> error,
                    std::optional<std::string> fix, std::vector<Finding> findings = {},
                    DamagePolicy damage = DamagePolicy::fail,
                    std::shared_ptr<const Timeline> timeline = {});

} // namespace tavrin::Workflow
