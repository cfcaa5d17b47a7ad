#include "tavrin/decode/Provenance.h"

#include "core/FindingJson.h"
#include "core/OpenFile.h"
#include "decode/FfmpegReader.h"
#include "decode/ProvenanceTags.h"
#include "tavrin/core/AudioFileError.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <system_error>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace tavrin {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string utcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

[[noreturn]] void cantHash(const fs::path& file, const std::error_code& error) {
    throw AudioFileError::unreadable(file.filename().string() + " couldn’t be read to the end (" +
                                     error.message() + ").");
}

std::string hexOf(const unsigned char* bytes, unsigned size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < size; ++i) {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 15]);
    }
    return hex;
}

} // namespace

std::string freshSha256Of(const fs::path& file, const CancelCheck& isCancelled) {
    const OpenFile opened(file, O_RDONLY);
    const int fd = opened.descriptor();
    if (fd < 0)
        cantHash(file, {errno, std::generic_category()});
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(),
                                                                     EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    std::vector<unsigned char> buffer(std::size_t{4} << 20);
    for (;;) {
        stopIfCancelled(isCancelled);
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            cantHash(file, {errno, std::generic_category()});
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n));
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned size = 0;
    EVP_DigestFinal_ex(context.get(), digest.data(), &size);
    return hexOf(digest.data(), size);
}

namespace {

/// A file as it was when its digest was taken.
struct Digested {
    fs::path file;
    std::uintmax_t size;
    fs::file_time_type modified;
    std::string sha256;
};

} // namespace

std::string sha256Of(const fs::path& file, const CancelCheck& isCancelled) {
    static std::mutex mutex;
    static std::deque<Digested> remembered;
    std::error_code error;
    const auto size = fs::file_size(file, error);
    const auto modified = error ? fs::file_time_type{} : fs::last_write_time(file, error);
    if (error)
        cantHash(file, error);
    {
        const std::lock_guard lock(mutex);
        for (const Digested& d : remembered)
            if (d.file == file && d.size == size && d.modified == modified)
                return d.sha256;
    }
    std::string sha256 = freshSha256Of(file, isCancelled);
    const std::lock_guard lock(mutex);
    remembered.push_front({file, size, modified, sha256});
    if (remembered.size() > 8)
        remembered.pop_back();
    return sha256;
}

BackgroundDigest::BackgroundDigest(fs::path file)
    : m_digest(std::async(std::launch::async, [this, file = std::move(file)] {
          return sha256Of(file, [this] { return m_abandoned.load(); });
      })) {}

BackgroundDigest::~BackgroundDigest() {
    m_abandoned = true;
    m_digest.wait();
}

std::string BackgroundDigest::get() const {
    return m_digest.get();
}

Provenance Provenance::of(const fs::path& original, std::string sha256, std::string preset,
                          double gain, std::optional<Limiter::Summary> limiting,
                          std::vector<Finding> findings) {
    std::error_code error;
    const auto size = fs::file_size(original, error);
    if (error)
        cantHash(original, error);
    return {
        original.filename().string(), std::move(sha256), size,    std::move(preset), gain, limiting,
        std::move(findings),          TAVRIN_VERSION,    utcNow()};
}

std::string Provenance::toJson() const {
    using Ordered = nlohmann::ordered_json;
    const Ordered limited = limiting ? Ordered{{"gain", limiting->gain},
                                               {"maxReduction", limiting->maxReduction},
                                               {"seconds", limiting->seconds}}
                                     : Ordered(nullptr);
    const Ordered json = {{"original", original},
                          {"sha256", sha256},
                          {"size", size},
                          {"preset", preset},
                          {"gain", gain},
                          {"limiting", limited},
                          {"findings", findingsToJson(findings)},
                          {"tavrin", tavrin},
                          {"written", written}};
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

namespace {

/// The "limiting" of a record: null, or an object of three numbers.
std::optional<std::optional<Limiter::Summary>> limitingIn(const Json& json) {
    const auto it = json.find("limiting");
    if (it == json.end() || it->is_null())
        return std::optional<Limiter::Summary>();
    if (!it->is_object())
        return std::nullopt;
    Limiter::Summary summary;
    for (auto [key, value] :
         {std::pair{"gain", &summary.gain}, std::pair{"maxReduction", &summary.maxReduction},
          std::pair{"seconds", &summary.seconds}}) {
        const auto number = it->find(key);
        if (number == it->end() || !number->is_number())
            return std::nullopt;
        *value = number->get<double>();
    }
    return std::optional(summary);
}

} // namespace

std::optional<Provenance> Provenance::fromJson(std::string_view text) {
    const Json json = Json::parse(text, nullptr, false);
    if (!json.is_object())
        return std::nullopt;
    const auto stringAt = [&](const char* key) {
        const auto it = json.find(key);
        return it != json.end() && it->is_string() ? std::optional(it->get<std::string>())
                                                   : std::nullopt;
    };
    const auto sizeIt = json.find("size");
    const auto gainIt = json.find("gain");
    const auto findingsIt = json.find("findings");
    const auto limiting = limitingIn(json);
    const auto original = stringAt("original"), sha256 = stringAt("sha256"),
               preset = stringAt("preset"), tavrin = stringAt("tavrin"),
               written = stringAt("written");
    if (!original || !sha256 || sha256->size() != 64 || !preset || !tavrin || !written ||
        sizeIt == json.end() || !sizeIt->is_number_unsigned() || gainIt == json.end() ||
        !gainIt->is_number() || !limiting)
        return std::nullopt;
    return Provenance{*original,
                      *sha256,
                      sizeIt->get<std::uintmax_t>(),
                      *preset,
                      gainIt->get<double>(),
                      *limiting,
                      findingsIt != json.end() ? findingsFromJson(*findingsIt)
                                               : std::vector<Finding>{},
                      *tavrin,
                      *written};
}

std::optional<Provenance> provenanceOf(const FfmpegReader& reader) {
    const AVDictionary* tags = reader.demuxer().metadata;
    // Delivery formats carry it under its own tag; WAV and AIFF as the file's comment.
    for (const char* key : {provenanceTag.data(), "comment"})
        if (const auto* entry = av_dict_get(tags, key, nullptr, 0))
            if (auto provenance = Provenance::fromJson(entry->value))
                return provenance;
    return std::nullopt;
}

std::optional<Provenance> Provenance::read(const fs::path& file) {
    try {
        return provenanceOf(FfmpegReader(file));
    } catch (...) {
        return std::nullopt;
    }
}

bool Provenance::isOf(const fs::path& file, const CancelCheck& isCancelled) const {
    std::error_code error;
    if (fs::file_size(file, error) != size || error)
        return false;
    try {
        return sha256Of(file, isCancelled) == sha256;
    } catch (const AudioFileError&) {
        return false;
    }
}

} // namespace tavrin
