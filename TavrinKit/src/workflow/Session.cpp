#include "tavrin/workflow/Session.h"

#include "core/FindingJson.h"
#include "tavrin/reports/Report.h"
#include "tavrin/workflow/TargetFiles.h"
#include "tavrin/workflow/WorkflowTexts.h"
#include "workflow/SmallFile.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <system_error>

namespace tavrin::Session {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr std::string_view formatName = "tavrin-session";

std::string_view rawValue(DamagePolicy damage) {
    return damage == DamagePolicy::fail ? "fail" : "warn";
}

std::string_view rawValue(Verify verify) {
    return verify == Verify::always ? "always" : "onlyWhenChanged";
}

bool isUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

std::string hexOf(const std::string& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
    }
    return hex;
}

/// A path as text where it is UTF-8; otherwise also as the hex of its bytes under `key` + "Bytes",
/// so that a Latin-1 name comes back exactly.
void putPath(Json& object, const std::string& key, const fs::path& path) {
    object[key] = path.string();
    if (!isUtf8(path.string()))
        object[key + "Bytes"] = hexOf(path.string());
}

Json stampJson(const FileStamp& stamp) {
    return {{"size", stamp.size}, {"modified", stamp.modified}, {"sha256", stamp.sha256}};
}

Json limitingJson(const std::optional<Limiter::Summary>& limiting) {
    if (!limiting)
        return nullptr;
    return {{"gain", limiting->gain},
            {"maxReduction", limiting->maxReduction},
            {"seconds", limiting->seconds}};
}

Json copyJson(const Copy& copy) {
    Json j = Json::object();
    putPath(j, "copy", copy.path);
    j.update(stampJson(copy.stamp));
    j["gain"] = copy.gain;
    j["limiting"] = limitingJson(copy.limiting);
    j["encoding"] = copy.encoding ? Json{{"name", copy.encoding->name},
                                         {"lossy", copy.encoding->lossy},
                                         {"notCarried", copy.encoding->notCarried}}
                                  : Json(nullptr);
    j["ofDamaged"] = copy.ofDamaged;
    j["result"] = Json::parse(copy.result.toJson());
    j["note"] = copy.note ? Json(*copy.note) : Json(nullptr);
    return j;
}

Json rowJson(const Row& row) {
    Json j = Json::object();
    putPath(j, "path", row.path);
    j.update(row.stamp ? stampJson(*row.stamp)
                       : Json{{"size", nullptr}, {"modified", nullptr}, {"sha256", nullptr}});
    j["format"] = row.format;
    j["result"] = row.result ? Json::parse(row.result->toJson()) : Json(nullptr);
    j["error"] = row.error ? Json(*row.error) : Json(nullptr);
    j["findings"] = findingsToJson(row.findings);
    j["provenance"] = row.provenance ? Json::parse(row.provenance->toJson()) : Json(nullptr);
    Json copies = Json::object();
    for (const auto& [preset, copy] : row.copies)
        copies[preset] = copyJson(copy);
    j["fixes"] = std::move(copies);
    return j;
}

