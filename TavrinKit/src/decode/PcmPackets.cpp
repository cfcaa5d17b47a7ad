#include "decode/PcmPackets.h"

#include "tavrin/dsp/VectorOps.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavrin {
namespace {

/// The W bytes at `p` as an unsigned integer in the host's (little-endian) order, byte-swapped
/// when the file is big-endian. Three-byte samples are read as four bytes (packets carry padding
/// past their end) with the extra byte at the bottom, so a 24-bit sample lands in the top 24 bits.
template <std::size_t Bytes> auto loadSample(const std::uint8_t* p, bool bigEndian) {
    if constexpr (Bytes == 1) {
        return std::uint32_t(*p);
    } else if constexpr (Bytes == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return bigEndian ? __builtin_bswap16(v) : v;
    } else if constexpr (Bytes == 3) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return bigEndian ? __builtin_bswap32(v) & 0xFFFFFF00u : v << 8;
    } else if constexpr (Bytes == 4) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return bigEndian ? __builtin_bswap32(v) : v;
    } else {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return bigEndian ? __builtin_bswap64(v) : v;
    }
}

template <std::size_t Bytes, class ToFloat>
void deinterleave(const std::uint8_t* in, std::size_t frames, std::size_t channels, bool bigEndian,
                  std::uint8_t* const* out, ToFloat toFloat) {
    for (std::size_t c = 0; c < channels; ++c) {
        float* dest = reinterpret_cast<float*>(out[c]);
        const std::uint8_t* p = in + c * Bytes;
        const std::size_t stride = channels * Bytes;
        if (bigEndian)
            for (std::size_t f = 0; f < frames; ++f)
                dest[f] = toFloat(loadSample<Bytes>(p + f * stride, true));
        else
            for (std::size_t f = 0; f < frames; ++f)
                dest[f] = toFloat(loadSample<Bytes>(p + f * stride, false));
    }
}

/// The same for the sample sizes a vector kernel converts: a block of interleaved samples at a
/// time into floats, then each channel's share copied out. `toFloats(in, out, samples)`.
template <std::size_t Bytes, class ToFloats>
void deinterleaveBlocks(const std::uint8_t* in, std::size_t frames, std::size_t channels,
                        std::uint8_t* const* out, ToFloats toFloats) {
    constexpr std::size_t blockSamples = 2048;
    if (channels == 1)
        return toFloats(in, reinterpret_cast<float*>(out[0]), frames);
    float block[blockSamples];
    const std::size_t blockFrames = blockSamples / channels;
    for (std::size_t first = 0; first < frames; first += blockFrames) {
        const std::size_t n = std::min(blockFrames, frames - first);
        toFloats(in + first * channels * Bytes, block, n * channels);
        if (channels == 2) {
            VectorOps::splitPairs(block, reinterpret_cast<float*>(out[0]) + first,
                                  reinterpret_cast<float*>(out[1]) + first, n);
            continue;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            float* dest = reinterpret_cast<float*>(out[c]) + first;
            for (std::size_t f = 0; f < n; ++f)
                dest[f] = block[f * channels + c];
        }
    }
}

/// Up to this many channels go through a block: a frame must fit in it.
constexpr std::size_t maxBlockChannels = 256;

} // namespace

PcmLayout pcmLayout(const WaveHeader::Format& wave) {
    if (wave.isFloat)
        return wave.containerBytes == 4   ? PcmLayout{PcmSample::f32, false, 4}
               : wave.containerBytes == 8 ? PcmLayout{PcmSample::f64, false, 8}
                                          : PcmLayout{};
    switch (wave.containerBytes) {
    case 1:
        return {PcmSample::u8, false, 1};
    case 2:
        return {PcmSample::s16, false, 2};
    case 3:
        return {PcmSample::s24, false, 3};
    case 4:
        return {PcmSample::s32, false, 4};
    default:
        return {};
    }
}

PcmLayout pcmLayout(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_PCM_U8:
        return {PcmSample::u8, false, 1};
    case AV_CODEC_ID_PCM_S8:
        return {PcmSample::s8, false, 1};
    case AV_CODEC_ID_PCM_S16LE:
        return {PcmSample::s16, false, 2};
    case AV_CODEC_ID_PCM_S16BE:
        return {PcmSample::s16, true, 2};
    case AV_CODEC_ID_PCM_S24LE:
        return {PcmSample::s24, false, 3};
    case AV_CODEC_ID_PCM_S24BE:
        return {PcmSample::s24, true, 3};
    case AV_CODEC_ID_PCM_S32LE:
        return {PcmSample::s32, false, 4};
    case AV_CODEC_ID_PCM_S32BE:
        return {PcmSample::s32, true, 4};
    case AV_CODEC_ID_PCM_F32LE:
        return {PcmSample::f32, false, 4};
    case AV_CODEC_ID_PCM_F32BE:
        return {PcmSample::f32, true, 4};
    case AV_CODEC_ID_PCM_F64LE:
        return {PcmSample::f64, false, 8};
    case AV_CODEC_ID_PCM_F64BE:
        return {PcmSample::f64, true, 8};
    default:
        return {};
    }
}

void convertPcm(const PcmLayout& pcm, const std::uint8_t* in, std::size_t frames,
                std::size_t channels, std::uint8_t* const* out) {
    const bool be = pcm.bigEndian;
    const auto signed32 = [](std::uint32_t v) {
        return float(std::int32_t(v)) * (1.0f / 2147483648.0f);
    };
    switch (pcm.sample) {
    case PcmSample::u8:
        return deinterleave<1>(in, frames, channels, be, out,
                               [](std::uint32_t v) { return float(int(v) - 0x80) * (1.0f / 128); });
    case PcmSample::s8:
        return deinterleave<1>(in, frames, channels, be, out, [](std::uint32_t v) {
            return float(std::int8_t(v)) * (1.0f / 128);
        });
    case PcmSample::s16:
        if (channels <= maxBlockChannels)
            return deinterleaveBlocks<2>(
                in, frames, channels, out,
                [be](auto* p, float* o, auto n) { VectorOps::int16ToFloat(p, o, n, be); });
        return deinterleave<2>(in, frames, channels, be, out, [](std::uint16_t v) {
            return float(std::int16_t(v)) * (1.0f / 32768);
        });
    case PcmSample::s24:
        if (channels <= maxBlockChannels)
            return deinterleaveBlocks<3>(
                in, frames, channels, out,
                [be](auto* p, float* o, auto n) { VectorOps::int24ToFloat(p, o, n, be); });
        return deinterleave<3>(in, frames, channels, be, out, signed32);
    case PcmSample::s32:
        return deinterleave<4>(in, frames, channels, be, out, signed32);
    case PcmSample::f32:
        return deinterleave<4>(in, frames, channels, be, out,
                               [](std::uint32_t v) { return std::bit_cast<float>(v); });
    case PcmSample::f64:
        return deinterleave<8>(in, frames, channels, be, out,
                               [](std::uint64_t v) { return float(std::bit_cast<double>(v)); });
    case PcmSample::none:
        break;
    }
}
} // namespace tavrin
