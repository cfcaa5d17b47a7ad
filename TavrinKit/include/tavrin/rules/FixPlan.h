#pragma once

#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/rules/DeliverySpec.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavrin {

/// What a gain-only fix would do to a file: a gain with the loudness and true peak the copy is
/// predicted to have, a refusal saying why gain alone can't make it pass, or nothing to do.
struct FixPlan {
    /// Apply `gain`; the copy should measure `loudness` integrated and `truePeak` true peak (or the
    /// RMS level and sample peak, for a spec measured so).
    struct Gain {
        double gain = 0;                   ///< dB
        double loudness = 0;               ///< LUFS, predicted
        double truePeak = 0;               ///< dBTP, predicted, unrounded
        std::optional<std::string> note{}; ///< only for a partial fix short of the target
        /// What the copy will still fail, gain being unable to fix it, a whole sentence each.
        std::vector<std::string> unfixed{};
        std::string_view unit = "LUFS"; ///< what `loudness` is in
        bool operator==(const Gain&) const = default;

        /// The note and what stays unfixed, as one text; absent when there is neither.
        std::optional<std::string> remark() const;
    };
    /// No gain-only fix; `message` explains why in full sentences.
    struct Refused {
        std::string message;
        bool needsLimiter = false; ///< gain alone would push the true peak over the ceiling
        bool operator==(const Refused&) const = default;

        /// The message, and for a file that needs a limiter how to reach one where it is read,
        /// `limiterCommand` being limiterInApp or limiterInCommandLine: "… It needs a limiter
        /// first: Fix with Limiter can bring it there."
        std::string text(std::string_view limiterCommand) const;
    };
    /// How the limiter is reached in the app, and from the command line.
    static constexpr std::string_view limiterInApp = "Fix with Limiter";
    static constexpr std::string_view limiterInCommandLine = "`fix --limiter`";
    /// The file already meets the spec.
    struct AlreadyPasses {
        bool operator==(const AlreadyPasses&) const = default;
    };

    std::variant<Gain, Refused, AlreadyPasses> value;

    /// dB of headroom a partial fix keeps under the ceiling.
    static constexpr double margin = 0.1;

    bool operator==(const FixPlan&) const = default;

    /// Plans the fix of `result` for `spec`: gain aims at loudness and true peak, and the plan
    /// names each further limit the copy would still be over. A file over those limits alone is
    /// refused. Pure; never fails.
    static FixPlan make(const LoudnessResult& result, const DeliverySpec& spec);

    /// The fix column's short text: "+3.4 dB → −16.6 LUFS (short of target)",
    /// "Can't fix with gain alone" or "Already passes".
    std::string label() const;
};

} // namespace tavrin
