#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The only number formatters for user-facing text. Every function except `duration` first rounds
/// to one decimal with `round1`, and all decimal text uses "." whatever the process locale is.
namespace tavrin::Fmt {

/// value x 10 rounded to the nearest integer, halves away from zero, divided by 10:
/// 2.25 gives 2.3, -2.25 gives -2.3.
double round1(double value);

/// Display text with one decimal and a U+2212 minus for negatives ("−23.0"). With `isSigned`,
/// positives get a "+" ("+3.3"). A value that rounds to zero prints "0.0", never with a sign.
std::string number(double value, bool isSigned);

/// `placeholder` when `value` is absent, otherwise `number(*value, isSigned)`.
std::string number(std::optional<double> value, bool isSigned, std::string_view placeholder);

/// Machine-readable text for spreadsheets: one decimal, ASCII hyphen-minus for negatives ("-23.0"),
/// "0.0" for a value that rounds to zero, and the empty string when absent.
std::string plain(std::optional<double> value);

/// One decimal with an ASCII hyphen-minus, for magnitudes that are never negative (tolerances,
/// LU amounts).
std::string oneDecimal(double value);

/// Whole seconds, rounded down, as "m:ss" below an hour ("12:34"), else "h:mm:ss" ("1:00:00"): a
/// true peak at 2467.56 s is "41:07". `seconds` is finite and non-negative.
std::string duration(double seconds);

} // namespace tavrin::Fmt
