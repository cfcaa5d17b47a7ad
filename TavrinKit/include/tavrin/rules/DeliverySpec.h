#pragma once

#include "tavrin/meter/LoudnessResult.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// One named loudness delivery rule: an integrated-loudness target with a tolerance window and a
/// true-peak ceiling, optionally stricter for programmes louder than the target, and the further
/// limits some deliveries set. The built-in presets, custom and named targets are the specs; `id`
/// identifies one and is what settings store.
struct DeliverySpec {
    /// Limits beyond loudness and true peak, each "at most" and absent when the spec sets none.
    struct Limits {
        std::optional<double> loudnessRange{}; ///< LU
        std::optional<double> shortTerm{};     ///< LUFS, the maximum short-term loudness
        std::optional<double> momentary{};     ///< LUFS, the maximum momentary loudness
        std::optional<double> samplePeak{};    ///< dBFS
        std::optional<double> noiseFloor{};    ///< dB RMS, the quietest 0.5 s
        bool operator==(const Limits&) const = default;
    };
    /// What the target and the ceiling are measured in: integrated loudness and true peak, or
    /// the plain RMS level and the sample peak, as audiobook deliveries have them.
    enum class Measure { loudness, rms };

    std::string id;                         ///< stable key, lower case with hyphens
    std::string name;                       ///< display name
    double target = 0;                      ///< LUFS
    double tolerance = 0;                   ///< LU, inclusive, around the rounded loudness
    double maxTruePeak = 0;                 ///< dBTP
    std::optional<double> louderCeiling{};  ///< dBTP, when louder than `target`
    bool toleranceIsOurs = false;           ///< the publisher names no tolerance; ours is shown
    std::optional<std::string> caution{};   ///< warning when the preset's basis is uncertain
    std::string summary;                    ///< one paragraph for the user
    std::string sourceName;                 ///< title of the published source
    std::optional<std::string> sourceURL{}; ///< link to that source, when there is one
    Limits limits{};
    Measure measure = Measure::loudness;

    bool operator==(const DeliverySpec&) const = default;

    /// The presets, in menu order: EBU R 128, Apple Podcasts, Spotify, YouTube, ATSC A/85 (the five
    /// with shortcuts), then Audiobook (ACX-style), Free TV OP-59 and ARIB TR-B32.
    static const std::vector<DeliverySpec>& all();
    static const DeliverySpec& ebuR128(); ///< the default spec
    static const DeliverySpec& applePodcasts();
    static const DeliverySpec& spotify();
    static const DeliverySpec& youtube();
    static const DeliverySpec& atscA85();

    /// The preset whose `id` is exactly `id` (case matters), or nothing; callers fall back to
    /// `ebuR128()`.
    static std::optional<DeliverySpec> preset(std::string_view id);

    /// The true-peak ceiling (dBTP) for a file of `integrated` loudness: `louderCeiling` when
    /// there is one and the loudness, rounded to one decimal, is strictly above `target`;
    /// otherwise `maxTruePeak`.
    double ceiling(std::optional<double> integrated) const;

    /// The level the target is for: integrated loudness, or the RMS level.
    std::optional<double> level(const LoudnessResult& result) const;
    /// The peak the ceiling is for: true peak, or the sample peak.
    std::optional<double> peak(const LoudnessResult& result) const;

    /// `name` cut before the first " (" with every "/" removed ("ATSC A85"); names fixed copies.
    std::string shortName() const;

    /// The one-line rule, e.g. "−23.0 LUFS ±0.5 LU, true peak ≤ −1.0 dBTP", with the louder
    /// ceiling in parentheses when there is one and then each further limit ("range ≤ 8.0 LU").
    std::string ruleText() const;

    /// JSON object keyed by the field names; absent optionals are omitted.
    std::string toJson() const;
    /// Reads what toJson writes; missing optional keys read as absent. Throws
    /// std::invalid_argument on malformed input or a missing required field.
    static DeliverySpec fromJson(std::string_view json);
};

} // namespace tavrin

/// Combines all fields in order, optionals as a presence flag followed by the value, so
/// that equal specs (including +0.0 and -0.0) hash alike.
template <> struct std::hash<tavrin::DeliverySpec> {
    std::size_t operator()(const tavrin::DeliverySpec& spec) const noexcept;
};
