#pragma once

#include "tavrin/rules/DeliverySpec.h"

#include <QString>

/// The summary texts of a Fix with Limiter run.
namespace tavrin::app::LimiterTexts {

inline QString limitedCopiesTitle() {
    return QStringLiteral("Limited copies");
}

inline QString nothingToLimitTitle() {
    return QStringLiteral("Nothing to limit");
}

/// Why nothing was limited: the candidates were the selected rows (`fromSelection`) or all rows.
inline QString nothingToLimit(const DeliverySpec& spec, bool fromSelection) {
    const QString name = QString::fromStdString(spec.name);
    return fromSelection ? "None of the selected files needs a limiter for " + name + "."
                         : "No measured file needs a limiter for " + name +
                               "; gain alone fixes those that fail.";
}

} // namespace tavrin::app::LimiterTexts
