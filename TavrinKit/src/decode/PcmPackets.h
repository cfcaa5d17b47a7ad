#pragma once

// Private to TavrinKit: linear PCM read straight from its packets, past FFmpeg's decoder.

#include "decode/WaveHeader.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <cstddef>
#include <cstdint>

namespace tavrin {

/// Interleaved linear PCM that is converted straight from the packets: the decoder and the
/// resampler would take two passes and two copies to do the same.
enum class PcmSample { none, u8, s8, s16, s24, s32, f32, f64 };

struct PcmLayout {
    PcmSample sample = PcmSample::none;
    bool bigEndian = false;
    std::size_t bytes = 0;
};

/// A WAV file's own account of its samples, which FFmpeg reads from the valid bits instead of the
/// container: 24 bits in 32-bit slots become 24-bit floats, 16 in 24 are read two bytes at a time.
/// Samples are read whole from their container, as libsndfile reads them; the valid bits sit at
/// its top, so the scale is the same.
PcmLayout pcmLayout(const WaveHeader::Format& wave);
/// The layout of a PCM codec's packets; none for the codecs left to the decoder.
PcmLayout pcmLayout(AVCodecID id);

/// Converts `frames` interleaved frames of `channels` channels at `in` to planar float at
/// `out[c]`, exactly as FFmpeg's decoder and resampler would: integers scaled by 1/2^(bits−1) in
/// single precision, 24-bit samples as the top of 32 bits. `in` has padding past its end, as
/// packets do.
void convertPcm(const PcmLayout& pcm, const std::uint8_t* in, std::size_t frames,
                std::size_t channels, std::uint8_t* const* out);

} // namespace tavrin
