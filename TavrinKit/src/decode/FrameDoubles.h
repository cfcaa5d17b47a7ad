#pragma once

// Private to the decode group: decoded samples into double precision, in one pass.

extern "C" {
#include <libavutil/frame.h>
}

#include <cstddef>

namespace tavrin {

/// `n` samples of single precision into double precision. Throws AudioFileError for a sample that
/// isn't a finite number, which would turn every reading into "nan".
void floatsToDoubles(const float* from, double* to, std::size_t n);

/// Whether a decoded frame of `channels` channels converts straight into double precision: planar
/// float, or integers of 16 or 32 bits, interleaved in one or two channels or planar.
bool convertsStraight(const AVFrame& frame, std::size_t channels);
/// Converts `count` frames from frame `first` on of a frame that convertsStraight() into `out[c]`
/// from frame `at` on, with the values the converter to single precision and floatsToDoubles()
/// give. Throws as floatsToDoubles().
void convertStraight(const AVFrame& frame, std::size_t channels, std::size_t first,
                     std::size_t count, double* const* out, std::size_t at);

} // namespace tavrin
