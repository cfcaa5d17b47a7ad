#pragma once

#include "tavrin/core/Finding.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/rules/RuleTexts.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// Whether one measurement meets one delivery spec, and why not, in sentences shown as they are.
/// Loudness and true peak are compared after rounding to the one decimal the user sees, so a
/// value displayed as within tolerance always passes. Recomputed wherever needed; never stored.
struct Verdict {
    enum class Status { pass, fail, unmeasurable };

    Status status = Status::unmeasurable;
    std::optional<double> delta{}; ///< LU, rounded loudness minus target; absent when unmeasurable
    bool loudnessOK = false;       ///< within tolerance; false when unmeasurable
    bool peakOK = true;            ///< at or under `ceiling`; true when unmeasurable
    double ceiling = 0;            ///< dBTP, the ceiling that was applied
    /// Loudness first, then true peak, then each further limit; one when unmeasured.
    std::vector<std::string> problems{};
    bool limitsOK = true; ///< within the spec's further limits; true when unmeasurable

    bool operator==(const Verdict&) const = default;

    /// Whether a reading is over a further limit, compared rounded as it is shown; a missing
    /// reading or limit never is.
    static bool overLimit(std::optional<double> value, std::optional<double> most);

    /// Whether loudness and true peak, the two that gain and the limiter aim at, are met.
    bool levelOK() const { return status != Status::unmeasurable && loudnessOK && peakOK; }

    /// Judges `result` against `spec`, on its reading alone. Pure; never fails.
    static Verdict make(const LoudnessResult& result, const DeliverySpec& spec);
    /// The same with `findings`: under DamagePolicy::fail, damage fails the file whatever its
    /// loudness (or its lack of a reading), and comes first among the problems.
    static Verdict make(const LoudnessResult& result, const DeliverySpec& spec,
                        const std::vector<Finding>& findings, DamagePolicy damage);

    /// The status label alone when there is nothing to explain, otherwise the label, ": " and the
    /// problems joined with "; ", e.g. "Fail: 0.6 LU too quiet; true peak −0.9 dBTP is over
    /// −1.0 dBTP".
    std::string summary() const;
};

/// One further limit of a spec beside the reading it holds down.
struct LimitReading {
    RuleTexts::Limit limit;
    std::optional<double> most;  ///< absent when the spec sets none
    std::optional<double> value; ///< absent when there is no reading
    bool movesWithGain;          ///< all but the loudness range
};
/// Every further limit of `spec` with `result`'s reading, in the order problems are told.
std::array<LimitReading, 5> limitReadings(const LoudnessResult& result, const DeliverySpec& spec);

/// The display word: "Pass", "Fail" or "No reading".
std::string_view label(Verdict::Status status);

/// "pass", "fail" or "unmeasurable": the status's coded form.
std::string_view rawValue(Verdict::Status status);
/// The status whose raw value is `raw`, or nothing.
std::optional<Verdict::Status> statusFromRawValue(std::string_view raw);

} // namespace tavrin
