#include "ProgressText.h"

#include <cmath>

namespace tavrin::app {

namespace {

/// Below this the pace is too uncertain to name a time.
constexpr double settlingSeconds = 10;

} // namespace

QString timeLeftText(double seconds) {
    const double fives = std::max(5.0, std::round(seconds / 5) * 5);
    if (fives < 60)
        return "about " + QString::number(int(fives)) + " s left";
    const double minutes = std::round(seconds / 60);
    if (minutes < 60)
        return "about " + QString::number(int(minutes)) + " min left";
    return "about " + QString::number(std::round(seconds / 3600), 'f', 0) + " h left";
}

QString measuringText(int done, int total, double seconds) {
    QString text = "Measuring " + QString::number(done) + " of " + QString::number(total);
    // `seconds` comes from a clock and `done` from rows finished: both are checked, not trusted.
    if (done > 0 && done < total && std::isfinite(seconds) && seconds >= settlingSeconds)
        text += " — " + timeLeftText(seconds / done * (total - done));
    return text;
}

} // namespace tavrin::app
