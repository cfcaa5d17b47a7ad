// A first front end: meters a generated 1 kHz tone at −23 dBFS and prints the reading.
#include "tavrin/LoudnessMeter.h"

#include <cmath>
#include <cstdio>
#include <numbers>

int main() {
    const double rate = 48000;
    const double amplitude = std::pow(10.0, -23.0 / 20);
    std::vector<std::vector<double>> tone(2, std::vector<double>(static_cast<std::size_t>(rate * 10)));
    for (auto& channel : tone)
        for (std::size_t i = 0; i < channel.size(); ++i)
            channel[i] = amplitude * std::sin(2 * std::numbers::pi * 1000 * static_cast<double>(i) / rate);
    tavrin::LoudnessMeter meter({1.0, 1.0}, rate);
    meter.process(tone);
    const auto result = meter.finish();
    std::printf("1 kHz stereo tone at -23 dBFS, 10 s: %s\n", result.toJson().c_str());
    return 0;
}
