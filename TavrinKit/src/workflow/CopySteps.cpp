#include "workflow/CopySteps.h"

#include "tavrin/rules/Verdict.h"

namespace tavrin::Workflow {

LoudnessResult measurePending(const GainWriter::PendingCopy& copy, bool dualMono,
                              const CancelCheck& isCancelled) {
    return measureWithStep(copy.file(), dualMono, {}, isCancelled).result;
}

GainWriter::RecordFn provenanceRecord(const std::filesystem::path& original,
                                      const std::vector<Finding>& findings,
                                      const BackgroundDigest& digest, const DeliverySpec& spec,
                                      double gain, std::optional<Limiter::Summary> limiting) {
    return [&original, &findings, &digest, &spec, gain, limiting] {
        return Provenance::of(original, digest.get(), spec.id, gain, limiting, findings).toJson();
    };
}

bool fails(const LoudnessResult& copy, const DeliverySpec& spec) {
    const Verdict verdict = Verdict::make(copy, spec);
    return verdict.status == Verdict::Status::fail && !verdict.levelOK();
}

CopyOutcome stillFails(const GainWriter::PendingCopy& copy, const LoudnessResult& result,
                       const DeliverySpec& spec, int corrections) {
    return {CopyOutcome::Failed{
        encodedStillFailsMessage(copy.encoding().value_or(GainWriter::Encoding{}).name, corrections,
                                 Verdict::make(result, spec).summary())}};
}

} // namespace tavrin::Workflow
