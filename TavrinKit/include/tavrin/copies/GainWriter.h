#pragma once

#include "tavrin/core/Cancellation.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/// Fixed copies: a new WAV or AIFF file holding an original's audio times one constant gain, in a
/// PCM format as close to the original's as the copy's container allows, or, when asked, a file in
/// the original's own delivery format. Nothing existing is ever changed or replaced: the original
/// is only read, and a copy appears under its name only in full.
namespace tavrin::GainWriter {

/// What a copy is made as. `wav`: WAV, or AIFF for an AIFF original. `original`: FLAC stays FLAC
/// (.flac), ALAC in .m4a or .caf becomes ALAC in .m4a, AAC in .m4a, .mp4 or .aac becomes AAC in
/// .m4a, MP3 stays MP3 (.mp3), each at the original's sample rate and channels, with its bit rate
/// or bit depth, tags, chapters and pictures (less ReplayGain, R128 gain, iTunNORM and iTunSMPB
/// tags, which the gain makes wrong); every other original is copied as with `wav`, and a WAV
/// copy of a WAV original keeps its Broadcast Wave ('bext', loudness fields marked not set) and
/// iXML chunks.
enum class CopyFormat { wav, original };

/// How a copy in the original's delivery format was encoded.
struct Encoding {
    std::string name;   ///< "MP3 192 kbps", "MP3 VBR V2", "AAC 128 kbps", "FLAC" or "ALAC"
    bool lossy = false; ///< MP3 and AAC: the copy's peaks differ from the gained original's
    /// The original's tags the copy lacks or holds otherwise, by FFmpeg's names, "chapters" and
    /// "picture": what the copy couldn't carry.
    std::vector<std::string> notCarried{};
    bool operator==(const Encoding&) const = default;
};

/// Frames read, scaled and written per buffer; cancellation is checked before each one.
inline constexpr std::size_t bufferFrames = 65536;

/// Where the copy of `original` goes: in `folder`, or beside the original when there is none,
/// named stem + " (" + label + ").wav" or ".aif" (AIFF originals keep AIFF, everything else becomes
/// WAV), or with the extension of the original's delivery format as `format` says; when that name
/// is taken, " 2", " 3", … go before the extension. `label` is the preset's short name. Never
/// fails; only looks at which names exist (and, for `original`, at the original's codec).
std::filesystem::path destination(const std::filesystem::path& original, std::string_view label,
                                  const std::optional<std::filesystem::path>& folder,
                                  CopyFormat format = CopyFormat::wav);

/// The files that `destination` could have named earlier: those in the same folder named like a
/// copy of `original` for `label`, with or without a number, in name order. Never fails; a folder
/// that can't be listed has none.
std::vector<std::filesystem::path>
namedLikeCopies(const std::filesystem::path& original, std::string_view label,
                const std::optional<std::filesystem::path>& folder,
                CopyFormat format = CopyFormat::wav);

/// A gain that changes from frame to frame, on top of the constant one: fills `factors` with the
/// linear factors of the frames from `first` on. It is asked for consecutive runs of frames, in
/// order, and each factor multiplies every channel of its frame.
using GainCurve = std::function<void(std::int64_t first, std::span<float> factors)>;

/// A copy written in full under a hidden temporary name beside the name it is meant for, so that
/// it can be measured before anyone can take it for finished; it disappears unless committed.
class PendingCopy {
public:
    struct State;
    explicit PendingCopy(std::unique_ptr<State> state);
    PendingCopy(PendingCopy&&) noexcept;
    PendingCopy& operator=(PendingCopy&&) noexcept;
    ~PendingCopy();

    /// The temporary holding the copy, to be read before commit().
    const std::filesystem::path& file() const;
    /// How the copy was encoded; absent for WAV and AIFF copies.
    const std::optional<Encoding>& encoding() const;
    /// Gives the copy its name and returns it: the name it was written for, or, when another
    /// program took that meanwhile, the first free numbered one (only for a copy named by
    /// destination(); one given its name fails with "… already exists"). Throws AudioFileError
    /// (unwritable) with a whole sentence.
    std::filesystem::path commit();

private:
    std::unique_ptr<State> m_state;
};

/// The one-line record a copy carries in its metadata, asked for once, when the writer needs it:
/// before the first frame of an encoded copy, after the last of a WAV or AIFF copy.
using RecordFn = std::function<std::string()>;

/// Writes the copy of `original` for `label` that destination() names, as write() does, but leaves
/// it pending. The record goes into the copy's metadata: a WAV's LIST/INFO comment, an AIFF's
/// annotation, a TAVRIN_PROVENANCE tag in FLAC, MP3 and M4A. Throws as write() does, and what
/// `record` throws, and leaves nothing behind then.
PendingCopy writePending(const std::filesystem::path& original, std::string_view label,
                         const std::optional<std::filesystem::path>& folder, double gain,
                         const GainCurve& curve, const RecordFn& record,
                         const CancelCheck& isCancelled = {}, CopyFormat format = CopyFormat::wav);

/// Writes the copy of `from` at `to`, every sample multiplied by 10^(gain/20), with triangular
/// dither for integer copies of 16 bits or fewer (the same input and gain always give the same
/// samples). `to` ending in ".aif" makes a big-endian integer AIFF, anything else a WAV that
/// becomes RF64 past 4 GiB. With `format` original, an original in a delivery format is encoded in
/// it instead (whatever `to`'s extension), and how is returned; absent for WAV and AIFF copies.
/// `progress` gets the fraction written after each buffer.
/// Throws AudioFileError with a whole sentence: unreadable for trouble with the original,
/// unwritable for trouble with the copy, including when `to` exists ("… already exists; Tavrin
/// never overwrites files."). Throws Cancelled when `isCancelled` answers true before a buffer.
/// After any failure or cancellation nothing is left at `to` or beside it.
std::optional<Encoding> write(const std::filesystem::path& from, const std::filesystem::path& to,
                              double gain, const ProgressFn& progress = {},
                              const CancelCheck& isCancelled = {},
                              CopyFormat format = CopyFormat::wav);

/// How `copy`, a copy of `original` in `format`, was encoded, as write() returns it; absent for
/// WAV and AIFF copies and for an original that can't be opened.
std::optional<Encoding> encoding(const std::filesystem::path& original,
                                 const std::filesystem::path& copy, CopyFormat format);

/// write() with every frame also multiplied by its factor from `curve` before dithering (and
/// before encoding). Where the curve gives exactly 1, the samples equal those write() gives at
/// `gain`.
std::optional<Encoding> write(const std::filesystem::path& from, const std::filesystem::path& to,
                              double gain, const GainCurve& curve, const ProgressFn& progress = {},
                              const CancelCheck& isCancelled = {},
                              CopyFormat format = CopyFormat::wav);

} // namespace tavrin::GainWriter
