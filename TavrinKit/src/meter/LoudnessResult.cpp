#include "tavrin/meter/LoudnessResult.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tavrin {
namespace {

using Json = nlohmann::json;

struct OptionalField {
    const char* key;
    std::optional<double> LoudnessResult::*member;
};

constexpr OptionalField optionalFields[] = {
    {"integrated", &LoudnessResult::integrated},
    {"loudnessRange", &LoudnessResult::loudnessRange},
    {"maxMomentary", &LoudnessResult::maxMomentary},
    {"maxShortTerm", &LoudnessResult::maxShortTerm},
    {"samplePeak", &LoudnessResult::samplePeak},
    {"truePeak", &LoudnessResult::truePeak},
    {"truePeakAt", &LoudnessResult::truePeakAt},
    {"maxMomentaryAt", &LoudnessResult::maxMomentaryAt},
    {"maxShortTermAt", &LoudnessResult::maxShortTermAt},
    {"rms", &LoudnessResult::rms},
    {"noiseFloor", &LoudnessResult::noiseFloor},
};

const Json& required(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        throw std::invalid_argument(std::string("The measurement has no numeric \"") + key + "\".");
    return *it;
}

} // namespace

std::string LoudnessResult::toJson() const {
    Json j = Json::object();
    for (const auto& field : optionalFields)
        if (const auto& value = this->*field.member)
            j[field.key] = *value;
    j["duration"] = duration;
    j["sampleRate"] = sampleRate;
    j["channels"] = channels;
    return j.dump();
}

LoudnessResult LoudnessResult::fromJson(std::string_view text) {
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object())
        throw std::invalid_argument("The measurement is not a JSON object.");
    LoudnessResult result;
    for (const auto& field : optionalFields) {
        auto it = j.find(field.key);
        if (it == j.end() || it->is_null())
            continue;
        if (!it->is_number())
            throw std::invalid_argument(std::string("\"") + field.key + "\" is not a number.");
        result.*field.member = it->get<double>();
    }
    result.duration = required(j, "duration").get<double>();
    result.sampleRate = required(j, "sampleRate").get<double>();
    const Json& channels = required(j, "channels");
    if (!channels.is_number_integer())
        throw std::invalid_argument("\"channels\" is not a whole number.");
    result.channels = channels.get<int>();
    return result;
}

} // namespace tavrin
