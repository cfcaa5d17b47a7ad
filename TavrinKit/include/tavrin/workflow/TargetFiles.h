#pragma once

#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/CustomTargets.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

/// Named targets as small JSON documents, to keep, share and read back:
/// {"version": 1, "name": "Network X promos", "target": -18.0, "tolerance": 1.0,
///  "maxTruePeak": -2.0} with optional "louderMaxTruePeak", "maxLoudnessRange", "maxShortTerm",
/// "maxMomentary" and "maxSamplePeak".
namespace tavrin::Workflow {

/// A target's number as the spec holds it: absent for a limit it doesn't set.
std::optional<double> targetNumber(const DeliverySpec& spec, CustomNumber number);
/// Sets it; an absent value clears a limit (and is ignored for the three every target has).
void setTargetNumber(DeliverySpec& spec, CustomNumber number, std::optional<double> value);

/// The id of the named target called `name`: "target:Network X promos".
std::string namedTargetId(std::string_view name);
/// Whether `id` is a named target's.
bool isNamedTargetId(std::string_view id);

/// The spec a target document describes. Throws std::invalid_argument with a whole sentence
/// naming the key at fault: an unknown key, a missing one, a value of the wrong kind, a number out
/// of the range any delivery uses (as for custom targets), or another version.
DeliverySpec targetFromJson(std::string_view json);

/// The document for `spec`, the documented keys only, one a line.
std::string targetToJson(const DeliverySpec& spec);

/// The target in `file`, read whole (64 KB at most). Throws std::invalid_argument with a sentence
/// naming the file when it can't be read or isn't a target.
DeliverySpec readTargetFile(const std::filesystem::path& file);

} // namespace tavrin::Workflow
