#include "FixRunner.h"

#include "AppTexts.h"
#include "FixRun.h"
#include "Paths.h"

namespace tavrin::app {

namespace {

/// The sentence on the damaged files a run left alone, after another; empty when there are none.
QString damagedLeftAfter(const Workflow::FixRunCounts& counts) {
    return counts.damaged > 0 ? " " + qs(Workflow::damagedLeftMessage(counts.damaged)) : QString();
}

} // namespace

FixRunner::FixRunner(List list, const AppSettings& settings)
    : m_list(std::move(list)), m_settings(settings) {
    m_pool.setMaxThreadCount(1);
}

FixRunner::~FixRunner() {
    if (m_run)
        m_run->stop->store(true);
    // Results are posted to this object from the worker, so it must end first.
    m_pool.waitForDone();
}

void FixRunner::rowsLeaving(const QSet<QUuid>& ids) {
    if (m_run)
        dropUnstartedCopies(ids);
}

void FixRunner::rowsLeft() {
    if (m_run)
        finishRunWhenDone();
}

void FixRunner::rowMeasured(const QUuid& id, int row) {
    if (m_run && m_run->awaited.remove(id)) {
        enlistInRun(row);
        startNextCopy();
    }
}

bool FixRunner::inFixScope(const FileItem& item) const {
    return m_list.selection.empty() || m_list.selection.contains(item.id);
}

std::vector<QUuid> FixRunner::candidates(bool limited) const {
    const DeliverySpec& spec = m_settings.spec();
    std::vector<QUuid> candidates;
    for (const FileItem& item : m_list.items) {
        const LoudnessResult* result = item.result();
        if (inFixScope(item) && result &&
            Verdict::make(*result, spec).status == Verdict::Status::fail &&
            (!limited || Workflow::limiterTakes(*result, spec)))
            candidates.push_back(item.id);
    }
    return candidates;
}

std::vector<QUuid> FixRunner::fixCandidates() const {
    return candidates(false);
}

std::vector<QUuid> FixRunner::limiterCandidates() const {
    return candidates(true);
}

std::vector<QUuid> FixRunner::fixAnywayCandidates(const QSet<QUuid>& rows) const {
    std::vector<QUuid> damaged;
    if (m_settings.damagePolicy() == DamagePolicy::warn)
        return damaged;
    for (const FileItem& item : m_list.items) {
        const LoudnessResult* result = item.result();
        if (rows.contains(item.id) && result && anyDamage(item.findings()) &&
            Verdict::make(*result, m_settings.spec()).status == Verdict::Status::fail)
            damaged.push_back(item.id);
    }
    return damaged;
}

bool FixRunner::canStartRun(bool limited) const {
    return !m_run && (!candidates(limited).empty() ||
                      std::ranges::any_of(m_list.items, [this](const FileItem& item) {
                          return item.unmeasured() && inFixScope(item);
                      }));
}

bool FixRunner::canFix() const {
    return canStartRun(false);
}

bool FixRunner::canFixWithLimiter() const {
    return canStartRun(true);
}

bool FixRunner::canFixAnyway(const QSet<QUuid>& rows) const {
    return !m_run && !fixAnywayCandidates(rows).empty();
}

void FixRunner::fixFiles() {
    if (!m_run)
        startRun(candidates(false), false, false);
}

void FixRunner::fixWithLimiter() {
    if (!m_run)
        startRun(candidates(true), true, false);
}

void FixRunner::fixAnyway() {
    if (canFixAnyway(m_list.selection))
        startRun(fixAnywayCandidates(m_list.selection), false, true);
}

void FixRunner::startRun(const std::vector<QUuid>& ids, bool limited, bool anyway) {
    m_run.reset(new Run{m_settings.spec(), m_settings.outputFolder(), m_settings.copyFormat(),
                        m_settings.dualMono(), !m_list.selection.empty(), limited,
                        !anyway && m_settings.damagePolicy() == DamagePolicy::fail,
                        !limited && m_settings.limitWhereGainCant()});
    // Fix Anyway takes the damaged rows as they were read, none still to be measured.
    for (const FileItem& item : m_list.items)
        if (!anyway && item.unmeasured() && inFixScope(item))
            m_run->awaited.insert(item.id);
    for (const QUuid& id : ids)
        enlistInRun(m_list.indexOf(id));
    if (m_run->queue.empty() && m_run->awaited.empty()) {
        finishRunWhenDone(); // nothing to write: says why at once
        return;
    }
    startNextCopy();
    m_run->announced = true;
    emit fixingChanged();
}

bool FixRunner::leftAloneAsDamaged(int row) {
    Run& run = *m_run;
    const FileItem& item = m_list.items[static_cast<std::size_t>(row)];
    if (!run.leavesDamaged || !anyDamage(item.findings()))
        return false;
    ++run.damaged;
    using State = FileItem::FixState;
    m_list.setFix(row, run.spec.id,
                  State{State::Refused{Workflow::fixTextDamaged(item.findings()),
                                       State::Refused::Reason::damaged}});
    return true;
}

void FixRunner::enlistInRun(int row) {
    Run& run = *m_run;
    const FileItem& item = m_list.items[static_cast<std::size_t>(row)];
    const LoudnessResult* result = item.result();
    if (run.limited ||
        (run.limitsWhereGainCant && result && Workflow::limiterTakes(*result, run.spec))) {
        enlistForLimiter(row);
        return;
    }
    const auto plan =
        Workflow::fixPlanFor(result ? std::optional(*result) : std::nullopt, run.spec);
    if (!plan || leftAloneAsDamaged(row))
        return;
    using State = FileItem::FixState;
    if (const auto* gain = std::get_if<FixPlan::Gain>(&plan->value)) {
        queueCopy(row, gain->gain, gain->remark(), false);
    } else if (const auto* refused = std::get_if<FixPlan::Refused>(&plan->value)) {
        ++run.refused;
        m_list.setFix(row, run.spec.id,
                      State{State::Refused{refused->text(FixPlan::limiterInApp)}});
    } else {
        m_list.setFix(row, run.spec.id, State{State::AlreadyPasses{}});
    }
}

void FixRunner::enlistForLimiter(int row) {
    Run& run = *m_run;
    const FileItem& item = m_list.items[static_cast<std::size_t>(row)];
    const LoudnessResult* result = item.result();
    // Files gain alone fixes fully, and those that pass, are not the limiter's.
    if (!result || !Workflow::limiterTakes(*result, run.spec) || leftAloneAsDamaged(row))
        return;
    using State = FileItem::FixState;
    if (auto refusal = Workflow::limiterRefusal(*result, run.spec)) {
        ++run.refused;
        m_list.setFix(
            row, run.spec.id,
            State{State::Refused{std::move(*refusal), State::Refused::Reason::byLimiter}});
        return;
    }
    queueCopy(row, 0, std::nullopt, true);
}

void FixRunner::forgetDamageRefusals() {
    using Refused = FileItem::FixState::Refused;
    for (int row = 0; row < static_cast<int>(m_list.items.size()); ++row) {
        std::vector<std::string> presets; // each preset keeps its own fixes
        for (const auto& [specID, fix] : m_list.items[static_cast<std::size_t>(row)].fixes)
            if (const auto* refused = std::get_if<Refused>(&fix.value);
                refused && refused->reason == Refused::Reason::damaged)
                presets.push_back(specID);
        for (const std::string& specID : presets)
            m_list.setFix(row, specID, std::nullopt);
    }
}

void FixRunner::queueCopy(int row, double gain, std::optional<std::string> note, bool limited) {
    Run& run = *m_run;
    const FileItem& item = m_list.items[static_cast<std::size_t>(row)];
    const FileItem::FixState* before = item.fixFor(run.spec.id);
    run.queue.push_back({item.id, item.url, *item.result(), item.findings(), gain, std::move(note),
                         before ? std::optional(*before) : std::nullopt, limited});
    m_list.setFix(row, run.spec.id, FileItem::FixState{FileItem::FixState::Queued{}});
    emit fixProgressChanged();
}

std::optional<FixRunner::FixProgress> FixRunner::fixProgress() const {
    if (!m_run || !m_run->writing)
        return std::nullopt;
    return FixProgress{m_run->started, m_run->started + static_cast<int>(m_run->queue.size())};
}

void FixRunner::startNextCopy() {
    Run& run = *m_run;
    if (run.writing)
        return;
    if (run.queue.empty()) {
        finishRunWhenDone();
        return;
    }
    run.writing = std::move(run.queue.front());
    run.queue.pop_front();
    ++run.started;
    if (const int row = m_list.indexOf(run.writing->id); row >= 0)
        m_list.setFix(row, run.spec.id, FileItem::FixState{FileItem::FixState::Writing{}});
    emit fixProgressChanged();
    runThen(
        m_pool, this,
        [job = *run.writing, spec = run.spec, folder = run.outputFolder, format = run.copyFormat,
         dualMono = run.dualMono, stop = run.stop]() -> std::optional<CopyResult> {
            const CancelCheck stopped = [&stop] { return stop->load(); };
            try {
                auto result = [&]() -> CopyResult {
                    if (job.limited)
                        return {Workflow::writeLimitedCopy(job.url, job.original, spec, folder,
                                                           dualMono, stopped, format, job.findings),
                                false};
                    if (auto earlier =
                            Workflow::earlierCopy(job.url, spec, folder, dualMono, stopped, format))
                        return {{std::move(*earlier)}, true};
                    return {Workflow::writeFixedCopy(job.url, job.gain, spec, folder, dualMono,
                                                     stopped, format, job.findings),
                            false};
                }();
                if (const auto* written =
                        std::get_if<Workflow::CopyOutcome::Written>(&result.outcome.value))
                    // Empty when it can't be read back: the next look says it isn't as written.
                    result.stamp =
                        Session::stampOf(written->copy, stopped).value_or(Session::FileStamp{});
                return result;
            } catch (const Cancelled&) {
                return std::nullopt;
            } catch (...) {
                return CopyResult{
                    {Workflow::CopyOutcome::Failed{std::string(Workflow::internalCopyError)}},
                    false};
            }
        },
        [this](std::optional<CopyResult> result) { applyCopyResult(std::move(result)); });
}

void FixRunner::applyCopyResult(std::optional<CopyResult> result) {
    Run& run = *m_run;
    const Job job = std::move(*run.writing);
    run.writing.reset();
    const int row = m_list.indexOf(job.id);
    using State = FileItem::FixState;
    std::optional<State> state = job.before;
    if (!result) {
        ++run.notStarted; // stopped: the copy was removed
    } else if (const auto* copy =
                   std::get_if<Workflow::CopyOutcome::Written>(&result->outcome.value)) {
        ++(result->kept ? run.kept : run.written);
        run.ofDamaged += copy->ofDamaged && !result->kept;
        run.stillFailing +=
            !result->kept && Verdict::make(copy->result, run.spec).status != Verdict::Status::pass;
        state = State{State::Done{copy->copy, copy->result, job.note, copy->limiting,
                                  copy->encoding, copy->ofDamaged, copy->gain, result->stamp}};
    } else if (const auto* refused =
                   std::get_if<Workflow::CopyOutcome::Refused>(&result->outcome.value)) {
        ++run.refused;
        state = State{State::Refused{refused->message, State::Refused::Reason::byLimiter}};
    } else {
        ++run.failed;
        // A copy that failed now doesn't hide one written before.
        if (!job.before || !std::holds_alternative<State::Done>(job.before->value))
            state = State{State::Failed{
                std::get<Workflow::CopyOutcome::Failed>(result->outcome.value).message}};
    }
    if (row >= 0)
        m_list.setFix(row, run.spec.id, std::move(state));
    emit fixProgressChanged();
    startNextCopy();
}

void FixRunner::dropUnstartedCopies(const QSet<QUuid>& ids) {
    Run& run = *m_run;
    for (auto job = run.queue.begin(); job != run.queue.end();) {
        if (!ids.contains(job->id)) {
            ++job;
            continue;
        }
        if (const int row = m_list.indexOf(job->id); row >= 0)
            m_list.setFix(row, run.spec.id, job->before);
        ++run.notStarted;
        job = run.queue.erase(job);
    }
    // Rows still being measured were never known to need a copy: many turn out to pass.
    for (const QUuid& id : ids)
        run.awaited.remove(id);
    emit fixProgressChanged();
}

void FixRunner::stopFixing() {
    if (!m_run)
        return;
    m_run->stop->store(true);
    QSet<QUuid> unstarted = m_run->awaited;
    for (const Job& job : m_run->queue)
        unstarted.insert(job.id);
    dropUnstartedCopies(unstarted);
    finishRunWhenDone();
}

QString FixRunner::stopFixingMessage() const {
    if (!m_run)
        return {};
    const int waiting = static_cast<int>(m_run->queue.size() + m_run->awaited.size());
    return AppTexts::stopFixingCost(waiting, m_run->writing.has_value());
}

void FixRunner::finishRunWhenDone() {
    if (m_run->writing || !m_run->queue.empty() || !m_run->awaited.empty())
        return;
    const std::unique_ptr<Run> run = std::move(m_run);
    if (run->announced)
        emit fixingChanged();
    if (run->limited) {
        summariseLimiterRun(*run);
        return;
    }
    Workflow::FixRunCounts counts = run->counts();
    // Files the limiter refused have a sentence of their own, as after Fix with Limiter.
    const bool limiterRefused = run->limitsWhereGainCant && run->refused > 0;
    if (run->limitsWhereGainCant)
        counts.skipped = 0;
    if (counts.jobs + counts.kept + counts.notStarted > 0)
        m_list.alert(qs(Workflow::fixedCopiesTitle),
                     qs(Workflow::fixedCopiesMessage(counts, run->outputFolder)) +
                         (limiterRefused ? " " + qs(Workflow::limiterRefusedMessage(run->refused))
                                         : QString()));
    else if (limiterRefused)
        m_list.alert(qs(Workflow::cantLimitTitle),
                     qs(Workflow::limiterRefusedMessage(run->refused)) + damagedLeftAfter(counts));
    else if (run->refused > 0)
        m_list.alert(qs(Workflow::cantFixTitle),
                     qs(Workflow::cantFixMessage(run->spec)) + damagedLeftAfter(counts));
    else if (run->damaged > 0)
        m_list.alert(qs(Workflow::damagedNotFixedTitle),
                     qs(Workflow::damagedLeftMessage(run->damaged)));
    else
        m_list.alert(qs(Workflow::nothingToFixTitle), nothingToFixMessage(*run));
}

QString FixRunner::nothingToFixMessage(const Run& run) const {
    int passing = 0, withoutReading = 0, failingOnDamage = 0;
    for (const FileItem& item : m_list.items) {
        if (!inFixScope(item))
            continue;
        const LoudnessResult* result = item.result();
        const auto status =
            result ? Verdict::make(*result, run.spec).status : Verdict::Status::unmeasurable;
        // A file the tally counts as failing for its damage alone is no gain's to fix.
        if (result && status != Verdict::Status::fail && run.leavesDamaged &&
            anyDamage(item.findings())) {
            ++failingOnDamage;
            continue;
        }
        passing += status == Verdict::Status::pass;
        withoutReading += status == Verdict::Status::unmeasurable;
    }
    if (failingOnDamage > 0)
        return qs(Workflow::onlyDamageFailsMessage(failingOnDamage));
    return qs(Workflow::nothingToFixMessage(run.spec, run.fromSelection, passing, withoutReading));
}

void FixRunner::summariseLimiterRun(const Run& run) {
    Workflow::FixRunCounts counts = run.counts();
    counts.skipped = 0; // the limiter's refusals have a sentence of their own
    if (counts.jobs + counts.notStarted > 0) {
        QString message = qs(Workflow::fixedCopiesMessage(counts, run.outputFolder));
        if (run.refused > 0)
            message += " " + qs(Workflow::limiterRefusedMessage(run.refused));
        m_list.alert(AppTexts::limitedCopiesTitle(), message);
    } else if (run.refused > 0) {
        m_list.alert(qs(Workflow::cantLimitTitle),
                     qs(Workflow::limiterRefusedMessage(run.refused)) + damagedLeftAfter(counts));
    } else if (run.damaged > 0) {
        m_list.alert(qs(Workflow::damagedNotFixedTitle),
                     qs(Workflow::damagedLeftMessage(run.damaged)));
    } else {
        m_list.alert(AppTexts::nothingToLimitTitle(),
                     AppTexts::nothingToLimit(run.spec, run.fromSelection));
    }
}

} // namespace tavrin::app
