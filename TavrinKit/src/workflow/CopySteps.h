#pragma once

// Private to the workflow group: the steps writing a fixed copy and a limited copy share.

#include "tavrin/copies/GainWriter.h"
#include "tavrin/copies/Limiter.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/core/Cancellation.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/workflow/Copies.h"
#include "tavrin/workflow/WorkflowTexts.h"

#include <filesystem>
#include <new>
#include <optional>
#include <vector>

namespace tavrin::Workflow {

/// AudioFileMeter::measure, unless a test replaced the measuring step.
FileMeasurement measureWithStep(const std::filesystem::path& file, bool dualMono,
                                const ProgressFn& progress, const CancelCheck& isCancelled,
                                bool withTimeline = false);

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
        return {CopyOutcome::Failed{std::string(AudioFileError::outOfMemoryWriting)}};
    } catch (...) {
        return {CopyOutcome::Failed{std::string(internalCopyError)}};
    }
}

/// A copy still under its temporary name, measured again.
LoudnessResult measurePending(const GainWriter::PendingCopy& copy, bool dualMono,
                              const CancelCheck& isCancelled);

/// The record a copy of `original`, in which `findings` were found, carries once `digest` has the
/// original's SHA-256.
GainWriter::RecordFn provenanceRecord(const std::filesystem::path& original,
                                      const std::vector<Finding>& findings,
                                      const BackgroundDigest& digest, const DeliverySpec& spec,
                                      double gain, std::optional<Limiter::Summary> limiting);

/// Whether a copy as measured misses what it was written for: the loudness or true peak of `spec`.
/// Limits gain leaves as they were don't count against it.
bool fails(const LoudnessResult& copy, const DeliverySpec& spec);

/// Why an encoded copy that fails `spec` after its last encode, `corrections` after the first, is
/// not kept.
CopyOutcome stillFails(const GainWriter::PendingCopy& copy, const LoudnessResult& result,
                       const DeliverySpec& spec, int corrections);

} // namespace tavrin::Workflow
