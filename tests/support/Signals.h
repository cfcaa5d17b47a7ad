#pragma once

// Deterministic test signals, one std::vector<double> per channel.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace tavrin::test {

using Channels = std::vector<std::vector<double>>;

inline double amplitude(double dBFS) {
    return std::pow(10.0, dBFS / 20);
}

inline std::size_t frames(double seconds, double rate) {
    return static_cast<std::size_t>(std::llround(seconds * rate));
}

/// A sine of `freq` Hz with peak level `dBFS`, starting at `phase` radians.
inline std::vector<double> sine(double freq, double dBFS, double seconds, double rate,
                                double phase = 0) {
    std::vector<double> x(frames(seconds, rate));
    const double a = amplitude(dBFS);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = a * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate + phase);
    return x;
}

inline std::vector<double> silence(double seconds, double rate) {
    return std::vector<double>(frames(seconds, rate), 0.0);
}

/// Uniform white noise in [-a, a) from a fixed seed, `dBFS` giving a.
inline std::vector<double> noise(double dBFS, double seconds, double rate, std::uint64_t seed) {
    std::vector<double> x(frames(seconds, rate));
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> uniform(-amplitude(dBFS), amplitude(dBFS));
    for (double& v : x)
        v = uniform(random);
    return x;
}

/// One level of a stepped tone: `dBFS` peak level (-inf for silence) held for `seconds`.
struct Step {
    double dBFS;
    double seconds;
};

/// A sine of `freq` Hz whose level changes step by step without a phase jump. Each boundary falls
/// on the frame nearest its cumulative time, so long sequences do not drift.
inline std::vector<double> steps(double freq, const std::vector<Step>& levels, double rate) {
    std::vector<double> x;
    double end = 0;
    for (const Step& s : levels) {
        end += s.seconds;
        const double a = amplitude(s.dBFS);
        for (std::size_t i = x.size(), n = frames(end, rate); i < n; ++i)
            x.push_back(a * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate));
    }
    return x;
}

/// Raised-cosine fade-in and fade-out of `seconds` each, so an abrupt start or end of a tone does
/// not ring above its steady state in an interpolator.
inline std::vector<double> faded(std::vector<double> x, double seconds, double rate) {
    const std::size_t n = std::min(frames(seconds, rate), x.size() / 2);
    for (std::size_t i = 0; i < n; ++i) {
        const double g = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n));
        x[i] *= g;
        x[x.size() - 1 - i] *= g;
    }
    return x;
}

/// Pieces one after another.
inline std::vector<double> concat(std::initializer_list<std::vector<double>> pieces) {
    std::vector<double> x;
    for (const auto& p : pieces)
        x.insert(x.end(), p.begin(), p.end());
    return x;
}

/// The same signal on `count` channels.
inline Channels replicate(const std::vector<double>& x, std::size_t count) {
    return Channels(count, x);
}

} // namespace tavrin::test

#include "tavrin/meter/LoudnessMeter.h"

namespace tavrin::test {

/// Feeds `channels` to `m` in buffers of `bufferFrames` frames through the float path the file
/// meter uses.
inline void feed(LoudnessMeter& m, const Channels& channels, std::size_t bufferFrames) {
    std::vector<std::vector<float>> asFloat;
    for (const auto& c : channels)
        asFloat.emplace_back(c.begin(), c.end());
    const std::size_t total = channels.front().size();
    std::vector<const float*> pointers(channels.size());
    for (std::size_t pos = 0; pos < total; pos += bufferFrames) {
        const std::size_t n = std::min(bufferFrames, total - pos);
        for (std::size_t c = 0; c < channels.size(); ++c)
            pointers[c] = asFloat[c].data() + pos;
        m.process(pointers, n);
    }
}

/// Meters `channels` fed in buffers of `bufferFrames` frames through the float path the file
/// meter uses (0 feeds everything at once through the double path).
inline LoudnessResult meter(const Channels& channels, std::vector<double> weights, double rate,
                            std::size_t bufferFrames = 0) {
    LoudnessMeter m(std::move(weights), rate);
    if (bufferFrames == 0) {
        m.process(channels);
        return m.finish();
    }
    feed(m, channels, bufferFrames);
    return m.finish();
}

} // namespace tavrin::test
