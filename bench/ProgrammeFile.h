#pragma once

// Ten minutes of stereo programme for the file benchmarks, made once with ffmpeg and kept in the
// temporary folder between runs.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tavrin::bench {

constexpr double programmeSeconds = 600;

/// Pink noise, a different seed per channel, at a programme-like level, encoded with ffmpeg
/// `args` into `file`; empty when ffmpeg could not make it.
inline std::filesystem::path programmeFile(const std::string& file, const std::string& args) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "tavrin-bench-files";
    const fs::path path = dir / file;
    if (fs::exists(path))
        return path;
    fs::create_directories(dir);
    const std::string noise = "anoisesrc=d=600:c=pink:r=48000:a=0.25:seed=";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + noise +
                                "1 -f lavfi -i " + noise + "2 -filter_complex amerge=inputs=2 " +
                                args + " '" + path.string() + ".part'";
    if (std::system(command.c_str()) != 0)
        return {};
    fs::rename(path.string() + ".part", path);
    return path;
}

} // namespace tavrin::bench
