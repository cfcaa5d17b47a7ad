// Measures arbitrary bytes saved under each supported extension (chosen by the first byte)
// through the real reader and meter. Allowed outcomes: a reading whose every number is finite,
// an AudioFileError with one of the file meter's sentences, or Cancelled from the work limit
// below. Anything else (a crash, another exception, a hang, NaN in a reading) is a finding.

#include "FuzzInput.h"
#include "tavrin/AudioFileError.h"
#include "tavrin/AudioFileMeter.h"
#include "tavrin/DecoderLog.h"

#include <cmath>
#include <string>

using namespace tavrin;

namespace {

constexpr const char* extensions[] = {"wav", "wave", "bwf", "aif", "aiff", "aifc",
                                      "mp3", "m4a",  "aac", "mp4", "flac", "caf"};

/// A few kilobytes of compressed audio can claim hours of samples; the meter's cost per sample
/// is covered by its own tests, so each input stops after this many chunks.
constexpr int chunkLimit = 16;

/// FFmpeg's own diagnostics would bury the fuzzer's.
[[maybe_unused]] const bool quiet = (silenceDecoderLog(), true);

bool enclosed(const std::string& text, std::string_view opening) {
    return text.size() > opening.size() + 2 && text.starts_with(opening) && text.ends_with(").");
}

/// One of the sentences the file meter may end with.
bool isSentence(const std::string& text) {
    return enclosed(text, "Can't open this file as audio (") ||
           enclosed(text, "Reading stopped part way (") ||
           (text.starts_with("The file claims a sample rate of ") &&
            text.ends_with(" Hz, which can't be measured.")) ||
           text == "The file has no audio channels." ||
           text == "Not enough memory to read the file." || text == "Unsupported sample format." ||
           text == "The file holds invalid samples (not a number or infinite).";
}

void checkReading(const FileMeasurement& m) {
    const LoudnessResult& r = m.result;
    for (const auto& value :
         {r.integrated, r.loudnessRange, r.maxMomentary, r.maxShortTerm, r.samplePeak, r.truePeak})
        if (value && !std::isfinite(*value))
            tavrin::fuzz::finding("a reading that is not a finite number");
    if (!std::isfinite(r.duration) || r.duration < 0 || !(r.sampleRate > 0) || r.channels < 1)
        tavrin::fuzz::finding("a reading with an impossible duration, rate or channel count");
    if (r.samplePeak.has_value() != r.truePeak.has_value() ||
        (r.truePeak && *r.truePeak < *r.samplePeak))
        tavrin::fuzz::finding("a true peak below the sample peak");
    if (m.format.find("nan") != std::string::npos || m.format.find("inf") != std::string::npos)
        tavrin::fuzz::finding("a format description with a non-number");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const auto path = tavrin::fuzz::scratchFile(extensions[data[0] % std::size(extensions)]);
    tavrin::fuzz::writeFile(path, data + 1, size - 1);
    int chunks = 0;
    try {
        const FileMeasurement m = AudioFileMeter::measure(
            path, (data[0] & 0x80) != 0,
            [](double fraction) {
                if (!(fraction >= 0 && fraction <= 1))
                    tavrin::fuzz::finding("a progress fraction outside [0, 1]");
            },
            [&chunks] { return ++chunks > chunkLimit; });
        checkReading(m);
    } catch (const AudioFileError& e) {
        if (!isSentence(e.what()))
            tavrin::fuzz::finding(std::string("an unexpected message: ") + e.what());
    } catch (const Cancelled&) {
    }
    std::filesystem::remove(path);
    return 0;
}
