#pragma once

// The state of a fix run, shared by the runner's source files.

#include "Background.h"
#include "FixRunner.h"
#include "tavrin/workflow/Workflow.h"

#include <QSet>
#include <atomic>
#include <deque>
#include <memory>

namespace tavrin::app {

/// One copy to write: the row, its original and reading, the plan's gain and note, and the row's
/// fix state for the preset before the run, which comes back if the copy is never made.
struct FixRunner::Job {
    QUuid id;
    std::filesystem::path url;
    LoudnessResult original;
    std::vector<Finding> findings; ///< the original's, for the copy's provenance record
    double gain;
    std::optional<std::string> note;
    std::optional<FileItem::FixState> before;
    bool limited = false; ///< gain and the limiter, not gain alone
};

/// What a copy's worker gives back, unless it was stopped.
struct FixRunner::CopyResult {
    Workflow::CopyOutcome outcome;
    bool kept;                     ///< a copy made earlier, found instead of written
    Session::FileStamp stamp = {}; ///< of a copy written or kept, read back while it is fresh
};

/// The running fix run, working from its own copies of the preset, folder, dual-mono flag and
/// damage policy, so changing them meanwhile affects only later runs. Rows leave `queue` and
/// `awaited` when they are handled, removed or the run is stopped; the run ends when both are empty
/// and no copy is being written.
struct FixRunner::Run {
    DeliverySpec spec;
    std::optional<std::filesystem::path> outputFolder;
    GainWriter::CopyFormat copyFormat;
    bool dualMono;
    bool fromSelection;
    bool limited;       ///< Fix with Limiter rather than Fix
    bool leavesDamaged; ///< damaged candidates get no copy: damage fails, and not Fix Anyway
    /// Fix limits the files gain alone can't fix fully, as Fix with Limiter would, and gives the
    /// rest gain copies: the setting "Use the limiter".
    bool limitsWhereGainCant = false;
    bool announced = false; ///< `fixingChanged` said it started
    QSet<QUuid> awaited{};  ///< rows of the run's scope still to be measured at the start
    std::deque<Job> queue{};
    std::optional<Job> writing{};
    int started = 0; ///< copies started, the one being written included
    int written = 0;
    int kept = 0;
    int failed = 0;
    int refused = 0;
    int notStarted = 0;
    int damaged = 0;      ///< left alone for their damage
    int ofDamaged = 0;    ///< copies written of damaged audio
    int stillFailing = 0; ///< copies written that still fail
    std::shared_ptr<std::atomic<bool>> stop = newStopFlag();

    /// What became of the run's candidates, for its summary.
    Workflow::FixRunCounts counts() const {
        return {.written = written,
                .jobs = written + failed,
                .skipped = refused,
                .kept = kept,
                .notStarted = notStarted,
                .damaged = damaged,
                .ofDamaged = ofDamaged,
                .stillFailing = stillFailing};
    }
};

} // namespace tavrin::app
