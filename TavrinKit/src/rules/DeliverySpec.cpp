#include "tavrin/rules/DeliverySpec.h"

#include "tavrin/core/Fmt.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tavrin {
namespace {

using Json = nlohmann::json;

std::vector<DeliverySpec> makePresets() {
    return {
        {
            .id = "ebu-r128",
            .name = "EBU R 128",
            .target = -23.0,
            .tolerance = 0.5,
            .maxTruePeak = -1.0,
            .summary = "European broadcast programmes: −23.0 LUFS ±0.5 LU, true peak at most −1 "
                       "dBTP. R 128 allows ±1.0 LU only where the target isn't practical, such as "
                       "live programmes.",
            .sourceName = "EBU R 128 (Loudness normalisation and permitted maximum level of audio "
                          "signals)",
            .sourceURL = "https://tech.ebu.ch/docs/r/r128.pdf",
        },
        {
            .id = "apple-podcasts",
            .name = "Apple Podcasts",
            .target = -16.0,
            .tolerance = 1.0,
            .maxTruePeak = -1.0,
            .summary = "Apple recommends about −16 LKFS with a ±1 dB tolerance and a true peak no "
                       "higher than −1 dBFS, measured per ITU-R BS.1770, before encoding.",
            .sourceName = "Apple Podcasts for Creators: Audio requirements",
            .sourceURL = "https://podcasters.apple.com/support/893-audio-requirements",
        },
        {
            .id = "spotify",
            .name = "Spotify",
            .target = -14.0,
            .tolerance = 1.0,
            .maxTruePeak = -1.0,
            .louderCeiling = -2.0,
            .toleranceIsOurs = true,
            .summary = "Spotify asks for masters at −14 LUFS integrated with true peak below −1 "
                       "dBTP, or below −2 dBTP for masters louder than −14 LUFS. Spotify gives no "
                       "tolerance; ±1 LU is Tavrin's.",
            .sourceName = "Spotify for Artists: Loudness normalization",
            .sourceURL = "https://support.spotify.com/artists/article/loudness-normalization/",
        },
        {
            .id = "youtube",
            .name = "YouTube",
            .target = -14.0,
            .tolerance = 1.0,
            .maxTruePeak = -1.0,
            .toleranceIsOurs = true,
            .caution = "Check before relying: YouTube doesn't publish a loudness target. −14 LUFS "
                       "is the playback reference widely reported from its \"Stats for nerds\" "
                       "panel; the −1 dBTP ceiling and ±1 LU are Tavrin's choices.",
            .summary = "YouTube turns loud uploads down to about −14 LUFS when playing them. "
                       "Uploads near that level with headroom for encoding play back as mixed.",
            .sourceName = "No official YouTube document (widely reported playback reference)",
        },
        {
            .id = "atsc-a85",
            .name = "ATSC A/85 (US TV)",
            .target = -24.0,
            .tolerance = 2.0,
            .maxTruePeak = -2.0,
            .caution = "Check before relying: this follows A/85's short-form rule (full-programme "
                       "mix, BS.1770-3 or later). A/85 measures long-form programmes on dialogue "
                       "(dialogue-gated BS.1770-1), which Tavrin doesn't do, and ±2 dB is the "
                       "measurement tolerance A/85 anticipates, not a window to aim for. Networks "
                       "often set their own delivery specs.",
            .summary = "US digital television without loudness metadata: −24 LKFS, true peak at "
                       "most −2 dBTP (A/85:2026-07, Annex M quick reference).",
            .sourceName = "ATSC A/85:2026-07, Annex M: Loudness and True Peak Quick Reference",
            .sourceURL = "https://www.atsc.org/atsc-documents/"
                         "a85-techniques-for-establishing-and-maintaining-audio-loudness-for-"
                         "digital-television/",
        },
        {
            .id = "audiobook",
            .name = "Audiobook (ACX-style)",
            .target = -20.5,
            .tolerance = 2.5,
            .maxTruePeak = -3.0,
            .summary = "Audiobook chapters as ACX and most audiobook retailers ask for them: each "
                       "file's RMS level between −23 and −18 dB, sample peaks at or under −3 "
                       "dBFS and a noise floor at or under −60 dB, measured unweighted.",
            .sourceName = "ACX Audio Submission Requirements",
            .limits = {.noiseFloor = -60.0},
            .measure = DeliverySpec::Measure::rms,
        },
        {
            .id = "op-59",
            .name = "Free TV OP-59",
            .target = -24.0,
            .tolerance = 1.0,
            .maxTruePeak = -2.0,
            .summary = "Australian commercial television: −24 LKFS ±1 LU integrated, true peak at "
                       "most −2 dBTP, measured per ITU-R BS.1770.",
            .sourceName = "Free TV Australia Operational Practice OP-59 (Measurement and "
                          "Management of Loudness for Soundtracks for Television Broadcasting)",
        },
        {
            .id = "arib-tr-b32",
            .name = "ARIB TR-B32",
            .target = -24.0,
            .tolerance = 1.0,
            .maxTruePeak = -1.0,
            .summary = "Japanese digital television: −24 LKFS ±1 LU integrated, true peak at most "
                       "−1 dBTP, measured per ITU-R BS.1770.",
            .sourceName = "ARIB TR-B32 (Operational Guidelines for Loudness of Digital Television "
                          "Programs)",
        },
    };
}

const Json& member(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end())
        throw std::invalid_argument(std::string("The delivery spec has no \"") + key + "\".");
    return *it;
}

