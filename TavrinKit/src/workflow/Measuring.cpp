#include "tavrin/workflow/Measuring.h"

#include "tavrin/core/AudioFileError.h"
#include "tavrin/workflow/WorkflowTexts.h"
#include "workflow/CopySteps.h"

#include <algorithm>
#include <new>

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

} // namespace

FileMeasurement measureWithStep(const std::filesystem::path& file, bool dualMono,
                                const ProgressFn& progress, const CancelCheck& isCancelled,
                                bool withTimeline) {
    const MeasuringStep& step = measuringStep();
    return step ? step(file, dualMono, progress, isCancelled)
                : AudioFileMeter::measure(file, dualMono, progress, isCancelled, withTimeline);
}

void replaceMeasuringStepForTesting(MeasuringStep step) {
    measuringStep() = std::move(step);
}

Reading measure(const std::filesystem::path& file, bool dualMono, const ProgressFn& progress,
                const CancelCheck& isCancelled, bool withTimeline) {
    const auto stamp = Session::sizeAndTimeOf(file);
    const auto failed = [&stamp](std::string_view sentence) {
        return Reading{{}, std::nullopt, std::string(sentence), {}, {}, {}, stamp};
    };
    try {
        auto measurement = measureWithStep(file, dualMono, progress, isCancelled, withTimeline);
        auto findings = findingsOf(measurement);
        return {std::move(measurement.format),
                measurement.result,
                std::nullopt,
                std::move(findings),
                std::move(measurement.provenance),
                std::move(measurement.timeline),
                stamp};
    } catch (const Cancelled&) {
        throw;
    } catch (const AudioFileError& error) {
        return failed(error.what());
    } catch (const std::bad_alloc&) {
        return failed(AudioFileError::outOfMemory);
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
