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

/// A stereo 997 Hz tone at `dBFS` on both channels, which reads `dBFS` LUFS integrated, with a
/// one-sample click at `clickDBFS` a second in when given (a peak that stops gain short).
inline void writeTone(const std::filesystem::path& path, double dBFS, double seconds = 3,
                      std::optional<double> clickDBFS = std::nullopt) {
    auto tone = sine(997, dBFS, seconds, 48000);
    if (clickDBFS)
        tone.at(48000) = amplitude(*clickDBFS);
    writeFile(path, Wav{.channels = 2, .data = pcm16(replicate(tone, 2))}.bytes());
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