std::string text(const Json& value, const char* key) {
    if (!value.is_string())
        throw std::invalid_argument(std::string("\"") + key + "\" is not a string.");
    return value.get<std::string>();
}

double number(const Json& value, const char* key) {
    if (!value.is_number())
        throw std::invalid_argument(std::string("\"") + key + "\" is not a number.");
    return value.get<double>();
}

/// A missing or null key reads as absent; any other value must have the right type.
template <typename Read>
auto optionalMember(const Json& object, const char* key, Read read)
    -> std::optional<decltype(read(object, key))> {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    return read(*it, key);
}

void mix(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

/// Equal doubles must hash alike, and +0.0 equals -0.0.
std::size_t hashValue(double value) {
    return std::hash<double>{}(value == 0 ? 0.0 : value);
}
std::size_t hashValue(const std::string& value) {
    return std::hash<std::string>{}(value);
}
std::size_t hashValue(bool value) {
    return std::hash<bool>{}(value);
}

template <typename T> void combine(std::size_t& seed, const T& value) {
    mix(seed, hashValue(value));
}

template <typename T> void combine(std::size_t& seed, const std::optional<T>& value) {
    mix(seed, hashValue(value.has_value()));
    if (value)
        mix(seed, hashValue(*value));
}

std::size_t hashOf(const DeliverySpec& spec) {
    std::size_t seed = 0;
    combine(seed, spec.id);
    combine(seed, spec.name);
    combine(seed, spec.target);
    combine(seed, spec.tolerance);
    combine(seed, spec.maxTruePeak);
    combine(seed, spec.louderCeiling);
    combine(seed, spec.toleranceIsOurs);
    combine(seed, spec.caution);
    combine(seed, spec.summary);
    combine(seed, spec.sourceName);
    combine(seed, spec.sourceURL);
    combine(seed, spec.limits.loudnessRange);
    combine(seed, spec.limits.shortTerm);
    combine(seed, spec.limits.momentary);
    combine(seed, spec.limits.samplePeak);
    combine(seed, spec.limits.noiseFloor);
    combine(seed, spec.measure == DeliverySpec::Measure::rms);
    return seed;
}

} // namespace

const std::vector<DeliverySpec>& DeliverySpec::all() {
    static const std::vector<DeliverySpec> presets = makePresets();
    return presets;
}

const DeliverySpec& DeliverySpec::ebuR128() {
    return all()[0];
}
const DeliverySpec& DeliverySpec::applePodcasts() {
    return all()[1];
}
const DeliverySpec& DeliverySpec::spotify() {
    return all()[2];
}
const DeliverySpec& DeliverySpec::youtube() {
    return all()[3];
}
const DeliverySpec& DeliverySpec::atscA85() {
    return all()[4];
}

std::optional<DeliverySpec> DeliverySpec::preset(std::string_view id) {
    const auto& presets = all();
    auto it = std::find_if(presets.begin(), presets.end(),
                           [id](const DeliverySpec& spec) { return spec.id == id; });
    if (it == presets.end())
        return std::nullopt;
    return *it;
}

double DeliverySpec::ceiling(std::optional<double> integrated) const {
    // Louder is judged on the rounded value the user sees, like every other loudness comparison.
    if (louderCeiling && integrated && target < Fmt::round1(*integrated))
        return *louderCeiling;
    return maxTruePeak;
}

std::string DeliverySpec::shortName() const {
    std::string shortened = name.substr(0, name.find(" ("));
    std::erase(shortened, '/');
    return shortened;
}

