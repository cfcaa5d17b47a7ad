#include "copies/Mp3Header.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace tavrin::Mp3Header {
namespace {

std::uint32_t bigEndian(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

/// The ID3v2 tag's length with its header and footer, from its first 10 bytes; 0 without one.
std::uint64_t id3Length(std::string_view head) {
    if (head.size() < 10 || !head.starts_with("ID3"))
        return 0;
    const auto byte = [&](std::size_t i) { return std::uint64_t(head[i] & 0x7F); };
    const bool footer = (static_cast<unsigned char>(head[5]) & 0x10) != 0;
    return 10 + (byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9)) + (footer ? 10 : 0);
}

/// The quality field of a Xing header starting at `at`, after the fields its flags say it has.
std::optional<int> xingQuality(std::string_view frame, std::size_t at) {
    if (at + 8 > frame.size())
        return std::nullopt;
    const std::uint32_t flags = bigEndian(frame, at + 4);
    std::size_t field = at + 8 + (flags & 1 ? 4 : 0) + (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0);
    if (!(flags & 8) || field + 4 > frame.size())
        return std::nullopt;
    // LAME writes 100 − 10·V − q, its algorithm's quality q being under 10, so never 0: FFmpeg's
    // own muxer writes 0, knowing nothing of it.
    const std::uint32_t scale = bigEndian(frame, field);
    if (scale == 0 || scale > 100)
        return std::nullopt;
    return std::clamp(static_cast<int>(100 - scale) / 10, 0, 9);
}

} // namespace

Encoding read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(10, '\0');
    in.read(head.data(), 10);
    head.resize(static_cast<std::size_t>(in.gcount()));
    in.clear();
    in.seekg(static_cast<std::streamoff>(id3Length(head)));
    std::string bytes(1 << 16, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t at = 0;
    while (at + 1 < bytes.size() && !(byte(at) == 0xFF && (byte(at + 1) & 0xE0) == 0xE0))
        ++at;
    if (at + 4 >= bytes.size())
        return {};
    // Both headers sit right after the frame header and side information, at most 36 bytes in.
    const std::string_view frame = std::string_view(bytes).substr(at);
    const std::string_view start = frame.substr(4, 40);
    if (const auto xing = start.find("Xing"); xing != std::string_view::npos)
        return {true, xingQuality(frame, 4 + xing)};
    return {start.find("VBRI") != std::string_view::npos, std::nullopt};
}

std::int64_t standardRate(std::int64_t bitRate, int sampleRate) {
    static constexpr std::array<int, 14> mpeg1{32,  40,  48,  56,  64,  80,  96,
                                               112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<int, 14> mpeg2{8,  16, 24, 32,  40,  48,  56,
                                               64, 80, 96, 112, 128, 144, 160};
    const auto& rates = sampleRate >= 32000 ? mpeg1 : mpeg2;
    int nearest = rates.front();
    for (int rate : rates)
        if (std::llabs(std::int64_t(rate) * 1000 - bitRate) <
            std::llabs(std::int64_t(nearest) * 1000 - bitRate))
            nearest = rate;
    return std::int64_t(nearest) * 1000;
}

} // namespace tavrin::Mp3Header
