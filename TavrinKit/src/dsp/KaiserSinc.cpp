#include "dsp/KaiserSinc.h"

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

} // namespace

std::vector<double> kaiserSincPhase(double fraction, int halfWidth, double beta) {
    const double i0Beta = besselI0(beta);
    std::vector<double> phase(static_cast<std::size_t>(2 * halfWidth));
    double sum = 0;
    for (std::size_t p = 0; p < phase.size(); ++p) {
        const double t = fraction - (static_cast<double>(p) - (halfWidth - 1));
        const double sinc = t == 0 ? 1.0 : std::sin(pi * t) / (pi * t);
        const double r = t / halfWidth;
        const double window =
            std::fabs(r) >= 1 ? 0.0 : besselI0(beta * std::sqrt(1 - r * r)) / i0Beta;
        phase[p] = sinc * window;
        sum += phase[p];
    }
    for (double& tap : phase)
        tap /= sum;
    return phase;
}

double largestTapSum(const std::vector<double>& taps, std::size_t length) {
    double largest = 0;
    for (std::size_t start = 0; start + length <= taps.size(); start += length) {
        double sum = 0;
        for (std::size_t p = start; p < start + length; ++p)
            sum += std::fabs(taps[p]);
        largest = std::max(largest, sum);
    }
    return largest;
}

} // namespace tavrin
