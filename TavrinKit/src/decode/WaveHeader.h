#pragma once

// Private to TavrinKit: the parts of a WAV header that FFmpeg does not pass on as written: the
// sample container and speaker mask of the 'fmt ' chunk, and other chunks by their type.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrin::WaveHeader {

/// What the 'fmt ' chunk says of linear PCM.
struct Format {
    bool isFloat = false;
    int channels = 0;
    int containerBytes = 0; ///< bytes per sample: the block alignment over the channels
    int validBits = 0;      ///< significant bits of each sample, at the container's top
    std::uint32_t mask = 0; ///< WAVE_FORMAT_EXTENSIBLE speaker bits; 0 when the file has none
};

/// The body of the first chunk of type `id` in a RIFF, RF64 or BW64 WAVE file; nothing when the
/// file is not one, has no such chunk, or the chunk runs past the end of the file.
std::optional<std::vector<std::uint8_t>> chunk(const std::filesystem::path& path,
                                               std::string_view id);

/// The bytes of audio the header declares, even when the file ends before them: the 'data'
/// chunk's size, or for RF64 and BW64 the size their 'ds64' chunk gives. Nothing when the file is
/// not WAV or declares no size (0, or 0xFFFFFFFF without a 'ds64' chunk: the data runs to the end).
std::optional<std::uint64_t> dataBytes(const std::filesystem::path& path);

/// The frames the header declares (dataBytes() over the block alignment), even when the file
/// ends before them: a cut-off file still says how long it was. Nothing when the file is not
/// linear PCM WAV or declares no size.
std::optional<std::int64_t> declaredFrames(const std::filesystem::path& path);

/// The file's sample format when it is integer or float linear PCM.
std::optional<Format> pcmFormat(const std::filesystem::path& path);

} // namespace tavrin::WaveHeader
