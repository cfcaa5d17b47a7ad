#include "tavrin/dsp/KWeighting.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tavrin {

double Biquad::magnitudeDB(double frequency, double sampleRate) const {
    const double w = 2 * std::numbers::pi * frequency / sampleRate;
    const double c1 = std::cos(w), s1 = std::sin(w), c2 = std::cos(2 * w), s2 = std::sin(2 * w);
    const double numRe = b0 + b1 * c1 + b2 * c2, numIm = -(b1 * s1 + b2 * s2);
    const double denRe = 1 + a1 * c1 + a2 * c2, denIm = -(a1 * s1 + a2 * s2);
    return 20 * std::log10(std::hypot(numRe, numIm) / std::hypot(denRe, denIm));
}

namespace KWeighting {

std::array<Biquad, 2> stages(double sampleRate) {
    // Stage 1: high-frequency shelf, centre 1681.97 Hz, about +4 dB. The tangent's argument is
    // π·f0/fs, with π·f0 folded into the constant.
    const double k1 = std::tan(5284.078578647628 / sampleRate);
    const double q1 = 0.7071752369554196;
    const double vh = 1.5848647011308556;
    const double vb = 1.2587209302325617;
    const double a01 = 1 + k1 / q1 + k1 * k1;
    const Biquad shelf{(vh + vb * k1 / q1 + k1 * k1) / a01, 2 * (k1 * k1 - vh) / a01,
                       (vh - vb * k1 / q1 + k1 * k1) / a01, 2 * (k1 * k1 - 1) / a01,
                       (1 - k1 / q1 + k1 * k1) / a01};

    // Stage 2: high-pass at 38.14 Hz. Its numerator stays 1, −2, 1 (not divided by a0), as in
    // the reference coefficients; the −0.691 of the loudness formula absorbs the gain.
    const double k2 = std::tan(119.8061151453059 / sampleRate);
    const double q2 = 0.5003270373238773;
    const double a02 = 1 + k2 / q2 + k2 * k2;
    const Biquad highPass{1.0, -2.0, 1.0, 2 * (k2 * k2 - 1) / a02, (1 - k2 / q2 + k2 * k2) / a02};

    return {shelf, highPass};
}

std::size_t settlingFrames(double sampleRate) {
    // The slowest pole of either section: z² + a1·z + a2 = 0.
    double slowest = 0;
    for (const Biquad& section : stages(sampleRate)) {
        const double d = section.a1 * section.a1 - 4 * section.a2;
        const double radius =
            d < 0 ? std::sqrt(section.a2) : (std::fabs(section.a1) + std::sqrt(d)) / 2;
        slowest = std::max(slowest, radius);
    }
    // The high-pass's two poles nearly coincide, so that its state decays a little slower than
    // rⁿ: still below 1e-10 at rⁿ = 1e-12.
    return static_cast<std::size_t>(std::ceil(std::log(1e-12) / std::log(slowest)));
}

} // namespace KWeighting
} // namespace tavrin
