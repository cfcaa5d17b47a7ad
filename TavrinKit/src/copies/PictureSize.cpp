#include "copies/PictureSize.h"

#include <cstdlib>
#include <string_view>

namespace tavrin {
namespace {

std::uint32_t bigEndian(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

std::int32_t littleEndian32(const std::uint8_t* p) {
    return std::int32_t(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24);
}

std::optional<PictureSize> sized(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return std::nullopt;
    return PictureSize{int(width), int(height)};
}

/// The frame header (a start-of-frame marker, C0–CF but for C4, C8 and CC, which are tables)
/// holds the size; the segments before it are skipped by their lengths.
std::optional<PictureSize> jpegSize(std::span<const std::uint8_t> b) {
    for (std::size_t at = 2; at + 9 <= b.size();) {
        if (b[at] != 0xFF)
            return std::nullopt;
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            return sized(bigEndian(&b[at + 7], 2), bigEndian(&b[at + 5], 2));
        } else if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length
            at += 2;
        } else {
            at += 2 + bigEndian(&b[at + 2], 2);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<PictureSize> pictureSize(std::span<const std::uint8_t> b) {
    const auto startsWith = [&](std::string_view magic) {
        return b.size() >= magic.size() &&
               std::string_view(reinterpret_cast<const char*>(b.data()), magic.size()) == magic;
    };
    if (startsWith("\x89PNG\r\n\x1a\n") && b.size() >= 24) // the IHDR chunk comes first
        return sized(bigEndian(&b[16], 4), bigEndian(&b[20], 4));
    if (startsWith("\xFF\xD8"))
        return jpegSize(b);
    if (startsWith("BM") && b.size() >= 26) // a negative height means rows top down
        return sized(littleEndian32(&b[18]), std::abs(std::int64_t(littleEndian32(&b[22]))));
    return std::nullopt;
}

} // namespace tavrin
