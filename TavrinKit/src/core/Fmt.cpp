#include "tavrin/core/Fmt.h"

#include <charconv>
#include <cmath>

namespace tavrin::Fmt {
namespace {

/// "%.1f" in the C locale. std::to_chars never consults the locale, so a German decimal comma
/// can't leak into a report. Adding 0.0 turns a negative zero into a positive one, so that a
/// value that rounds to zero never shows a sign.
std::string fixed1(double rounded) {
    char buffer[400]; // room for every finite double written out in full
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, rounded + 0.0, std::chars_format::fixed, 1)
            .ptr;
    return std::string(buffer, end);
}

/// A whole number, zero-padded to `width` digits.
std::string padded(long long value, std::size_t width) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    if (text.size() < width)
        text.insert(0, width - text.size(), '0');
    return text;
}

} // namespace

double round1(double value) {
    // From 2^52 up a double holds no fraction, and ten times the largest ones would overflow.
    if (!(std::fabs(value) < 0x1p52))
        return value;
    return std::round(value * 10) / 10;
}

std::string number(double value, bool isSigned) {
    const double r = round1(value);
    std::string text = r < 0 ? "\u2212" : isSigned && r > 0 ? "+" : "";
    text += fixed1(std::fabs(r));
    return text;
}

std::string number(std::optional<double> value, bool isSigned, std::string_view placeholder) {
    return value ? number(*value, isSigned) : std::string(placeholder);
}

std::string plain(std::optional<double> value) {
    return value ? oneDecimal(*value) : "";
}

std::string oneDecimal(double value) {
    return fixed1(round1(value));
}

std::string duration(double seconds) {
    // Rounded down: a player set to the time shown has not yet passed what happens there.
    const auto s = static_cast<long long>(std::floor(seconds));
    if (s < 3600)
        return padded(s / 60, 1) + ":" + padded(s % 60, 2);
    return padded(s / 3600, 1) + ":" + padded(s / 60 % 60, 2) + ":" + padded(s % 60, 2);
}

} // namespace tavrin::Fmt
