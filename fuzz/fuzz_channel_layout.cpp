// Reads the Apple channel layout record of arbitrary bytes taken as a CAF, an AIFF, an MP4 or a
// WAV file (chosen by the first byte), and a WAV's sample format. Our own parsers of untrusted
// chunk and box sizes: they must return, without reading out of bounds, allocating without limit
// or looping forever.

#include "FuzzInput.h"
#include "decode/AppleChannelLayout.h"
#include "decode/WaveHeader.h"

using namespace tavrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    using AppleChannelLayout::Container;
    constexpr Container containers[] = {Container::caf, Container::aiff, Container::mp4,
                                        Container::wav};
    constexpr const char* extensions[] = {"caf", "aiff", "mp4", "wav"};
    const std::size_t which = data[0] % 4;
    const auto path = tavrin::fuzz::scratchFile(extensions[which]);
    tavrin::fuzz::writeFile(path, data + 1, size - 1);
    const auto labels = AppleChannelLayout::readLabels(path, containers[which]);
    // A record lists at most one label per 20 bytes of the file, or expands a tag of at most
    // 65535 channels.
    if (labels && labels->size() > 65535 && labels->size() > size / 20)
        tavrin::fuzz::finding("more labels than the file can hold");
    if (const auto format = WaveHeader::pcmFormat(path);
        format && (format->channels < 1 || format->containerBytes < 0))
        tavrin::fuzz::finding("a WAV format without channels");
    std::filesystem::remove(path);
    return 0;
}
