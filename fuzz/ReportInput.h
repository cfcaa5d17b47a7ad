#pragma once

// Report rows made from fuzz input: arbitrary texts, and readings that the meter could give.

#include "tavrin/reports/ReportRow.h"
#include "tavrin/rules/DeliverySpec.h"

#include <cmath>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace tavrin::fuzz {

/// An optional finite number: the meter never reports anything else.
inline std::optional<double> maybeNumber(FuzzedDataProvider& in) {
    if (!in.ConsumeBool())
        return std::nullopt;
    const double value = in.ConsumeFloatingPoint<double>();
    return std::isfinite(value) ? std::optional(value) : std::nullopt;
}

inline std::optional<std::string> maybeText(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? std::optional(in.ConsumeRandomLengthString(200)) : std::nullopt;
}

inline ReportRow reportRow(FuzzedDataProvider& in) {
    ReportRow row;
    row.name = in.ConsumeRandomLengthString(200);
    row.folder = in.ConsumeRandomLengthString(200);
    row.format = in.ConsumeRandomLengthString(60);
    if (in.ConsumeBool()) {
        LoudnessResult r;
        r.integrated = maybeNumber(in);
        r.loudnessRange = maybeNumber(in);
        r.maxMomentary = maybeNumber(in);
        r.maxShortTerm = maybeNumber(in);
        r.samplePeak = maybeNumber(in);
        r.truePeak = r.samplePeak ? std::optional(*r.samplePeak + in.ConsumeProbability<double>())
                                  : std::nullopt;
        r.duration = in.ConsumeFloatingPointInRange<double>(0, 1e9);
        r.sampleRate = in.ConsumeIntegralInRange(1, 1 << 20);
        r.channels = in.ConsumeIntegralInRange(1, 64);
        row.result = r;
    }
    row.error = maybeText(in);
    row.fix = maybeText(in);
    for (int i = in.ConsumeIntegralInRange(0, 2); i > 0; --i)
        row.findings.push_back({static_cast<Finding::Kind>(in.ConsumeIntegralInRange(0, 6)), 1,
                                std::nullopt, in.ConsumeRandomLengthString(200)});
    row.damage = in.ConsumeBool() ? DamagePolicy::fail : DamagePolicy::warn;
    return row;
}

inline const DeliverySpec& deliverySpec(FuzzedDataProvider& in) {
    const auto& all = DeliverySpec::all();
    return all[in.ConsumeIntegralInRange<std::size_t>(0, all.size() - 1)];
}

} // namespace tavrin::fuzz