std::optional<double> DeliverySpec::level(const LoudnessResult& result) const {
    return measure == Measure::rms ? result.rms : result.integrated;
}

std::optional<double> DeliverySpec::peak(const LoudnessResult& result) const {
    return measure == Measure::rms ? result.samplePeak : result.truePeak;
}

std::string DeliverySpec::ruleText() const {
    if (measure == Measure::rms)
        return "RMS " + Fmt::number(target - tolerance, false) + " to " +
               Fmt::number(target + tolerance, false) + " dB, sample peak ≤ " +
               Fmt::number(maxTruePeak, false) + " dBFS" +
               (limits.noiseFloor
                    ? ", noise floor ≤ " + Fmt::number(*limits.noiseFloor, false) + " dB"
                    : "");
    std::string rule = Fmt::number(target, false) + " LUFS ±" + Fmt::oneDecimal(tolerance) +
                       " LU, true peak ≤ " + Fmt::number(maxTruePeak, false) + " dBTP";
    if (louderCeiling)
        rule += " (≤ " + Fmt::number(*louderCeiling, false) + " dBTP when louder than " +
                Fmt::number(target, false) + " LUFS)";
    const auto add = [&rule](const std::optional<double>& limit, const char* what,
                             const char* unit) {
        if (limit)
            rule += std::string(", ") + what + " ≤ " + Fmt::number(*limit, false) + unit;
    };
    add(limits.loudnessRange, "range", " LU");
    add(limits.shortTerm, "short-term", " LUFS");
    add(limits.momentary, "momentary", " LUFS");
    add(limits.samplePeak, "sample peak", " dBFS");
    return rule;
}

std::string DeliverySpec::toJson() const {
    Json j = Json::object();
    j["id"] = id;
    j["name"] = name;
    j["target"] = target;
    j["tolerance"] = tolerance;
    j["maxTruePeak"] = maxTruePeak;
    if (louderCeiling)
        j["louderCeiling"] = *louderCeiling;
    j["toleranceIsOurs"] = toleranceIsOurs;
    if (caution)
        j["caution"] = *caution;
    j["summary"] = summary;
    j["sourceName"] = sourceName;
    if (sourceURL)
        j["sourceURL"] = *sourceURL;
    const auto put = [&j](const char* key, const std::optional<double>& limit) {
        if (limit)
            j[key] = *limit;
    };
    put("maxLoudnessRange", limits.loudnessRange);
    put("maxShortTerm", limits.shortTerm);
    put("maxMomentary", limits.momentary);
    put("maxSamplePeak", limits.samplePeak);
    put("maxNoiseFloor", limits.noiseFloor);
    if (measure == Measure::rms)
        j["measure"] = "rms";
    return j.dump();
}

DeliverySpec DeliverySpec::fromJson(std::string_view json) {
    const Json j = Json::parse(json, nullptr, false);
    if (!j.is_object())
        throw std::invalid_argument("The delivery spec is not a JSON object.");
    const Json& ours = member(j, "toleranceIsOurs");
    if (!ours.is_boolean())
        throw std::invalid_argument("\"toleranceIsOurs\" is not true or false.");
    return {
        .id = text(member(j, "id"), "id"),
        .name = text(member(j, "name"), "name"),
        .target = number(member(j, "target"), "target"),
        .tolerance = number(member(j, "tolerance"), "tolerance"),
        .maxTruePeak = number(member(j, "maxTruePeak"), "maxTruePeak"),
        .louderCeiling = optionalMember(j, "louderCeiling", number),
        .toleranceIsOurs = ours.get<bool>(),
        .caution = optionalMember(j, "caution", text),
        .summary = text(member(j, "summary"), "summary"),
        .sourceName = text(member(j, "sourceName"), "sourceName"),
        .sourceURL = optionalMember(j, "sourceURL", text),
        .limits = {optionalMember(j, "maxLoudnessRange", number),
                   optionalMember(j, "maxShortTerm", number),
                   optionalMember(j, "maxMomentary", number),
                   optionalMember(j, "maxSamplePeak", number),
                   optionalMember(j, "maxNoiseFloor", number)},
        .measure = optionalMember(j, "measure", text) == "rms" ? Measure::rms : Measure::loudness,
    };
}

} // namespace tavrin

std::size_t
std::hash<tavrin::DeliverySpec>::operator()(const tavrin::DeliverySpec& spec) const noexcept {
    return tavrin::hashOf(spec);
}
