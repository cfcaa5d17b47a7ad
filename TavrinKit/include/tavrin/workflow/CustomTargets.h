#pragma once

#include "tavrin/rules/DeliverySpec.h"

#include <optional>
#include <string>
#include <string_view>

/// Targets outside the presets: their numbers checked, named and stored by id.
namespace tavrin::Workflow {

/// The numbers of a custom or named target: the three every target has, then the optional ones.
enum class CustomNumber {
    target,
    tolerance,
    maxTruePeak,
    louderMaxTruePeak,
    maxLoudnessRange,
    maxShortTerm,
    maxMomentary,
    maxSamplePeak,
};

/// Why `value` can't be that number of a target, as a whole sentence ("The target must be
/// between −50.0 and −5.0 LUFS (it was −100.0)."); absent when it can. The ranges are −50…−5
/// LUFS, 0…5 LU, −20…0 dBTP for either ceiling, 1…40 LU for the range, −50…0 LUFS for the
/// short-term and momentary maxima and −30…0 dBFS for the sample peak.
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

} // namespace tavrin::Workflow
