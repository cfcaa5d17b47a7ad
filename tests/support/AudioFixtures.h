#pragma once

// Real audio files made at test time with the installed ffmpeg, in a temporary folder that is
// removed afterwards.

#include "Signals.h"
#include "Throws.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/decode/DecoderLog.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/workflow/Workflow.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace tavrin::test {

namespace fs = std::filesystem;

/// FFmpeg's own diagnostics, which the programs silence, would bury the tests' output.
inline const bool decoderLogSilenced = (silenceDecoderLog(), true);

/// A fresh folder under $TAVRIN_TEST_TMP (or the system temp folder), removed with its contents.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        const char* base = std::getenv("TAVRIN_TEST_TMP");
        fs::path root = base ? fs::path(base) : fs::temp_directory_path();
        m_path = root / ("tavrin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(const fs::path& name) const { return m_path / name; }

private:
    fs::path m_path;
};

inline void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Overwrites `count` bytes with noise, from `at` (a fraction of the file's size) on.
inline void damageAt(const fs::path& path, double at, std::size_t count) {
    std::string bytes = readBytes(path);
    std::uint32_t state = 12345;
    const auto first = std::size_t(double(bytes.size()) * at);
    for (std::size_t i = first; i < first + count && i < bytes.size(); ++i)
        bytes[i] = char((state = state * 1664525 + 1013904223) >> 24);
    writeBytes(path, bytes);
}

/// The names in `dir`, sorted.
inline std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    return names;
}

/// The sentence of the AudioFileError, which must be of `kind`, that `work` throws.
inline std::string failure(const std::function<void()>& work, AudioFileError::Kind kind) {
    return thrownMessage<AudioFileError>(
        work, [kind](const AudioFileError& e) { EXPECT_EQ(e.kind(), kind) << e.what(); });
}

/// What measuring `path` as the programs do ends in: the reader's sentence, or "Reading: " with the
/// format and the duration in seconds, then the sentence of each finding after "; ". A reading must
/// hold no number that is not finite, and no fault of Tavrin's own may show.
inline std::string outcome(const fs::path& path) {
    const Workflow::Reading reading = Workflow::measure(path, false);
    if (!reading.result) {
        EXPECT_NE(reading.error, Workflow::internalMeasuringError);
        return reading.error.value_or("");
    }
    const LoudnessResult& r = *reading.result;
    for (const auto& value :
         {r.integrated, r.loudnessRange, r.maxMomentary, r.maxShortTerm, r.samplePeak, r.truePeak})
        EXPECT_TRUE(!value || std::isfinite(*value)) << reading.format;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f s", r.duration);
    std::string text =
        "Reading: " + reading.format + ", " + duration + (r.integrated ? "" : ", no loudness");
    for (const auto& finding : reading.findings)
        text += "; " + finding.text;
    return text;
}

/// One file for encodeAll(): `channels` at `rate`, encoded into `out` with ffmpeg `args` (codec,
/// layout, container, …).
struct Encoding {
    Channels channels;
    int rate;
    fs::path out;
    std::string args;
};

/// Encodes every job in one ffmpeg run (starting ffmpeg costs more than encoding short files).
inline void encodeAll(const std::vector<Encoding>& jobs) {
    std::string inputs, outputs;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Encoding& job = jobs[i];
        const fs::path raw = job.out.string() + ".raw"; // interleaved 32-bit float samples
        std::string bytes;
        for (std::size_t f = 0; f < (job.channels.empty() ? 0 : job.channels[0].size()); ++f)
            for (const auto& channel : job.channels) {
                const float v = static_cast<float>(channel[f]);
                bytes.append(reinterpret_cast<const char*>(&v), 4);
            }
        writeBytes(raw, bytes);
        inputs += " -f f32le -ar " + std::to_string(job.rate) + " -ac " +
                  std::to_string(job.channels.size()) + " -i '" + raw.string() + "'";
        outputs += " -map " + std::to_string(i) + " " + job.args + " '" + job.out.string() + "'";
    }
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y" + inputs + outputs;
    const int status = std::system(command.c_str());
    for (const Encoding& job : jobs)
        fs::remove(job.out.string() + ".raw");
    ASSERT_EQ(status, 0) << command;
}

inline void encode(const Channels& channels, int rate, const fs::path& out,
                   const std::string& args) {
    encodeAll({{channels, rate, out, args}});
}

} // namespace tavrin::test
