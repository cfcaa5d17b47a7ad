#pragma once

#include "tavrin/core/Cancellation.h"
#include "tavrin/core/Finding.h"
#include "tavrin/core/LimiterSummary.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// Where a copy Tavrin wrote came from, carried in the copy's own metadata as one line of JSON (a
/// WAV's LIST/INFO comment, an AIFF's annotation, a FLAC or MP3 tag named TAVRIN_PROVENANCE), so
/// that a copy is tied to the very bytes of its original rather than to a name or a loudness.
struct Provenance {
    std::string original;    ///< the original's file name
    std::string sha256;      ///< of the original's bytes, lowercase hex
    std::uintmax_t size = 0; ///< the original's size in bytes
    std::string preset;      ///< the id of the preset or custom target the copy was made for
    double gain = 0;         ///< dB
    /// What the limiter was planned to do on top of the gain; absent for gain alone.
    std::optional<Limiter::Summary> limiting{};
    std::vector<Finding> findings{}; ///< what was found in the original when it was measured
    std::string tavrin;              ///< the version that wrote the copy
    std::string written;             ///< when, ISO 8601 UTC

    bool operator==(const Provenance&) const = default;

    /// The record of a copy made now of `original`, whose bytes have the digest `sha256`.
    static Provenance of(const std::filesystem::path& original, std::string sha256,
                         std::string preset, double gain, std::optional<Limiter::Summary> limiting,
                         std::vector<Finding> findings);

    /// One line of JSON with the keys "original", "sha256", "size", "preset", "gain", "limiting"
    /// (null, or an object with "gain", "maxReduction" and "seconds"), "findings", "tavrin" and
    /// "written".
    std::string toJson() const;
    /// The record in `json`; absent when it is not one (any other comment a file may carry).
    static std::optional<Provenance> fromJson(std::string_view json);

    /// The record `file` carries; absent when it carries none or can't be opened. Never throws.
    static std::optional<Provenance> read(const std::filesystem::path& file);

    /// Whether this record names `original` as it is on disk now: same size and SHA-256. Hashing
    /// happens only when the sizes agree. Throws Cancelled when `isCancelled` stops the work.
    bool isOf(const std::filesystem::path& original, const CancelCheck& isCancelled = {}) const;
};

/// The tag name a copy in a delivery format carries its record under.
inline constexpr std::string_view provenanceTag = "TAVRIN_PROVENANCE";

/// The SHA-256 of the bytes of `file`, lowercase hex; the last few files' digests are remembered
/// while their size and modification time stay the same, so that recognising and writing a copy
/// of one original read it once. Throws AudioFileError (unreadable) with a whole sentence, and
/// Cancelled when `isCancelled` stops the work.
std::string sha256Of(const std::filesystem::path& file, const CancelCheck& isCancelled = {});

/// The SHA-256 of the bytes of `file` as they are now, read in full whatever sha256Of remembers.
/// Throws as sha256Of does.
std::string freshSha256Of(const std::filesystem::path& file, const CancelCheck& isCancelled = {});

/// sha256Of(`file`) worked out on a thread of its own from construction, so that hashing an
/// original overlaps with writing its copy. Destruction stops the work and waits for the thread.
class BackgroundDigest {
public:
    explicit BackgroundDigest(std::filesystem::path file);
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    /// The digest, once it is there; throws what sha256Of threw.
    std::string get() const;

private:
    std::atomic<bool> m_abandoned{false};
    std::shared_future<std::string> m_digest;
};

} // namespace tavrin
