#include "tavrin/core/Fmt.h"
#include "tavrin/rules/Verdict.h"
#include "tavrin/workflow/Copies.h"
#include "tavrin/workflow/Measuring.h"
#include "workflow/CopySteps.h"

#include <cmath>

namespace tavrin::Workflow {

namespace {

/// Encodes after which a lossy copy that still fails is given up: the first and two corrected.
constexpr int mostEncodes = 3;

/// Where an MP3 or AAC copy should land, in the middle rather than at an edge: its loudness
/// within this many LU of the target, its true peak at least this many dB under the ceiling.
constexpr double encodedAim = 0.2;

/// The gain change that should bring an MP3 or AAC copy where encodedAim says: toward the target
/// by what its loudness missed, or lower by what its true peak came too close to the ceiling,
/// whichever is lower. Absent when the copy is there, or has no loudness reading.
std::optional<double> encodedCorrection(const LoudnessResult& copy, const DeliverySpec& spec) {
    const auto level = spec.level(copy), peak = spec.peak(copy);
    if (!level)
        return std::nullopt;
    const double missed = spec.target - *level;
    double change = std::abs(missed) > encodedAim ? missed : 0;
    const double highest = Verdict::make(copy, spec).ceiling - encodedAim;
    if (peak && *peak > highest)
        change = std::min(change, highest - *peak);
    return change != 0 ? std::optional(change) : std::nullopt;
}

/// Why an encoded copy whose true peak can't be held under the ceiling within the tolerance is
/// not kept.
CopyOutcome peakNeedsLimiter(const GainWriter::PendingCopy& copy, const LoudnessResult& result,
                             const DeliverySpec& spec, double loudness) {
    return {CopyOutcome::Failed{encodedPeakNeedsLimiterMessage(
        copy.encoding().value_or(GainWriter::Encoding{}).name, spec.peak(result),
        Verdict::make(result, spec).ceiling, loudness, spec)}};
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
                    copy.commit(), result, {}, copy.encoding(), anyDamage(findings), gain}};
            };
            if (!change)
                return keep();
            // Short of the middle, a copy that passes is still kept.
            if (encodes == mostEncodes)
                return fails(result, spec) ? stillFails(copy, result, spec, mostEncodes - 1)
                                           : keep();
            // The copy's loudness moves with the gain; it must stay within the tolerance.
            const double loudness = *spec.level(result) + *change;
            if (std::abs(Fmt::round1(loudness) - spec.target) > spec.tolerance + 1e-9)
                return fails(result, spec) ? peakNeedsLimiter(copy, result, spec, loudness)
                                           : keep();
            gain += *change;
        }
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
        if (reading.result && Verdict::make(*reading.result, spec).levelOK())
            return CopyOutcome::Written{copy,
                                        *reading.result,
                                        {},
                                        GainWriter::encoding(original, copy, format),
                                        anyDamage(provenance->findings),
                                        provenance->gain};
    }
    return std::nullopt;
}

} // namespace tavrin::Workflow
