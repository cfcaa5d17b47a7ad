#pragma once

#include "FileItem.h"
#include "tavrin/workflow/Workflow.h"

namespace tavrin::app {

/// What a row holds of a measurement.
inline FileItem::Reading readingOf(const Workflow::Reading& reading) {
    if (reading.result)
        return {FileItem::Reading::Measured{*reading.result, reading.findings, reading.provenance,
                                            reading.timeline, reading.stamp}};
    return {FileItem::Reading::Failed{reading.error.value_or("")}};
}

} // namespace tavrin::app
