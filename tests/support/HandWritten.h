#pragma once

// Audio files written byte by byte, so that a test controls every field of the header, true or
// not.

#include "Signals.h"

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

/// A CAF file of 16-bit little-endian linear PCM, with a 'chan' chunk when `chan` is given.
struct Caf {
    double rate = 48000;
    std::uint32_t channels = 2;
    std::optional<std::string> chan{};
    std::optional<std::uint64_t> chanSize{}; // default: the true size
    std::optional<std::uint64_t> dataSize{}; // default: the true size
    std::string data = pcm16(48000, 2);

    std::string bytes() const {
        const std::string desc = be(std::bit_cast<std::uint64_t>(rate), 8) + "lpcm" + be(2, 4) +
                                 be(2 * channels, 4) + be(1, 4) + be(channels, 4) + be(16, 4);
        std::string out = "caff" + be(1, 2) + be(0, 2) + "desc" + be(desc.size(), 8) + desc;
        if (chan)
            out += "chan" + be(chanSize.value_or(chan->size()), 8) + *chan;
        return out + "data" + be(dataSize.value_or(data.size() + 4), 8) + be(0, 4) + data;
    }
};

} // namespace tavrin::test
