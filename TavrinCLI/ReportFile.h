#pragma once

#include <filesystem>
#include <ostream>
#include <string_view>

namespace tavrin::cli {

/// Saves `bytes` at `path` atomically: written to a temporary file beside it, flushed to disk,
/// then renamed over any file of that name, so readers see the old report or the whole new one.
/// Returns false after writing a whole sentence saying why to `err`.
bool saveReport(const std::filesystem::path& path, std::string_view bytes, std::ostream& err);

} // namespace tavrin::cli
