#pragma once

// Private to TavrinKit: findings as JSON values, for records that hold them among other keys.

#include "tavrin/core/Finding.h"

#include <nlohmann/json.hpp>
#include <vector>

namespace tavrin {

/// The array findingsJson() writes, as a value.
nlohmann::ordered_json findingsToJson(const std::vector<Finding>& findings);
/// The findings in such an array; entries it doesn't understand are skipped, and anything but an
/// array gives none.
std::vector<Finding> findingsFromJson(const nlohmann::json& json);

} // namespace tavrin
