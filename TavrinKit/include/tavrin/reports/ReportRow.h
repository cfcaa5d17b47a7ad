#pragma once

#include "tavrin/core/Finding.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/rules/Verdict.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin {

/// One file as the reports see it, built by the application from its list.
struct ReportRow {
    /// A copy the Fix command wrote of the file, and that is still there.
    struct Copy {
        bool limited = false;
        bool inOriginalFormat = false; ///< encoded like the original (FLAC, ALAC, AAC, MP3)
        bool operator==(const Copy&) const = default;
    };

    std::string name;                         ///< the file's name as listed
    std::string folder;                       ///< the folder holding it, as text
    std::string format;                       ///< the one-line format description
    std::optional<LoudnessResult> result;     ///< absent when not measured or the reading failed
    std::optional<std::string> error;         ///< the message of a failed reading
    std::optional<std::string> fix;           ///< what the Fix command did, as display text
    std::vector<Finding> findings{};          ///< what is wrong with the file
    DamagePolicy damage = DamagePolicy::fail; ///< whether its damage fails it
    /// Loudness over time, for a PDF report with graphs; absent when not gathered.
    std::shared_ptr<const Timeline> timeline{};
    std::optional<Copy> copy{}; ///< the copy `fix` names, when it is on disk

    bool operator==(const ReportRow&) const = default;

    /// The verdict on `result` and the findings against `spec`; absent without a result.
    std::optional<Verdict> verdict(const DeliverySpec& spec) const;
};

} // namespace tavrin
