#pragma once

// A measuring step that fails as a fault of Tavrin's own would, for the tests that prove such a
// fault ends as one file's failed reading.

#include "tavrin/meter/AudioFileMeter.h"
#include "tavrin/workflow/Workflow.h"

#include <filesystem>
#include <stdexcept>

namespace tavrin::test {

/// While it lives, measuring `faulty` fails as a fault of Tavrin's own would, with an exception no
/// file causes; every other file is measured as usual.
class FaultyMeasuring {
public:
    explicit FaultyMeasuring(std::filesystem::path faulty) {
        Workflow::replaceMeasuringStepForTesting(
            [faulty = std::move(faulty)](const std::filesystem::path& file, bool dualMono,
                                         const ProgressFn& progress, const CancelCheck& cancel) {
                if (file == faulty)
                    throw std::out_of_range("vector::_M_range_check");
                return AudioFileMeter::measure(file, dualMono, progress, cancel);
            });
    }
    ~FaultyMeasuring() { Workflow::replaceMeasuringStepForTesting({}); }
    FaultyMeasuring(const FaultyMeasuring&) = delete;
    FaultyMeasuring& operator=(const FaultyMeasuring&) = delete;
};

} // namespace tavrin::test
