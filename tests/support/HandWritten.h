#pragma once

// Audio files written byte by byte, so that a test controls every field of the header, true or
// not.

#include "Signals.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::test {

inline std::string le(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return out;
}

inline std::string be(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return out;
}

/// Interleaved 16-bit little-endian samples of `channels`.
inline std::string pcm16(const Channels& channels) {
    std::string out;
    for (std::size_t i = 0; i < channels.front().size(); ++i)
        for (const auto& channel : channels)
            out += le(static_cast<std::uint16_t>(std::lround(channel[i] * 32767)), 2);
    return out;
}

/// 16-bit samples of a 997 Hz tone at −20 dBFS, `frames` long, on every channel.
inline std::string pcm16(std::size_t frames, std::size_t channels, double rate = 48000) {
    return pcm16(replicate(sine(997, -20, double(frames) / rate, rate), channels));
}

/// A channel layout record: tag, bitmap, a count, and one 20-byte description per label.
inline std::string layoutRecord(std::uint32_t tag, std::uint32_t bitmap, std::uint32_t count,
                                const std::vector<std::uint32_t>& labels) {
    std::string out = be(tag, 4) + be(bitmap, 4) + be(count, 4);
    for (std::uint32_t label : labels)
        out += be(label, 4) + std::string(16, '\0');
    return out;
}

/// A WAV file whose header says what the fields say, true or not.
struct Wav {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t rate = 48000;
    std::uint16_t bits = 16;
    std::string data = pcm16(48000, 1);
    std::optional<std::uint32_t> riffSize{}; // default: the true size
    std::optional<std::uint32_t> dataSize{};
    std::optional<std::uint16_t> blockAlign{}; // default: the true alignment
    /// Given: WAVE_FORMAT_EXTENSIBLE, `formatTag` its sub-format, with these valid bits and mask.
    std::optional<std::uint16_t> validBits{};
    std::uint32_t mask = 0;

    std::string bytes() const {
        const std::uint32_t align = std::uint32_t(channels) * bits / 8;
        std::string fmt = le(validBits ? 0xFFFE : formatTag, 2) + le(channels, 2) + le(rate, 4) +
                          le(std::uint64_t(rate) * align, 4) + le(blockAlign.value_or(align), 2) +
                          le(bits, 2);
        if (validBits)
            fmt += le(22, 2) + le(*validBits, 2) + le(mask, 4) + le(formatTag, 2) +
                   std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
        const std::string body = "WAVEfmt " + le(fmt.size(), 4) + fmt + "data" +
                                 le(dataSize.value_or(std::uint32_t(data.size())), 4) + data;
        return "RIFF" + le(riffSize.value_or(std::uint32_t(body.size())), 4) + body;
    }
};

/// An AIFF file of 16-bit samples at 48 kHz, with a 'CHAN' chunk when `chan` is given.
struct Aiff {
    std::uint16_t channels = 1;
    std::optional<std::string> chan{};
    std::string data = pcm16(48000, 1);

    std::string bytes() const {
        std::string swapped;
        for (std::size_t i = 0; i + 1 < data.size(); i += 2)
            swapped += std::string{data[i + 1], data[i]};
        const std::string comm = be(channels, 2) +
                                 be(swapped.size() / 2 / std::max<std::uint16_t>(channels, 1), 4) +
                                 be(16, 2) + be(0x400E, 2) + be(0xBB80000000000000, 8); // 48000
        std::string body = "AIFFCOMM" + be(comm.size(), 4) + comm;
        if (chan)
            body += "CHAN" + be(chan->size(), 4) + *chan;
        body += "SSND" + be(swapped.size() + 8, 4) + be(0, 8) + swapped;
        return "FORM" + be(body.size(), 4) + body;
    }
};

/// A CAF file of 16-bit little-endian linear PCM, with a 'chan' chunk when `chan` is given.
struct Caf {
    double rate = 48000;
    std::uint32_t channels = 2;
    std::optional<std::string> chan{};
    std::optional<std::uint64_t> dataSize{}; // default: the true size
    std::string data = pcm16(48000, 2);

    std::string bytes() const {
        const std::string desc = be(std::bit_cast<std::uint64_t>(rate), 8) + "lpcm" + be(2, 4) +
                                 be(2 * channels, 4) + be(1, 4) + be(channels, 4) + be(16, 4);
        std::string out = "caff" + be(1, 2) + be(0, 2) + "desc" + be(desc.size(), 8) + desc;
        if (chan)
            out += "chan" + be(chan->size(), 8) + *chan;
        return out + "data" + be(dataSize.value_or(data.size() + 4), 8) + be(0, 4) + data;
    }
};

/// A PNG declaring `width` × `height` pixels that holds a thousand bytes (checksums unchecked).
inline std::string png(std::uint32_t width, std::uint32_t height) {
    const std::string thousandZeros(
        "\x78\xDA\x63\x60\x18\x05\xA3\x60\x14\x0C\x77\0\0\x03\xE8\0\x01", 17);
    return "\x89PNG\r\n\x1A\n" + be(13, 4) + "IHDR" + be(width, 4) + be(height, 4) +
           be(0x0806000000, 5) + be(0, 4) + be(17, 4) + "IDAT" + thousandZeros + be(0, 4) +
           be(0, 4) + "IEND" + be(0, 4);
}

/// An ID3v2.3 tag holding each of `pictures` (PNG) as a front cover; under 16 KB in all.
inline std::string id3Pictures(const std::vector<std::string>& pictures) {
    std::string frames;
    for (const std::string& picture : pictures) {
        const std::string body = std::string("\0image/png\0\x03\0", 13) + picture;
        frames += "APIC" + be(body.size(), 4) + be(0, 2) + body;
    }
    const std::size_t n = frames.size(); // seven bits a byte
    return "ID3" + be(0x030000, 3) + be((n >> 7 & 0x7F) << 8 | (n & 0x7F), 4) + frames;
}

/// A FLAC file declaring `frames` frames of 16-bit stereo at 48 kHz, with noise for its frames.
inline std::string flacOfNoise(std::uint64_t frames) {
    const std::string info = be(4096, 2) + be(4096, 2) + be(0, 6) +
                             be(48000ull << 44 | 1ull << 41 | 15ull << 36 | frames, 8) +
                             std::string(16, '\0');
    return "fLaC" + be(0x80, 1) + be(info.size(), 3) + info + pcm16({noise(0, 0.2, 48000, 1)});
}

/// `flacFile` (its STREAMINFO not the last block) with a PICTURE block for each of `pictures`.
inline std::string withPictures(std::string flacFile, const std::vector<std::string>& pictures) {
    std::string blocks;
    for (const std::string& picture : pictures) {
        const std::string body = be(3, 4) + be(9, 4) + "image/png" + std::string(20, '\0') +
                                 be(picture.size(), 4) + picture;
        blocks += be(6, 1) + be(body.size(), 3) + body;
    }
    return flacFile.insert(42, blocks);
}

} // namespace tavrin::test
