#pragma once

// Private to TavrinKit: chunk sizes that claim more than the file holds, found before the decoder
// reads them. FFmpeg's WAV, AIFF, CAF and MP4 readers allocate, and zero, what a chunk claims
// before reading it, so four bytes of header could cost gigabytes; a claim cut at the end of the
// file costs no more than the file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace tavrin::ChunkSizes {

/// A chunk's size field and the bytes that end the chunk at the end of the file, in the field's
/// own byte order.
struct Clamp {
    std::uint64_t offset = 0; ///< of the size field in the file
    std::size_t width = 0;    ///< 4 or 8
    std::array<std::uint8_t, 8> bytes{};
};

/// Reads up to `size` bytes at `offset` into `out`; returns how many it read.
using ReadAt =
    std::function<std::size_t(std::uint64_t offset, std::uint8_t* out, std::size_t size)>;

/// The first top-level chunk of a RIFF (WAV, RF64, BW64), AIFF, CAF or MP4 file that runs past
/// `fileSize`, clamped to the end of the file; nothing when every chunk fits or the file is of
/// another kind. A chunk that says it runs to the end (CAF's −1, MP4's 0) is left as it is.
std::optional<Clamp> overrunningChunk(const ReadAt& readAt, std::uint64_t fileSize);

/// Overlays `clamp` on the `size` bytes at `bytes`, which were read from `offset`.
void apply(const Clamp& clamp, std::uint64_t offset, std::uint8_t* bytes, std::size_t size);

} // namespace tavrin::ChunkSizes
