#pragma once

// Private to TavrinKit: the size a cover picture's own header declares, read without decoding it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tavrin {

struct PictureSize {
    int width = 0;
    int height = 0;
};

/// The width and height that a PNG, JPEG or BMP picture's header declares; nothing for other bytes
/// or a header cut short. Reads the header only: the pixels may be damaged or missing.
std::optional<PictureSize> pictureSize(std::span<const std::uint8_t> bytes);

} // namespace tavrin
