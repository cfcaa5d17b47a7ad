// Measures arbitrary bytes saved under each supported extension (chosen by the first byte) as
// the programs do: the real reader and meter, then the warnings. Allowed outcomes: a reading whose
// every number and warning is finite, one of the file meter's sentences, or Cancelled from the
// work limit below. Anything else (a crash, a hang, NaN in a reading, a fault of Tavrin's own
// caught as an internal error) is a finding.

#include "FuzzInput.h"
#include "tavrin/decode/DecoderLog.h"
#include "tavrin/workflow/Workflow.h"

#include <cmath>
#include <string>

using namespace tavrin;

namespace {

/// FFmpeg's own diagnostics would bury the fuzzer's.
[[maybe_unused]] const bool quiet = (silenceDecoderLog(), true);

bool hasNonNumber(const std::string& text) {
    return text.find("nan") != std::string::npos || text.find("inf") != std::string::npos;
}

void checkReading(const Workflow::Reading& reading) {
    const LoudnessResult& r = *reading.result;
    for (const auto& value :
         {r.integrated, r.loudnessRange, r.maxMomentary, r.maxShortTerm, r.samplePeak, r.truePeak})
        if (value && !std::isfinite(*value))
            tavrin::fuzz::finding("a reading that is not a finite number");
    if (!std::isfinite(r.duration) || r.duration < 0 || !(r.sampleRate > 0) || r.channels < 1)
        tavrin::fuzz::finding("a reading with an impossible duration, rate or channel count");
    if (r.samplePeak.has_value() != r.truePeak.has_value() ||
        (r.truePeak && *r.truePeak < *r.samplePeak))
        tavrin::fuzz::finding("a true peak below the sample peak");
    if (hasNonNumber(reading.format))
        tavrin::fuzz::finding("a format description with a non-number");
    for (const auto& found : reading.findings)
        if (hasNonNumber(found.text) || !found.text.ends_with("."))
            tavrin::fuzz::finding("a finding that is not a sentence of numbers: " + found.text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const auto path = tavrin::fuzz::scratchFile(
        tavrin::fuzz::extensions[data[0] % std::size(tavrin::fuzz::extensions)]);
    tavrin::fuzz::writeFile(path, data + 1, size - 1);
    int chunks = 0;
    try {
        const Workflow::Reading reading = Workflow::measure(
            path, (data[0] & 0x80) != 0,
            [](double fraction) {
                if (!(fraction >= 0 && fraction <= 1))
                    tavrin::fuzz::finding("a progress fraction outside [0, 1]");
            },
            [&chunks] { return ++chunks > tavrin::fuzz::chunkLimit; });
        if (reading.result)
            checkReading(reading);
        else if (!tavrin::fuzz::isMeasuringSentence(reading.error.value_or("")))
            tavrin::fuzz::finding("an unexpected message: " + reading.error.value_or(""));
    } catch (const Cancelled&) {
    }
    std::filesystem::remove(path);
    return 0;
}
