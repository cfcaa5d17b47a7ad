#pragma once

#include "tavrin/core/Cancellation.h"
#include "tavrin/core/Finding.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/reports/ReportRow.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/rules/FixPlan.h"
#include "tavrin/workflow/FileStamp.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// Measuring files as the desktop app and the command-line tool both do: a reading that never
/// throws for a bad file, the plan of its fix, its report row.
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
    /// The file's size and time as it was measured (no digest); absent when it isn't a file.
    std::optional<Session::FileStamp> stamp{};
    bool operator==(const Reading&) const = default;
};

/// Measures one file, turning a file it can't read into a Reading with the reader's sentence, and
/// any other fault into a Reading with `internalMeasuringError`. Throws only Cancelled, when
/// `isCancelled` stops the work. With `withTimeline`, the reading carries the file's loudness
/// over time as well (never while a test replaces the measuring step).
Reading measure(const std::filesystem::path& file, bool dualMono, const ProgressFn& progress = {},
                const CancelCheck& isCancelled = {}, bool withTimeline = false);

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

/// A report row for `file`: its name, its folder, and what is known about it.
ReportRow reportRow(const std::filesystem::path& file, std::string format,
                    std::optional<LoudnessResult> result, std::optional<std::string> error,
                    std::optional<std::string> fix, std::vector<Finding> findings = {},
                    DamagePolicy damage = DamagePolicy::fail,
                    std::shared_ptr<const Timeline> timeline = {});

} // namespace tavrin::Workflow
