#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace tavrin::Workflow {

/// A small document read whole: its text, or why it wasn't read.
struct SmallFile {
    std::string text;
    std::error_code error{};
    bool tooLarge = false; ///< over the size asked for: not read at all
};

/// Reads `path` whole unless it is over `largest` bytes; a folder reads as an error.
SmallFile readSmallFile(const std::filesystem::path& path, std::uintmax_t largest);

} // namespace tavrin::Workflow
