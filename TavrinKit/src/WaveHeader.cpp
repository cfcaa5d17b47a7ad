#include "WaveHeader.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

namespace tavrin::WaveHeader {
namespace {

std::uint64_t le(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

/// Enough for every header chunk a real file carries before or after its audio.
constexpr int maxChunks = 256;
constexpr std::uint64_t maxChunkBytes = 1 << 20;

} // namespace

std::optional<std::vector<std::uint8_t>> chunk(const std::filesystem::path& path,
                                               std::string_view id) {
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    std::array<std::uint8_t, 12> head{};
    if (!in || ec || !in.read(reinterpret_cast<char*>(head.data()), 12))
        return std::nullopt;
    const std::string_view riff(reinterpret_cast<const char*>(head.data()), 4);
    if ((riff != "RIFF" && riff != "RF64" && riff != "BW64") ||
        std::string_view(reinterpret_cast<const char*>(head.data()) + 8, 4) != "WAVE")
        return std::nullopt;
    std::uint64_t pos = 12;
    for (int n = 0; n < maxChunks && size - pos >= 8 && pos < size; ++n) {
        std::array<std::uint8_t, 8> header{};
        in.seekg(std::streamoff(pos));
        if (!in.read(reinterpret_cast<char*>(header.data()), 8))
            return std::nullopt;
        const std::uint64_t bytes = le(header.data() + 4, 4);
        if (std::string_view(reinterpret_cast<const char*>(header.data()), 4) == id) {
            if (bytes > size - pos - 8 || bytes > maxChunkBytes)
                return std::nullopt;
            std::vector<std::uint8_t> body(bytes);
            if (!in.read(reinterpret_cast<char*>(body.data()), std::streamsize(bytes)))
                return std::nullopt;
            return body;
        }
        pos += 8 + bytes + (bytes & 1);
    }
    return std::nullopt;
}

std::optional<Format> pcmFormat(const std::filesystem::path& path) {
    const auto fmt = chunk(path, "fmt ");
    if (!fmt || fmt->size() < 16)
        return std::nullopt;
    const std::uint8_t* p = fmt->data();
    std::uint64_t tag = le(p, 2);
    Format format;
    format.channels = int(le(p + 2, 2));
    const auto blockAlign = int(le(p + 12, 2));
    format.validBits = int(le(p + 14, 2));
    constexpr std::uint16_t extensible = 0xFFFE;
    if (tag == extensible) {
        // The sub-format GUID is the format tag it stands for, then a fixed suffix; any other
        // (ambisonic B-format, say) is not plain PCM.
        static constexpr std::uint8_t suffix[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        if (fmt->size() < 40 || !std::equal(std::begin(suffix), std::end(suffix), p + 26))
            return std::nullopt;
        if (const auto valid = int(le(p + 18, 2)); valid > 0)
            format.validBits = valid;
        format.mask = std::uint32_t(le(p + 20, 4));
        tag = le(p + 24, 2);
    }
    if ((tag != 1 && tag != 3) || format.channels < 1 || blockAlign % format.channels != 0)
        return std::nullopt;
    format.isFloat = tag == 3;
    format.containerBytes = blockAlign / format.channels;
    return format;
}

} // namespace tavrin::WaveHeader
