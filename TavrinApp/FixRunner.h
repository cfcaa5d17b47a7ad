#pragma once

#include "AppSettings.h"
#include "FileItem.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::app {

/// The fix runs: which rows a fix would take, writing their copies one at a time in the
/// background, stopping, and the alert that sums a run up. A run works from the settings as they
/// were when it started.
class FixRunner : public QObject {
    Q_OBJECT

public:
    /// What a run reads of the list and how it changes the rows' fix states.
    struct List {
        const std::vector<FileItem>& items;
        const QSet<QUuid>& selection;
        std::function<int(const QUuid&)> indexOf;
        std::function<void(int row, const std::string& specID, std::optional<FileItem::FixState>)>
            setFix;
        std::function<void(QString title, QString message)> alert;
    };
    FixRunner(List list, const AppSettings& settings);
    /// Stops the running fix and waits for the copy being written to notice.
    ~FixRunner() override;

    std::vector<QUuid> fixCandidates() const;
    bool canFix() const;
    void fixFiles();
    std::vector<QUuid> fixAnywayCandidates(const QSet<QUuid>& rows) const;
    bool canFixAnyway(const QSet<QUuid>& rows) const;
    void fixAnyway();
    std::vector<QUuid> limiterCandidates() const;
    bool canFixWithLimiter() const;
    void fixWithLimiter();
    bool fixing() const { return m_run != nullptr; }
    /// Where the running fix stands: the copy being written (from 1) of those known so far.
    struct FixProgress {
        int current = 0;
        int total = 0;
    };
    std::optional<FixProgress> fixProgress() const;
    void stopFixing();
    QString stopFixingMessage() const;
    /// Damage only warns now: the Fix cells that said a fix left a file alone for it go.
    void forgetDamageRefusals();

    /// Rows about to leave the list: those whose copy hasn't started leave the run.
    void rowsLeaving(const QSet<QUuid>& ids);
    /// Rows have left the list: the run ends if that was all it had left to do.
    void rowsLeft();
    /// The row, at `row` in the list, is measured: the running fix takes it if it waited for it.
    void rowMeasured(const QUuid& id, int row);

signals:
    void fixingChanged();
    void fixProgressChanged();

private:
    struct Run;
    struct Job;
    struct CopyResult;

    std::vector<QUuid> candidates(bool limited) const;
    bool canStartRun(bool limited) const;
    /// Starts a fix run over `ids`; `anyway` writes copies of damaged files too, and waits for no
    /// row still to be measured.
    void startRun(const std::vector<QUuid>& ids, bool limited, bool anyway);
    /// Whether the running fix leaves the row alone for its damage, saying so in its Fix cell.
    bool leftAloneAsDamaged(int row);
    /// Takes the row into the running fix: a copy to write when gain alone can fix it.
    void enlistInRun(int row);
    /// Queues a copy of the row, shown as being written, with its fix state from before kept.
    void queueCopy(int row, double gain, std::optional<std::string> note, bool limited);
    /// Whether a fix would take the row: it is selected, or nothing is.
    bool inFixScope(const FileItem& item) const;
    /// As enlistInRun for a limiter run: a copy to write, or a refusal when it would need
    /// more peak reduction than the limiter takes.
    void enlistForLimiter(int row);
    void startNextCopy();
    void applyCopyResult(std::optional<CopyResult> result);
    /// Rows whose copy hasn't started leave the run, their earlier fix state restored.
    void dropUnstartedCopies(const QSet<QUuid>& ids);
    void finishRunWhenDone();
    void summariseLimiterRun(const Run& run);
    /// Why `run` fixed nothing, counting its scope's rows as the tally does.
    QString nothingToFixMessage(const Run& run) const;

    List m_list;
    const AppSettings& m_settings;
    std::unique_ptr<Run> m_run; ///< the running fix run, if any
    QThreadPool m_pool;
};

} // namespace tavrin::app
