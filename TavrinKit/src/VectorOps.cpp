#include "tavrin/VectorOps.h"

#include <cmath>

namespace tavrin::VectorOps {

void floatToDouble(const float* in, double* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = in[i];
}

double maxMagnitude(const double* x, std::size_t n) {
    double peak = 0;
    for (std::size_t i = 0; i < n; ++i)
        peak = std::fmax(peak, std::fabs(x[i]));
    return peak;
}

double sumOfSquares(const double* x, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += x[i] * x[i];
    return sum;
}

void biquadCascade(const std::array<double, 10>& c, std::array<double, 6>& delay, const double* in,
                   double* out, std::size_t n) {
    // Direct form I, exactly the difference equation of each section.
    double x1 = delay[0], x2 = delay[1];
    double y1 = delay[2], y2 = delay[3];
    double z1 = delay[4], z2 = delay[5];
    for (std::size_t i = 0; i < n; ++i) {
        const double x = in[i];
        const double y = c[0] * x + c[1] * x1 + c[2] * x2 - c[3] * y1 - c[4] * y2;
        const double z = c[5] * y + c[6] * y1 + c[7] * y2 - c[8] * z1 - c[9] * z2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        z2 = z1;
        z1 = z;
        out[i] = z;
    }
    delay = {x1, x2, y1, y2, z1, z2};
}

void correlate32(const double* in, const double* taps, double* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0;
        for (std::size_t p = 0; p < 32; ++p)
            sum += in[i + p] * taps[p];
        out[i] = sum;
    }
}

void scale(float* x, std::size_t n, float factor) {
    for (std::size_t i = 0; i < n; ++i)
        x[i] *= factor;
}

} // namespace tavrin::VectorOps
