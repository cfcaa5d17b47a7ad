#include "decode/FrameDoubles.h"

#include "tavrin/core/AudioFileError.h"
#include "tavrin/dsp/VectorOps.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

#include <string>

namespace tavrin {
namespace {

/// The bytes of an integer sample that converts straight, 0 for any other.
std::size_t integerBytes(const AVFrame& frame) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(AVSampleFormat(frame.format));
    return packed == AV_SAMPLE_FMT_S16 ? 2 : packed == AV_SAMPLE_FMT_S32 ? 4 : 0;
}

bool planar(const AVFrame& frame) {
    return av_sample_fmt_is_planar(AVSampleFormat(frame.format));
}

} // namespace

void floatsToDoubles(const float* from, double* to, std::size_t n) {
    if (!VectorOps::allFinite(from, n))
        throw AudioFileError::unreadable(std::string(AudioFileError::invalidSamples));
    VectorOps::floatToDouble(from, to, n);
}

bool convertsStraight(const AVFrame& frame, std::size_t channels) {
    if (integerBytes(frame) > 0)
        return planar(frame) || channels <= 2;
    return frame.format == AV_SAMPLE_FMT_FLTP;
}

void convertStraight(const AVFrame& frame, std::size_t channels, std::size_t first,
                     std::size_t count, double* const* out, std::size_t at) {
    const std::size_t bytes = integerBytes(frame);
    const std::size_t planes = planar(frame) ? channels : 1;
    const std::size_t perPlane = channels / planes; // interleaved in a plane
    for (std::size_t p = 0; p < planes; ++p) {
        const std::uint8_t* from =
            frame.extended_data[p] + first * perPlane * (bytes > 0 ? bytes : sizeof(float));
        double* const to[2] = {out[p] + at, planes == channels ? nullptr : out[1] + at};
        if (bytes > 0)
            VectorOps::pcmToDoubles(from, count, perPlane, bytes, to);
        else
            floatsToDoubles(reinterpret_cast<const float*>(from), to[0], count);
    }
}

} // namespace tavrin
