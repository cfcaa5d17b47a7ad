#include "tavrin/reports/ReportRow.h"

namespace tavrin {

std::optional<Verdict> ReportRow::verdict(const DeliverySpec& spec) const {
    if (!result)
        return std::nullopt;
    return Verdict::make(*result, spec, findings, damage);
}

} // namespace tavrin
