#pragma once

#include "tavrin/copies/GainWriter.h"
#include "tavrin/core/Cancellation.h"
#include "tavrin/core/Finding.h"
#include "tavrin/core/LimiterSummary.h"
#include "tavrin/decode/Provenance.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/FileStamp.h"

#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

/// A checked list saved as a file, so that what was checked, against what, and which copies were
/// made can be opened again and verified against the disk later. One JSON document, documented in
/// the README; `version` changes whenever a reader of an older one would misread it.
namespace tavrin::Session {

inline constexpr int version = 1;
/// The extension of session files.
inline constexpr std::string_view extension = ".tavrin";

/// A fixed copy written for one preset.
struct Copy {
    std::filesystem::path path;
    FileStamp stamp;
    double gain = 0; ///< dB, under any limiting
    std::optional<Limiter::Summary> limiting{};
    std::optional<GainWriter::Encoding> encoding{}; ///< absent for a WAV or AIFF copy
    bool ofDamaged = false;
    LoudnessResult result{};           ///< the copy, measured
    std::optional<std::string> note{}; ///< the plan's note for a fix short of the target
    bool operator==(const Copy&) const = default;
};

/// One original as it was measured.
struct Row {
    std::filesystem::path path;
    /// Absent when the file couldn't be read to the end to take its digest.
    std::optional<FileStamp> stamp{};
    std::string format{};
    std::optional<LoudnessResult> result{};
    std::optional<std::string> error{}; ///< why there is no result
    std::vector<Finding> findings{};
    std::optional<Provenance> provenance{}; ///< the file is itself a copy Tavrin wrote
    std::map<std::string, Copy> copies{};   ///< by preset id
    bool operator==(const Row&) const = default;
};

/// The whole saved list and the settings its verdicts depend on.
struct Record {
    std::string preset = "ebu-r128"; ///< the id of a preset, a custom or a named target
    bool dualMono = false;
    DamagePolicy damage = DamagePolicy::fail;
    Verify verify = Verify::onlyWhenChanged;
    std::vector<Row> rows{};
    /// The named target itself when `preset` is one, so the session judges as it did anywhere.
    std::optional<DeliverySpec> target{};
    bool operator==(const Record&) const = default;
};

/// What became of a saved row's file and of its copies since the session was saved.
struct RowCheck {
    State original = State::unchanged;
    std::vector<std::pair<std::string, State>> copies{}; ///< by preset id, those not as saved
    bool asSaved() const { return original == State::unchanged && copies.empty(); }
};

/// Checks `row`'s file and copies against the disk, reading them as `how` says. Throws Cancelled
/// when `isCancelled` stops the work.
RowCheck check(const Row& row, Verify how, const CancelCheck& isCancelled = {});

/// Why a session file can't be opened, as a whole sentence naming the file.
class Unreadable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The document, one key a line at the top and one file a line below, so that a diff of two
/// sessions reads like a diff of lists. Paths that aren't UTF-8 are kept exactly, as bytes.
std::string toJson(const Record& record);
/// Reads what toJson writes; every value is checked. Throws Unreadable naming `name` and what is
/// wrong (not JSON, not a session, a newer version, a key of the wrong kind and where).
Record fromJson(std::string_view json, std::string_view name);

/// Saves `record` at `path` in one step: readers see the old file or the whole new one. Throws
/// std::system_error with the system's error code.
void save(const std::filesystem::path& path, const Record& record);
/// The session saved at `path`; throws Unreadable.
Record load(const std::filesystem::path& path);

} // namespace tavrin::Session
