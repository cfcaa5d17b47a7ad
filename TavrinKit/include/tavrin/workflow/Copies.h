#pragma once

#include "tavrin/copies/GainWriter.h"
#include "tavrin/copies/Limiter.h"
#include "tavrin/core/Cancellation.h"
#include "tavrin/core/Finding.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/rules/DeliverySpec.h"

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

/// Fixed copies as the desktop app and the command-line tool both write them: by gain, in the
/// original's format or as WAV, limited where gain alone can't, or found again from earlier.
namespace tavrin::Workflow {

/// The result of writing one fixed copy and measuring it again.
struct CopyOutcome {
    struct Written {
        std::filesystem::path copy;
        LoudnessResult result;
        std::optional<Limiter::Summary> limiting{}; ///< only for a limited copy
        std::optional<GainWriter::Encoding>
            encoding{};         ///< only for a copy in the original's format
        bool ofDamaged = false; ///< the original was damaged: the copy was made anyway
        double gain = 0;        ///< dB, as written (under the limiting, for a limited copy)
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

} // namespace tavrin::Workflow
