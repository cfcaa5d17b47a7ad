#pragma once

// Private to the meter group: a file opened to be measured.

#include "decode/FfmpegReader.h"

#include <filesystem>
#include <memory>

namespace tavrin::AudioFileMeter {

/// Opens `path` to measure it. Throws AudioFileError when it can't be opened as audio, has no
/// channels, or a sample rate outside those measured.
std::unique_ptr<FfmpegReader> openForMeasuring(const std::filesystem::path& path);

} // namespace tavrin::AudioFileMeter
