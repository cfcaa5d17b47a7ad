#pragma once

#include <QString>

namespace tavrin::app {

/// "about 20 s left", "about 3 min left", "about 2 h left": `seconds` rounded to the nearest
/// 5 s under a minute, to whole minutes under an hour, else to whole hours; never less than 5 s.
QString timeLeftText(double seconds);

/// The footer's line while files are measured: "Measuring 120 of 300", and once measuring has run
/// 10 s and finished a file, " — about 1 min left" at the pace so far.
QString measuringText(int done, int total, double seconds);

} // namespace tavrin::app
