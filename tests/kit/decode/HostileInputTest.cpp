// Files built to break the reader: lying headers, impossible formats, files that are not files,
// files that change while they are read. Each must end in a reading or in one whole sentence.

#include "AudioFixtures.h"
#include "HandWritten.h"
#include "decode/AppleChannelLayout.h"
#include "tavrin/core/AudioFileError.h"
#include "tavrin/core/AudioTypes.h"
#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/Workflow.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <utility>

using namespace tavrin;
using namespace tavrin::test;

namespace {

template <class T, class Change> std::string with(Change change) {
    T file;
    change(file);
    return file.bytes();
}

/// The process's peak resident memory in KB; reset to the current use first when `reset`.
long peakKB(bool reset) {
    if (reset)
        std::ofstream("/proc/self/clear_refs") << "5";
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;)
        if (key == "VmHWM:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
    return 0;
}

/// What `work` returns, checked to cost little: a reader that trusted a header's sizes spent
/// seconds and 1.6 GB on a file of 176 bytes, and 140 MB on a 1 KB file claiming 512 channels.
/// Reading a small file costs a few megabytes; the bounds leave room for a loaded machine and a
/// sanitizer build.
template <class Work> auto cheaply(Work work) {
    const long before = peakKB(true);
    const auto start = std::chrono::steady_clock::now();
    auto result = work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), 3.0);
    EXPECT_LT(peakKB(false) - before, 64 * 1024);
    return result;
}

/// A regression input of a fuzz target, written as the target writes it: the first byte picks one
/// of the extensions, the bytes after the target's header are the file.
struct Regression {
    fs::path path;
    std::size_t which;
    std::string header;
};

/// The regression inputs of fuzz target `target`, whose first `headerBytes` bytes are not the file,
/// each written to `dir`. Fails when there are none.
std::vector<Regression> regressions(const TempDir& dir, const std::string& target,
                                    const std::vector<const char*>& extensions,
                                    std::size_t headerBytes = 1) {
    std::vector<Regression> inputs;
    for (const auto& entry : fs::directory_iterator(TAVRIN_FUZZ_REGRESSIONS "/" + target)) {
        const std::string bytes = readBytes(entry.path());
        const std::size_t which = std::uint8_t(bytes.at(0)) % extensions.size();
        const fs::path path = dir / (entry.path().filename().string() + "." + extensions[which]);
        writeBytes(path, bytes.substr(headerBytes));
        inputs.push_back({path, which, bytes.substr(0, headerBytes)});
    }
    EXPECT_FALSE(inputs.empty()) << target;
    return inputs;
}

const std::vector<const char*> audioExtensions = {"wav", "wave", "bwf", "aif", "aiff", "aifc",
                                                  "mp3", "m4a",  "aac", "mp4", "flac", "caf"};

} // namespace

// Inputs that fuzzing found, and files whose chunks claim gigabytes (FFmpeg allocates what a
// chunk claims before it reads it), fed to the reader as the fuzz targets feed them.
TEST(HostileInput, FuzzRegressionsEndInAReadingOrASentenceCheaply) {
    TempDir dir;
    for (const auto& input : regressions(dir, "fuzz_measure", audioExtensions)) {
        SCOPED_TRACE(input.path.filename());
        const std::string result = cheaply([&] { return outcome(input.path); });
        EXPECT_TRUE(result.starts_with("Reading: ") || result.ends_with(".")) << result;
    }
    // Fixed copies of them, at the gain the second byte picks, in the format a bit of the first
    // picks, as fuzz_write writes them.
    for (const auto& input : regressions(dir, "fuzz_write", audioExtensions, 2)) {
        SCOPED_TRACE(input.path.filename());
        const double gain = (std::uint8_t(input.header[1]) - 128) / 4.0;
        const auto format =
            input.header[0] & 0x40 ? GainWriter::CopyFormat::original : GainWriter::CopyFormat::wav;
        const auto copy = cheaply([&] {
            return Workflow::writeFixedCopy(input.path, gain, DeliverySpec::ebuR128(), dir.path(),
                                            false, {}, format);
        });
        const auto* failed = std::get_if<Workflow::CopyOutcome::Failed>(&copy.value);
        EXPECT_TRUE(!failed || failed->message != Workflow::internalCopyError);
    }
    // Our own parsers of layout records: box sizes that step back, records that claim gigabytes.
    using AppleChannelLayout::Container;
    for (const auto& input :
         regressions(dir, "fuzz_channel_layout", {"caf", "aiff", "mp4", "wav"})) {
        SCOPED_TRACE(input.path.filename());
        const Container containers[] = {Container::caf, Container::aiff, Container::mp4,
                                        Container::wav};
        cheaply(
            [&] { return AppleChannelLayout::readLabels(input.path, containers[input.which]); });
    }
}

