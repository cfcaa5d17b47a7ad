#pragma once

#include "tavrin/core/AudioTypes.h"
#include "tavrin/core/Finding.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/Copies.h"
#include "tavrin/workflow/CustomTargets.h"
#include "tavrin/workflow/FileStamp.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

/// Every sentence the steps of checking and fixing say to the user, titles of alerts included:
/// the desktop app and the command-line tool both take them from here, so they say the same.
namespace tavrin::Workflow {

/// What a file's reading or a copy's outcome says when Tavrin itself failed, not the file: no
/// library or exception text reaches the user.
inline constexpr std::string_view internalMeasuringError =
    "Tavrin couldn’t measure this file because of an internal error.";
inline constexpr std::string_view internalCopyError =
    "Tavrin couldn’t write the copy because of an internal error.";

/// The notice when a selection holds no audio file at all.
inline constexpr std::string_view noAudioFilesNotice =
    "No audio files there. Tavrin reads WAV, AIFF, MP3, M4A/AAC, FLAC and CAF.";

/// Why a path the user named gave no audio file, ending "; skipped.": "Nothing at take.wav;
/// skipped.", "Locked can’t be read (Permission denied); skipped."
std::string unusableMessage(const AudioTypes::Unusable& unusable);

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

/// How many files the limiter refused, as a sentence that follows a fix run's summary: "2 files
/// would need more peak reduction than the limiter takes; the Fix column says how much."
std::string limiterRefusedMessage(int count);
/// Alert title when the limiter refused every file it took.
inline constexpr std::string_view cantLimitTitle = "Can’t limit";

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

/// What a file without a reading gets from the limiter.
inline constexpr std::string_view noReadingToLimit =
    "There’s no loudness reading, so Tavrin can’t tell how much limiting it would need.";
/// Why the limiter won't take a file: reaching the target would need `reduction` dB.
std::string tooMuchReductionMessage(double reduction, const DeliverySpec& spec);
/// Why a limited copy in a lossy format isn't kept: encoding lifted its true peak to `truePeak`,
/// and holding it under the ceiling would take `reduction` dB, more than the limiter takes.
std::string encodedLimitOverMessage(std::string_view encoding, double truePeak, double reduction,
                                    const DeliverySpec& spec);
/// Why an encoded copy (encoded as `encoding`) that fails after `corrections` more encodes is not
/// kept, with the verdict's `summary`.
std::string encodedStillFailsMessage(std::string_view encoding, int corrections,
                                     std::string_view summary);
/// Why an encoded copy whose true peak (`truePeak` dBTP, over `ceiling`) can't be held under the
/// ceiling without leaving it at `loudness` LUFS, outside `spec`'s tolerance, is not kept.
std::string encodedPeakNeedsLimiterMessage(std::string_view encoding,
                                           std::optional<double> truePeak, double ceiling,
                                           double loudness, const DeliverySpec& spec);

/// Why a custom target's number is refused: "The target must be between −50 and −5 LUFS (it was
/// −60)."
std::string customNumberOutOfRange(CustomNumber number, double low, double high, double value);
/// What a target's number is called in sentences, and its unit.
struct NumberWords {
    std::string_view what; ///< "The loudness range limit"
    std::string_view unit; ///< "LU"
};
NumberWords numberWords(CustomNumber number);

/// Why a target file can't be used: "Promos.json isn’t a target Tavrin can use: …".
std::string targetFileProblem(const std::filesystem::path& file, std::string_view problem);
/// A key's problem in a target document: "“maxShortTerm” isn’t a number."
std::string targetKeyProblem(std::string_view key, std::string_view problem);
inline constexpr std::string_view targetNotAnObject = "It isn’t a JSON object.";
inline constexpr std::string_view targetWrongVersion =
    "Its “version” isn’t 1, the only version this Tavrin reads.";
inline constexpr std::string_view targetUnknownKey = "isn’t a key a target has.";
inline constexpr std::string_view targetMissingKey = "is missing.";
inline constexpr std::string_view targetNotNumber = "isn’t a number.";
inline constexpr std::string_view targetNameProblem =
    "“name” must be text of 1 to 80 characters, without line breaks.";
inline constexpr std::string_view targetTooLarge =
    "It is over 64 KB, far more than a target holds.";
inline constexpr std::string_view namedTargetSource = "A target file";
inline constexpr std::string_view namedTargetSummary =
    "A named target of your own, kept as a file to share.";
/// What a custom target says of itself where a preset names its source.
/// Why a session file can't be opened: it couldn't be read, isn't a session at all, comes from
/// a newer Tavrin, or holds something a session doesn't at `where` ("file 12’s “size”").
std::string cantReadFileMessage(std::string_view name, const std::error_code& error);
std::string sessionNotASessionMessage(std::string_view name);
std::string sessionTooNewMessage(std::string_view name, long long version);
std::string sessionDamagedMessage(std::string_view name, std::string_view where);
/// Alert title when a session can't be opened or saved.
inline constexpr std::string_view cantOpenSessionTitle = "Couldn’t open the session";
inline constexpr std::string_view cantSaveSessionTitle = "Couldn’t save the session";
/// Why a session was not saved: "Day 1.tavrin couldn’t be saved (No space left on device)."
std::string sessionCantSaveMessage(const std::filesystem::path& path, const std::error_code& error);
/// What reopening a session found: an original that changed or is gone, a copy that did.
inline constexpr std::string_view changedSinceSaved = "Changed since the session was saved";
std::string missingMessage(const std::filesystem::path& file);
inline constexpr std::string_view copyMissing = "Copy missing";
inline constexpr std::string_view copyChanged = "Copy changed";
/// What a copy no longer as it was written is called: copyMissing or copyChanged.
inline std::string_view copyNotAsWritten(Session::State state) {
    return state == Session::State::missing ? copyMissing : copyChanged;
}

inline constexpr std::string_view customTargetSource = "A target given by the user";
inline constexpr std::string_view customTargetSummary =
    "A target of your own, for a delivery the presets don’t cover.";

} // namespace tavrin::Workflow