std::string dumped(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string toJson(const Record& record) {
    const Json head = {{"format", formatName},
                       {"version", version},
                       {"tavrin", TAVRIN_VERSION},
                       {"preset", record.preset},
                       {"dualMono", record.dualMono},
                       {"damage", rawValue(record.damage)},
                       {"verify", rawValue(record.verify)}};
    Json target = nullptr;
    if (record.target)
        target = Json::parse(Workflow::targetToJson(*record.target));
    std::string text = "{\n";
    for (const auto& [key, value] : head.items())
        text += dumped(key) + ": " + dumped(value) + ",\n";
    if (record.target)
        text += "\"target\": " + dumped(target) + ",\n";
    text += "\"files\": [";
    for (std::size_t i = 0; i < record.rows.size(); ++i)
        text += (i == 0 ? "\n" : ",\n") + dumped(rowJson(record.rows[i]));
    text += "\n]\n}\n";
    return text;
}

namespace {

/// "“size”", or "file 3’s “size”": where a value is, for the sentence of a damaged session.
std::string place(const std::string& where, std::string_view key) {
    const std::string quoted = "“" + std::string(key) + "”";
    return where.empty() ? quoted : where + "’s " + quoted;
}

/// Reads a session's values, each checked; a value that isn't what a session holds throws
/// Unreadable saying where it is. `where` names the object a value is in ("file 3"), empty for
/// the document itself.
class Reader {
public:
    explicit Reader(std::string_view name) : m_name(name) {}

    [[noreturn]] void damaged(const std::string& where) const {
        throw Unreadable(Workflow::sessionDamagedMessage(m_name, where));
    }

    const Json& at(const Json& object, const char* key, const std::string& where) const {
        const auto it = object.find(key);
        if (it == object.end())
            damaged(place(where, key));
        return *it;
    }

    template <typename T>
    T get(const Json& object, const char* key, const std::string& where,
          bool (Json::*is)() const) const {
        const Json& value = at(object, key, where);
        if (!(value.*is)())
            damaged(place(where, key));
        return value.get<T>();
    }

    std::string text(const Json& o, const char* key, const std::string& where) const {
        return get<std::string>(o, key, where, &Json::is_string);
    }
    std::optional<std::string> optionalText(const Json& o, const char* key,
                                            const std::string& where) const {
        return at(o, key, where).is_null() ? std::nullopt : std::optional(text(o, key, where));
    }
    double number(const Json& o, const char* key, const std::string& where) const {
        return get<double>(o, key, where, &Json::is_number);
    }
    bool flag(const Json& o, const char* key, const std::string& where) const {
        return get<bool>(o, key, where, &Json::is_boolean);
    }

    /// A list of strings; absent (as sessions before it was kept have it) is an empty one.
    std::vector<std::string> texts(const Json& o, const char* key, const std::string& where) const {
        const auto it = o.find(key);
        if (it == o.end())
            return {};
        if (!it->is_array() || !std::ranges::all_of(*it, &Json::is_string))
            damaged(place(where, key));
        return it->get<std::vector<std::string>>();
    }

    /// An object, or null; anything else is damage.
    const Json* optionalObject(const Json& o, const char* key, const std::string& where) const {
        const Json& value = at(o, key, where);
        if (!value.is_null() && !value.is_object())
            damaged(place(where, key));
        return value.is_null() ? nullptr : &value;
    }

    /// An absolute path: a list's paths never depend on where the session is opened from.
    fs::path path(const Json& o, const std::string& key, const std::string& where) const {
        fs::path path = pathText(o, key, where);
        if (!path.is_absolute())
            damaged(place(where, key));
        return path;
    }

    fs::path pathText(const Json& o, const std::string& key, const std::string& where) const {
        const auto bytes = o.find(key + "Bytes");
        if (bytes == o.end())
            return text(o, key.c_str(), where);
        const std::string hex = bytes->is_string() ? bytes->get<std::string>() : "-";
        if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
            damaged(place(where, key + "Bytes"));
        std::string path;
        for (std::size_t i = 0; i < hex.size(); i += 2)
            path.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        return path;
    }

    FileStamp stamp(const Json& o, const std::string& where) const {
        FileStamp stamp{get<std::uintmax_t>(o, "size", where, &Json::is_number_unsigned),
                        get<std::int64_t>(o, "modified", where, &Json::is_number_integer),
                        text(o, "sha256", where)};
        if (stamp.sha256.size() != 64 ||
            stamp.sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
            damaged(place(where, "sha256"));
        return stamp;
    }

    LoudnessResult result(const Json& value, const std::string& where) const {
        try {
            return LoudnessResult::fromJson(value.dump());
        } catch (const std::invalid_argument&) {
            damaged(place(where, "result"));
        }
    }

    Copy copy(const Json& o, const std::string& where) const {
        if (!o.is_object())
            damaged(where);
        Copy copy{path(o, "copy", where), stamp(o, where), number(o, "gain", where)};
        if (const Json* limiting = optionalObject(o, "limiting", where)) {
            const std::string inner = place(where, "limiting");
            copy.limiting = Limiter::Summary{number(*limiting, "gain", inner),
                                             number(*limiting, "maxReduction", inner),
                                             number(*limiting, "seconds", inner)};
        }
        if (const Json* encoding = optionalObject(o, "encoding", where)) {
            const std::string inner = place(where, "encoding");
            copy.encoding = GainWriter::Encoding{text(*encoding, "name", inner),
                                                 flag(*encoding, "lossy", inner),
                                                 texts(*encoding, "notCarried", inner)};
        }
        copy.ofDamaged = flag(o, "ofDamaged", where);
        copy.result = result(at(o, "result", where), where);
        copy.note = optionalText(o, "note", where);
        return copy;
    }

    Row row(const Json& o, const std::string& where) const {
        if (!o.is_object())
            damaged(where);
        Row row{path(o, "path", where)};
        if (!at(o, "sha256", where).is_null())
            row.stamp = stamp(o, where);
        row.format = text(o, "format", where);
        if (const Json& result = at(o, "result", where); !result.is_null())
            row.result = this->result(result, where);
        row.error = optionalText(o, "error", where);
        row.findings = findingsFromJson(at(o, "findings", where));
        if (const Json* provenance = optionalObject(o, "provenance", where)) {
            row.provenance = Provenance::fromJson(provenance->dump());
            if (!row.provenance)
                damaged(place(where, "provenance"));
        }
        const Json& fixes = at(o, "fixes", where);
        if (!fixes.is_object())
            damaged(place(where, "fixes"));
        for (const auto& [preset, copy] : fixes.items())
            row.copies.emplace(preset, this->copy(copy, where + "’s fix for " + preset));
        return row;
    }

private:
    std::string m_name;
};

DamagePolicy damageFrom(const std::string& raw, const Reader& reader) {
    if (raw != "fail" && raw != "warn")
        reader.damaged("“damage”");
    return raw == "fail" ? DamagePolicy::fail : DamagePolicy::warn;
}

Verify verifyFrom(const std::string& raw, const Reader& reader) {
    if (raw != "always" && raw != "onlyWhenChanged")
        reader.damaged("“verify”");
    return raw == "always" ? Verify::always : Verify::onlyWhenChanged;
}

/// The named target saved with the session; it must be the one `preset` names.
std::optional<DeliverySpec> targetFrom(const Json& document, const std::string& preset,
                                       const Reader& reader) {
    const auto saved = document.find("target");
    if (saved == document.end() && !Workflow::isNamedTargetId(preset))
        return std::nullopt;
    try {
        if (saved != document.end())
            if (DeliverySpec target = Workflow::targetFromJson(saved->dump()); target.id == preset)
                return target;
    } catch (const std::invalid_argument&) {
    }
    reader.damaged("“target”");
}

} // namespace

Record fromJson(std::string_view text, std::string_view name) {
    const Json document = Json::parse(text, nullptr, false);
    const auto format = document.is_object() ? document.find("format") : document.end();
    if (format == document.end() || !format->is_string() ||
        format->get_ref<const std::string&>() != formatName)
        throw Unreadable(Workflow::sessionNotASessionMessage(name));
    const auto saved = document.find("version");
    if (saved == document.end() || !saved->is_number_integer() || *saved < 1)
        throw Unreadable(Workflow::sessionDamagedMessage(name, "“version”"));
    if (*saved > version)
        throw Unreadable(Workflow::sessionTooNewMessage(name, saved->get<long long>()));
    const Reader reader(name);
    Record record;
    record.preset = reader.text(document, "preset", "");
    record.dualMono = reader.flag(document, "dualMono", "");
    record.damage = damageFrom(reader.text(document, "damage", ""), reader);
    record.verify = verifyFrom(reader.text(document, "verify", ""), reader);
    record.target = targetFrom(document, record.preset, reader);
    const Json& files = reader.at(document, "files", "");
    if (!files.is_array())
        reader.damaged("“files”");
    record.rows.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        record.rows.push_back(reader.row(files[i], "file " + std::to_string(i + 1)));
    return record;
}

void save(const fs::path& path, const Record& record) {
    Report::save(path, toJson(record));
}

Record load(const fs::path& path) {
    const std::string name = path.filename().string();
    // Far more than any list holds; a file this large is not a session, and isn't read whole.
    const Workflow::SmallFile file = Workflow::readSmallFile(path, std::uintmax_t{1} << 30);
    if (file.tooLarge)
        throw Unreadable(Workflow::sessionNotASessionMessage(name));
    if (file.error)
        throw Unreadable(Workflow::cantReadFileMessage(name, file.error));
    return fromJson(file.text, name);
}

} // namespace tavrin::Session