// Cover pictures of a few hundred bytes declaring gigapixels: decoding them cost a gigabyte and
// seconds each, and neither measuring nor copying needs their pixels.
TEST(HostileInput, CoverPicturesAreNeverDecoded) {
    TempDir dir;
    const Channels tone = replicate(sine(997, -20, 1, 44100), 2);
    encodeAll({{tone, 44100, dir / "tone.mp3", "-c:a libmp3lame -id3v2_version 0"},
               {tone, 44100, dir / "tone.flac", "-c:a flac"}});
    writeBytes(dir / "covers.mp3",
               id3Pictures(std::vector(4, png(16000, 16000))) + readBytes(dir / "tone.mp3"));
    writeBytes(dir / "covers.flac",
               withPictures(readBytes(dir / "tone.flac"), std::vector(200, png(2100, 2100))));
    for (const char* name : {"covers.mp3", "covers.flac"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(cheaply([&] { return outcome(dir / name); }).starts_with("Reading: "));
        const auto copy = cheaply([&] {
            return Workflow::writeFixedCopy(dir / name, -3, DeliverySpec::ebuR128(), dir.path(),
                                            false, {}, GainWriter::CopyFormat::original);
        });
        EXPECT_TRUE(std::holds_alternative<Workflow::CopyOutcome::Written>(copy.value));
    }
}

// Headers whose lies our own code answers. Those that only FFmpeg refuses are regression inputs
// of the fuzz targets above.
TEST(HostileInput, HeadersThatLie) {
    const std::string good = Wav{}.bytes();
    const char* oneSecond = "Reading: WAV · 16-bit · 48 kHz · mono, 1.000 s";
    const char* nothing =
        "Reading: WAV · 16-bit · 48 kHz · mono, 0.000 s, no loudness; The file ends "
        "1.0 s before its header says (1.0 s): it is cut off; what is "
        "there was measured.";
    const char* caf = "Reading: CAF · 16-bit · 48 kHz · stereo, 1.000 s";
    const auto cafRate = [](double rate) { return with<Caf>([rate](Caf& c) { c.rate = rate; }); };
    const char* undecodable = "None of the file’s audio could be decoded: it is damaged, or "
                              "encoded in a way that can’t be read.";
    const char* tooFast =
        "The file claims a sample rate of 2147483647 Hz, which can't be measured.";
    const struct {
        std::string name, bytes;
        const char* expected;
    } cases[] = {
        // clang-format off
        {"empty.wav", "", "Can't open this file as audio (The file is empty)."},
        {"data-chunk-header-only.wav", good.substr(0, 44), nothing},
        {"cut-in-first-sample.wav", good.substr(0, 45), nothing},
        {"4gib.wav", with<Wav>([](Wav& w) { w.riffSize = w.dataSize = 0xFFFFFFFF; }), oneSecond},
        {"past-end.wav", with<Wav>([](Wav& w) { w.dataSize = 480000; }), "Reading: WAV · 16-bit · 48 kHz · mono, 1.000 s; The file ends 4.0 s before its header says (5.0 s): it is cut off; what is there was measured."},
        {"block-align-0.wav", with<Wav>([](Wav& w) { w.blockAlign = 0; w.dataSize = 480000; }), oneSecond}, // read as FFmpeg reads it
        {"block-align-9.wav", with<Wav>([](Wav& w) { w.blockAlign = 9; }), oneSecond},
        {"no-channels.wav", with<Wav>([](Wav& w) { w.channels = 0; }), "The file has no audio channels."},
        {"3999hz.wav", with<Wav>([](Wav& w) { w.rate = 3999; }), "The file claims a sample rate of 3999 Hz, which can't be measured."},
        {"4000hz.wav", with<Wav>([](Wav& w) { w.rate = 4000; }), "Reading: WAV · 16-bit · 4 kHz · mono, 12.000 s"},
        {"2ghz.wav", with<Wav>([](Wav& w) { w.rate = 0x7FFFFFFF; }), tooFast},
        {"7bit.wav", with<Wav>([](Wav& w) { w.bits = 7; }), "Reading: WAV · 8-bit · 48 kHz · mono, 2.000 s"}, // stored as 8 bits, as WAV says
        {"unknown-codec.wav", with<Wav>([](Wav& w) { w.formatTag = 0xFFFF; }), "Can't open this file as audio (No decoder for this kind of audio)."},
        {"chan-4g-labels.caf", with<Caf>([](Caf& c) { c.chan = layoutRecord(0, 0, 0xFFFFFFFF, {1, 2}); }), caf},
        {"chan-8-labels-for-2.caf", with<Caf>([](Caf& c) { c.chan = layoutRecord(0, 0, 8, {1, 2, 3, 4, 5, 6, 7, 8}); }), caf},
        {"data-unknown-size.caf", with<Caf>([](Caf& c) { c.dataSize = ~0ull; }), caf},
        {"data-past-end.caf", with<Caf>([](Caf& c) { c.dataSize = 1ull << 62; }), caf},
        {"nan-hz.caf", cafRate(std::numeric_limits<double>::quiet_NaN()), "The file has no audio channels."},
        {"inf-hz.caf", cafRate(std::numeric_limits<double>::infinity()), tooFast},
        {"ok.aiff", Aiff{}.bytes(), "Reading: AIFF · 16-bit · 48 kHz · mono, 1.000 s"},
        {"noise-frames.flac", flacOfNoise(240000), undecodable},
        {"noise-frames-no-length.flac", flacOfNoise(0), undecodable},
        // clang-format on
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir / c.name, c.bytes);
        EXPECT_EQ(outcome(dir / c.name), c.expected);
    }
}

