#pragma once

// Helpers shared by the fuzz targets.

#include "tavrin/core/AudioFileError.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tavrin::fuzz {

/// The extensions an audio input is saved under, the first byte choosing one.
inline constexpr const char* extensions[] = {"wav", "wave", "bwf", "aif", "aiff", "aifc",
                                             "mp3", "m4a",  "aac", "mp4", "flac", "caf"};

/// A few kilobytes of compressed audio can claim hours of samples; the meter's cost per sample
/// is covered by its own tests, so each input stops after this many chunks.
inline constexpr int chunkLimit = 16;

/// `text` starts with `opening` and ends with a closing parenthesis and a full stop.
inline bool enclosed(const std::string& text, std::string_view opening) {
    return text.size() > opening.size() + 2 && text.starts_with(opening) && text.ends_with(").");
}

/// One of the sentences the file meter may end with.
inline bool isMeasuringSentence(const std::string& text) {
    return enclosed(text, "Can't open this file as audio (") ||
           enclosed(text, "Reading stopped part way (") ||
           (text.starts_with("The file claims a sample rate of ") &&
            text.ends_with(" Hz, which can't be measured.")) ||
           text == "The file has no audio channels." ||
           text == "Not enough memory to read the file." || text == "Unsupported sample format." ||
           text == "The file holds invalid samples (not a number or infinite)." ||
           text == AudioFileError::nothingDecoded;
}

/// Stops the fuzzer with a finding: libFuzzer saves the input that led here.
[[noreturn]] inline void finding(std::string_view what) {
    std::fprintf(stderr, "FINDING: %.*s\n", int(what.size()), what.data());
    std::abort();
}

/// A file of this process, named with `extension`, in memory where the system offers it.
inline std::filesystem::path scratchFile(std::string_view extension) {
    const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm")
                                             ? "/dev/shm"
                                             : std::filesystem::temp_directory_path();
    return folder / ("tavrin-fuzz-" + std::to_string(::getpid()) + (extension.empty() ? "" : ".") +
                     std::string(extension));
}

/// Writes `size` bytes at `data` to `path`, replacing it.
inline void writeFile(const std::filesystem::path& path, const std::uint8_t* data,
                      std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        finding("cannot write the scratch file");
}

} // namespace tavrin::fuzz
