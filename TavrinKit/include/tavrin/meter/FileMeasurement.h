#pragma once

#include "tavrin/core/Finding.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin {

/// One measured file.
struct FileMeasurement {
    std::filesystem::path url; ///< the measured file, as passed in
    std::string format;        ///< one line, e.g. "WAV · 24-bit · 48 kHz · stereo"
    LoudnessResult result;
    /// What is wrong with the file, found in the same pass: damage first, then warnings, each kind
    /// once, in the order of Finding::Kind.
    std::vector<Finding> findings{};
    /// The record of the original, when the file is a copy Tavrin wrote.
    std::optional<Provenance> provenance{};
    /// Loudness over time, when it was asked for; shared, as it may be large and is never changed.
    std::shared_ptr<const Timeline> timeline{};

    bool operator==(const FileMeasurement&) const = default;
};

} // namespace tavrin
