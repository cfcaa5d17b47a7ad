#pragma once

// Helpers shared by the fuzz targets.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tavrin::fuzz {

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
    return folder / ("tavrin-fuzz-" + std::to_string(::getpid()) + "." + std::string(extension));
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
