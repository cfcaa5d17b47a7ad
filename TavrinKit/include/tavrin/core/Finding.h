#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

/// Something wrong with a file's audio or its container, found while it is measured: damage that
/// fails the file (unless the user only wants to be warned), or a warning that never does.
struct Finding {
    enum class Kind { cutOff, undecodable, container, clipping, dropout, dcOffset, phase };

    Kind kind = Kind::cutOff;
    std::int64_t count = 1;     ///< how many times it happens (runs, gaps, channels)
    std::optional<double> at{}; ///< s, where the first one is; absent when it has no place
    std::string text;           ///< one whole sentence
    bool fromOriginal = false;  ///< found in the original a copy was made from, not in the copy

    bool operator==(const Finding&) const = default;

    /// Damage fails a file; the rest only warns.
    bool isDamage() const;
    /// The short form in a refusal's parentheses: "cut off at 0:01", "clipped 12 times from 0:41".
    std::string brief() const;
    /// The same finding as a copy of the damaged file carries it: its sentence after "The original
    /// was damaged: ".
    Finding asOriginal() const;
};

/// How damage counts: it fails the file, or it is only a warning.
enum class DamagePolicy { fail, warn };

/// The kind's coded form: "cutOff", "undecodable", "container", "clipping", "dropout",
/// "dcOffset", "phase".
std::string_view rawValue(Finding::Kind kind);
std::optional<Finding::Kind> findingKindFromRawValue(std::string_view raw);

/// Whether any of `findings` is damage.
bool anyDamage(const std::vector<Finding>& findings);
/// The first damage among `findings`, or nothing.
const Finding* firstDamage(const std::vector<Finding>& findings);

/// The findings' sentences, in order.
std::vector<std::string> findingSentences(const std::vector<Finding>& findings);
/// The damage among `findings` as problems of a verdict, the file's own first: "the audio is
/// damaged (cut off at 0:01, clipped 3 times from 0:12)", "the original was damaged (…)".
std::vector<std::string> damageProblems(const std::vector<Finding>& findings);

/// The findings as a JSON array of {"kind", "count", "at", "text"} objects ("fromOriginal": true
/// added for an original's).
std::string findingsJson(const std::vector<Finding>& findings);

/// The sentences each kind of finding says, with its numbers.
namespace Findings {

/// The file ends `missing` seconds before its container says it should, `declared` seconds long.
Finding cutOff(double missing, double declared);
/// `seconds` of audio couldn't be decoded, the longest run beginning at `at` when known.
Finding undecodable(double seconds, std::optional<double> at);
/// The container's signature or structure is damaged: `what` says how, e.g. "its first bytes
/// aren’t those of any audio format, so the format had to be guessed".
Finding container(std::string_view what);
/// `runs` runs of held samples near full scale, the first at `at`.
Finding clipping(std::int64_t runs, double at);
/// `gaps` drop-outs to digital silence inside the programme, the first at `at`.
Finding dropout(std::int64_t gaps, double at);
/// A DC offset of up to `largest` (of full scale) on the channels numbered `channels` (from 1).
Finding dcOffset(const std::vector<int>& channels, double largest);
/// The stereo pair's loudness-weighted correlation is `correlation`; folded to mono the programme
/// loses `monoLoss` LU.
Finding phase(double correlation, double monoLoss);

} // namespace Findings

} // namespace tavrin
