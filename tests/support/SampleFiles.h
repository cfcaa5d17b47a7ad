#pragma once

// Short WAV files with known readings, written byte by byte, for the app's tests and tools.

#include "HandWritten.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace tavrin::test {

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

/// A 997 Hz tone at `dBFS` on every channel (in stereo it reads `dBFS` LUFS integrated), with a
/// one-sample click at `clickDBFS` near the start when given: a peak that stops gain short.
inline std::filesystem::path writeTone(const std::filesystem::path& path, double dBFS,
                                       double seconds = 3,
                                       std::optional<double> clickDBFS = std::nullopt,
                                       std::uint16_t channels = 2) {
    auto tone = sine(997, dBFS, seconds, 48000);
    if (clickDBFS)
        tone.at(10) = amplitude(*clickDBFS);
    writeFile(path, Wav{.channels = channels, .data = pcm16(replicate(tone, channels))}.bytes());
    return path;
}

/// A stereo tone at `dBFS` whose header declares 8 s of audio but which ends after 1.1 s: cut off,
/// as an interrupted copy leaves a file.
inline std::filesystem::path writeCutOffTone(const std::filesystem::path& path, double dBFS) {
    const auto tone = replicate(sine(997, dBFS, 1.1, 48000), 2);
    writeFile(path, Wav{.channels = 2, .data = pcm16(tone), .dataSize = 8 * 48000 * 4}.bytes());
    return path;
}

/// Digital silence: measured, but no reading.
inline void writeSilence(const std::filesystem::path& path, double seconds = 2) {
    writeFile(path,
              Wav{.channels = 2, .data = pcm16(replicate(silence(seconds, 48000), 2))}.bytes());
}

/// Named like audio, but not audio.
inline void writeUnreadable(const std::filesystem::path& path) {
    writeFile(path, "This is a text file named like a WAV file.\n");
}

} // namespace tavrin::test
