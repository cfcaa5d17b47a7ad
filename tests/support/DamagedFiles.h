#pragma once

// Encoded files with part of their audio destroyed, as a failing disk or a broken copy leaves
// them, made at test time with the installed ffmpeg.

#include "AudioFixtures.h"

#include <random>

namespace tavrin::test {

/// For encodeAll(): 40 s of a stereo tone at 44.1 kHz, encoded with ffmpeg `args`.
inline Encoding fortySecondTone(const fs::path& out, const std::string& args) {
    return {replicate(sine(440, -12, 40, 44100), 2), 44100, out, args};
}

/// Encodes fortySecondTone() with `args`, then overwrites 200 KB from 40% of the file on with
/// zeros, or else with the same pseudo-random bytes every run.
inline void writeDamaged(const fs::path& path, const std::string& args, bool zeros) {
    encodeAll({fortySecondTone(path, args)});
    std::string bytes = readBytes(path);
    std::mt19937 random(1);
    for (std::size_t i = bytes.size() * 2 / 5, end = std::min(i + 200'000, bytes.size()); i < end;
         ++i)
        bytes[i] = zeros ? '\0' : static_cast<char>(random() & 0xFF);
    writeBytes(path, bytes);
}

/// A 40 s MP3 at 128 kb/s, whose Info frame counts its frames, with garbage from about 16 s on.
inline void writeCorruptMp3(const fs::path& path) {
    writeDamaged(path, "-c:a libmp3lame -b:a 128k", false);
}

/// A 40 s FLAC, whose STREAMINFO counts its frames, zeroed from about 16 s on.
inline void writeZeroedFlac(const fs::path& path) {
    writeDamaged(path, "-c:a flac", true);
}

} // namespace tavrin::test