// A pipe without a writer would block the reader for ever and a device would be read for ever:
// neither is opened, nor listed among the audio files of a selection.
TEST(HostileInput, PipesAndDevicesAreRefusedAndNotListed) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "folder/pipe.flac").c_str(), 0600), 0);
    writeBytes(dir / "folder/real.wav", Wav{}.bytes());

    const char* refused = "Can't open this file as audio (It is not a regular file).";
    EXPECT_EQ(outcome(dir / "pipe.wav"), refused);
    EXPECT_EQ(outcome("/dev/zero"), refused); // a device, read for ever
    EXPECT_EQ(AudioTypes::audioFiles({dir / "pipe.wav", dir / "folder"}),
              std::vector<fs::path>{dir / "folder/real.wav"});
}

// The file shrinks under the reader after the first chunk: the frames read until then are
// measured, or the reading stops with a sentence; never a crash or a hang.
TEST(HostileInput, FileTruncatedWhileItIsMeasured) {
    TempDir dir;
    const fs::path path = dir / "shrinking.wav";
    const double rate = 8000, seconds = 400;
    for (std::uintmax_t keep : {std::uintmax_t(0), std::uintmax_t(44), std::uintmax_t(200000)}) {
        SCOPED_TRACE(keep);
        // Longer than FFmpeg reads ahead while probing (5 MB), so the cut is felt.
        encode({noise(-20, seconds, rate, 3)}, int(rate), path, "-c:a pcm_s16le");
        std::string result;
        std::thread measuring([&] { result = outcome(path); });
        std::thread truncating([&] { fs::resize_file(path, keep); });
        measuring.join();
        truncating.join();
        EXPECT_TRUE(result.starts_with("Reading: WAV · 16-bit · 8 kHz · mono") ||
                    result.starts_with("Reading stopped part way (") ||
                    result.starts_with("Can't open this file as audio ("))
            << result;

        // Deterministically: cut short while the first chunk is metered.
        encode({noise(-20, seconds, rate, 3)}, int(rate), path, "-c:a pcm_s16le");
        bool cut = false;
        const auto m = AudioFileMeter::measure(path, false, [&](double) {
            if (!std::exchange(cut, true))
                fs::resize_file(path, keep);
        });
        EXPECT_GE(m.result.duration, double(AudioFileMeter::chunkFrames) / rate);
        EXPECT_LT(m.result.duration, seconds);
        EXPECT_TRUE(m.result.integrated);
    }
}
