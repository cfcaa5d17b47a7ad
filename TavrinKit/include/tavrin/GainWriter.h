#pragma once

#include "tavrin/AudioFileMeter.h"
#include "tavrin/Cancellation.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

/// Fixed copies: a new WAV or AIFF file holding an original's audio times one constant gain, in a
/// PCM format as close to the original's as the copy's container allows. Nothing existing is ever
/// changed or replaced: the original is only read, and a copy appears under its name only in full.
namespace tavrin::GainWriter {

/// Frames read, scaled and written per buffer; cancellation is checked before each one.
inline constexpr std::size_t bufferFrames = 65536;

/// The sentence for a copy that needs more memory than there is.
inline constexpr std::string_view outOfMemory = "Not enough memory to write the file.";

/// Where the copy of `original` goes: in `folder`, or beside the original when there is none,
/// named stem + " (" + label + ").wav" or ".aif" (AIFF originals keep AIFF, everything else becomes
/// WAV); when that name is taken, " 2", " 3", … go before the extension. `label` is the preset's
/// short name. Never fails; only looks at which names exist.
std::filesystem::path destination(const std::filesystem::path& original, std::string_view label,
                                  const std::optional<std::filesystem::path>& folder);

/// The files that `destination` could have named earlier: those in the same folder named like a
/// copy of `original` for `label`, with or without a number, in name order. Never fails; a folder
/// that can't be listed has none.
std::vector<std::filesystem::path>
namedLikeCopies(const std::filesystem::path& original, std::string_view label,
                const std::optional<std::filesystem::path>& folder);

/// Writes the copy of `from` at `to`, every sample multiplied by 10^(gain/20), with triangular
/// dither for integer copies of 16 bits or fewer (the same input and gain always give the same
/// samples). `to` ending in ".aif" makes a big-endian integer AIFF, anything else a WAV that
/// becomes RF64 past 4 GiB. `progress` gets the fraction written after each buffer.
/// Throws AudioFileError with a whole sentence: unreadable for trouble with the original,
/// unwritable for trouble with the copy, including when `to` exists ("… already exists; Tavrin
/// never overwrites files."). Throws Cancelled when `isCancelled` answers true before a buffer.
/// After any failure or cancellation nothing is left at `to` or beside it.
void write(const std::filesystem::path& from, const std::filesystem::path& to, double gain,
           const ProgressFn& progress = {}, const CancelCheck& isCancelled = {});

/// A gain that changes from frame to frame, on top of the constant one: fills `factors` with the
/// linear factors of the frames from `first` on. It is asked for consecutive runs of frames, in
/// order, and each factor multiplies every channel of its frame.
using GainCurve = std::function<void(std::int64_t first, std::span<float> factors)>;

/// write() with every frame also multiplied by its factor from `curve` before dithering. Where the
/// curve gives exactly 1, the samples equal those write() gives at `gain`.
void write(const std::filesystem::path& from, const std::filesystem::path& to, double gain,
           const GainCurve& curve, const ProgressFn& progress = {},
           const CancelCheck& isCancelled = {});

} // namespace tavrin::GainWriter
