#include "tavrin/TruePeakDetector.h"

#include "tavrin/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace tavrin {
namespace {

constexpr double pi = 3.141592653589793;

/// Modified Bessel function of the first kind, order 0, by its power series.
double besselI0(double z) {
    const double half = z / 2;
    double sum = 1, term = 1;
    for (int m = 1;; ++m) {
        term *= (half / m) * (half / m);
        sum += term;
        if (!(term > sum * 1e-17))
            return sum;
    }
}

/// Kaiser-windowed sinc (β = 7, half-width 16 samples), one phase per quarter sample.
std::array<TruePeakDetector::Phase, 3> designFilterBank() {
    constexpr double beta = 7, halfWidth = 16;
    const double i0Beta = besselI0(beta);
    std::array<TruePeakDetector::Phase, 3> bank{};
    for (int k = 1; k <= 3; ++k) {
        auto& phase = bank[static_cast<std::size_t>(k - 1)];
        double sum = 0;
        for (int p = 0; p < 32; ++p) {
            const double t = k / 4.0 - (p - 15);
            const double sinc = t == 0 ? 1.0 : std::sin(pi * t) / (pi * t);
            const double r = t / halfWidth;
            const double window =
                std::fabs(r) >= 1 ? 0.0 : besselI0(beta * std::sqrt(1 - r * r)) / i0Beta;
            phase[static_cast<std::size_t>(p)] = sinc * window;
            sum += sinc * window;
        }
        for (double& tap : phase) // unity gain at 0 Hz for every phase
            tap /= sum;
    }
    return bank;
}

} // namespace

TruePeakDetector::TruePeakDetector() = default;

const std::array<TruePeakDetector::Phase, 3>& TruePeakDetector::filterBank() {
    static const auto bank = designFilterBank();
    return bank;
}

void TruePeakDetector::process(const double* samples, std::size_t count) {
    if (count == 0)
        return;
    constexpr std::size_t kept = taps - 1;
    if (m_work.size() < count + kept)
        m_work.assign(count + kept, 0.0);
    if (m_out.size() < count)
        m_out.assign(count, 0.0);
    std::copy(m_history.begin(), m_history.end(), m_work.begin());
    std::copy(samples, samples + count, m_work.begin() + kept);
    for (const auto& phase : filterBank()) {
        VectorOps::correlate32(m_work.data(), phase.data(), m_out.data(), count);
        m_peak = std::max(m_peak, VectorOps::maxMagnitude(m_out.data(), count));
    }
    std::copy_n(m_work.begin() + static_cast<std::ptrdiff_t>(count), kept, m_history.begin());
}

void TruePeakDetector::flush() {
    static constexpr std::array<double, taps> zeros{};
    process(zeros.data(), zeros.size());
}

} // namespace tavrin
