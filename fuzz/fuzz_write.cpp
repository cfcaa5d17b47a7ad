// Writes a fixed copy of arbitrary bytes saved under each supported extension (chosen by the first
// byte), at a gain the second byte chooses, as WAV or in the original's format (with its tags
// carried) as a bit of the first byte chooses, as the programs do: the copy is written, then
// measured again. Allowed outcomes: a written copy, one of the writer's or the meter's sentences,
// or Cancelled from the work limit. Anything else (a crash, a hang, a fault of Tavrin's own caught
// as an internal error) is a finding.

#include "FuzzInput.h"
#include "tavrin/decode/DecoderLog.h"
#include "tavrin/rules/DeliverySpec.h"
#include "tavrin/workflow/Workflow.h"

#include <string>
#include <variant>

using namespace tavrin;

namespace {

[[maybe_unused]] const bool quiet = (silenceDecoderLog(), true);

/// One of the sentences the gain writer, or the meter reading the copy, may end with.
bool isSentence(const std::string& text) {
    using tavrin::fuzz::enclosed;
    return tavrin::fuzz::isMeasuringSentence(text) || enclosed(text, "Can't open the original (") ||
           enclosed(text, "Reading the original stopped part way (") ||
           (text.starts_with("Can't create ") && text.ends_with(").")) ||
           enclosed(text, "Writing stopped part way (") ||
           text == "Not enough memory to write the file." || text.starts_with("Encoded as ");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const auto original = tavrin::fuzz::scratchFile(
        tavrin::fuzz::extensions[data[0] % std::size(tavrin::fuzz::extensions)]);
    tavrin::fuzz::writeFile(original, data + 2, size - 2);
    const auto folder = tavrin::fuzz::scratchFile("");
    std::filesystem::create_directory(folder);
    const double gain = (int(data[1]) - 128) / 4.0; // −32 … +31.75 dB
    int chunks = 0;
    try {
        const auto outcome = Workflow::writeFixedCopy(
            original, gain, DeliverySpec::ebuR128(), folder, (data[0] & 0x80) != 0,
            [&chunks] { return ++chunks > tavrin::fuzz::chunkLimit; },
            data[0] & 0x40 ? GainWriter::CopyFormat::original : GainWriter::CopyFormat::wav);
        if (const auto* failed = std::get_if<Workflow::CopyOutcome::Failed>(&outcome.value);
            failed && !isSentence(failed->message))
            tavrin::fuzz::finding("an unexpected message: " + failed->message);
    } catch (const Cancelled&) {
    }
    std::filesystem::remove_all(folder);
    std::filesystem::remove(original);
    return 0;
}
