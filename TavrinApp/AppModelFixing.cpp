#include "AppModelParts.h"
#include "DamageTexts.h"
#include "LimiterTexts.h"

namespace tavrin::app {

namespace {

/// The sentence on the damaged files a run left alone, after another; empty when there are none.
QString damagedLeftAfter(const Workflow::FixRunCounts& counts) {
    return counts.damaged > 0 ? " " + qs(Workflow::damagedLeftMessage(counts.damaged)) : QString();
}

} // namespace

bool AppModel::inFixScope(const FileItem& item) const {
    return m_selection.empty() || m_selection.contains(item.id);
}

std::vector<QUuid> AppModel::candidates(bool limited) const {
    const DeliverySpec& spec = currentSpec();
    std::vector<QUuid> candidates;
    for (const FileItem& item : m_items) {
        const LoudnessResult* result = item.result();
        if (inFixScope(item) && result &&
            Verdict::make(*result, spec).status == Verdict::Status::fail &&
            (!limited || Workflow::limiterTakes(*result, spec)))
            candidates.push_back(item.id);
    }
    return candidates;
}

std::vector<QUuid> AppModel::fixCandidates() const {
    return candidates(false);
}

std::vector<QUuid> AppModel::limiterCandidates() const {
    return candidates(true);
}

std::vector<QUuid> AppModel::fixAnywayCandidates(const QSet<QUuid>& rows) const {
    std::vector<QUuid> damaged;
    if (damagePolicy() == DamagePolicy::warn)
        return damaged;
    for (const FileItem& item : m_items) {
        const LoudnessResult* result = item.result();
        if (rows.contains(item.id) && result && anyDamage(item.findings()) &&
            Verdict::make(*result, currentSpec()).status == Verdict::Status::fail)
            damaged.push_back(item.id);
    }
    return damaged;
}

bool AppModel::canStartFixRun(bool limited) const {
    return !fixing() && (!candidates(limited).empty() ||
                         std::ranges::any_of(m_items, [this](const FileItem& item) {
                             return item.unmeasured() && inFixScope(item);
                         }));
}

bool AppModel::canFix() const {
    return canStartFixRun(false);
}

bool AppModel::canFixWithLimiter() const {
    return canStartFixRun(true);
}

bool AppModel::canFixAnyway(const QSet<QUuid>& rows) const {
    return !fixing() && !fixAnywayCandidates(rows).empty();
}

void AppModel::fixFiles() {
    if (!fixing())
        startFixRun(candidates(false), false, false);
}

void AppModel::fixWithLimiter() {
    if (!fixing())
        startFixRun(candidates(true), true, false);
}

void AppModel::fixAnyway() {
    if (canFixAnyway())
        startFixRun(fixAnywayCandidates(m_selection), false, true);
}

void AppModel::startFixRun(const std::vector<QUuid>& ids, bool limited, bool anyway) {
    m_fixRun.reset(new FixRun{currentSpec(), outputFolder(), copyFormat(), dualMono(),
                              !m_selection.empty(), limited,
                              !anyway && damagePolicy() == DamagePolicy::fail});
    // Fix Anyway takes the damaged rows as they were read, none still to be measured.
    for (const FileItem& item : m_items)
        if (!anyway && item.unmeasured() && inFixScope(item))
            m_fixRun->awaited.insert(item.id);
    for (const QUuid& id : ids)
        enlistInFixRun(indexOf(id));
    if (m_fixRun->queue.empty() && m_fixRun->awaited.empty()) {
        finishFixRunWhenDone(); // nothing to write: says why at once
        return;
    }
    startNextCopy();
    m_fixRun->announced = true;
    emit fixingChanged();
}

bool AppModel::leftAloneAsDamaged(int row) {
    FixRun& run = *m_fixRun;
    const FileItem& item = m_items[static_cast<std::size_t>(row)];
    if (!run.leavesDamaged || !anyDamage(item.findings()))
        return false;
    ++run.damaged;
    using State = FileItem::FixState;
    setFix(row, run.spec.id,
           State{State::Refused{Workflow::fixTextDamaged(item.findings()),
                                State::Refused::Reason::damaged}});
    return true;
}

void AppModel::enlistInFixRun(int row) {
    if (m_fixRun->limited) {
        enlistForLimiter(row);
        return;
    }
    FixRun& run = *m_fixRun;
    const FileItem& item = m_items[static_cast<std::size_t>(row)];
    const LoudnessResult* result = item.result();
    const auto plan =
        Workflow::fixPlanFor(result ? std::optional(*result) : std::nullopt, run.spec);
    if (!plan || leftAloneAsDamaged(row))
        return;
    using State = FileItem::FixState;
    if (const auto* gain = std::get_if<FixPlan::Gain>(&plan->value)) {
        queueCopy(row, gain->gain, gain->note, false);
    } else if (const auto* refused = std::get_if<FixPlan::Refused>(&plan->value)) {
        ++run.refused;
        setFix(row, run.spec.id, State{State::Refused{refused->text(FixPlan::limiterInApp)}});
    } else {
        setFix(row, run.spec.id, State{State::AlreadyPasses{}});
    }
}

void AppModel::enlistForLimiter(int row) {
    FixRun& run = *m_fixRun;
    const FileItem& item = m_items[static_cast<std::size_t>(row)];
    const LoudnessResult* result = item.result();
    // Files gain alone fixes fully, and those that pass, are not the limiter's.
    if (!result || !Workflow::limiterTakes(*result, run.spec) || leftAloneAsDamaged(row))
        return;
    using State = FileItem::FixState;
    if (auto refusal = Workflow::limiterRefusal(*result, run.spec)) {
        ++run.refused;
        setFix(row, run.spec.id,
               State{State::Refused{std::move(*refusal), State::Refused::Reason::byLimiter}});
        return;
    }
    queueCopy(row, 0, std::nullopt, true);
}

void AppModel::forgetDamageRefusals() {
    using Refused = FileItem::FixState::Refused;
    for (int row = 0; row < static_cast<int>(m_items.size()); ++row) {
        std::vector<std::string> presets; // each preset keeps its own fixes
        for (const auto& [specID, fix] : m_items[static_cast<std::size_t>(row)].fixes)
            if (const auto* refused = std::get_if<Refused>(&fix.value);
                refused && refused->reason == Refused::Reason::damaged)
                presets.push_back(specID);
        for (const std::string& specID : presets)
            setFix(row, specID, std::nullopt);
    }
}

void AppModel::queueCopy(int row, double gain, std::optional<std::string> note, bool limited) {
    FixRun& run = *m_fixRun;
    const FileItem& item = m_items[static_cast<std::size_t>(row)];
    const FileItem::FixState* before = item.fixFor(run.spec.id);
    run.queue.push_back({item.id, item.url, *item.result(), item.findings(), gain, std::move(note),
                         before ? std::optional(*before) : std::nullopt, limited});
    setFix(row, run.spec.id, FileItem::FixState{FileItem::FixState::Queued{}});
    emit fixProgressChanged();
}

std::optional<AppModel::FixProgress> AppModel::fixProgress() const {
    if (!m_fixRun || !m_fixRun->writing)
        return std::nullopt;
    return FixProgress{m_fixRun->started,
                       m_fixRun->started + static_cast<int>(m_fixRun->queue.size())};
}

void AppModel::startNextCopy() {
    FixRun& run = *m_fixRun;
    if (run.writing)
        return;
    if (run.queue.empty()) {
        finishFixRunWhenDone();
        return;
    }
    run.writing = std::move(run.queue.front());
    run.queue.pop_front();
    ++run.started;
    if (const int row = indexOf(run.writing->id); row >= 0)
        setFix(row, run.spec.id, FileItem::FixState{FileItem::FixState::Writing{}});
    emit fixProgressChanged();
    runThen(
        m_copyPool, this,
        [job = *run.writing, spec = run.spec, folder = run.outputFolder, format = run.copyFormat,
         dualMono = run.dualMono, stop = run.stop]() -> std::optional<CopyResult> {
            const CancelCheck stopped = [&stop] { return stop->load(); };
            try {
                if (job.limited)
                    return CopyResult{Workflow::writeLimitedCopy(job.url, job.original, spec,
                                                                 folder, dualMono, stopped, format,
                                                                 job.findings),
                                      false};
                if (auto earlier =
                        Workflow::earlierCopy(job.url, spec, folder, dualMono, stopped, format))
                    return CopyResult{{std::move(*earlier)}, true};
                return CopyResult{Workflow::writeFixedCopy(job.url, job.gain, spec, folder,
                                                           dualMono, stopped, format, job.findings),
                                  false};
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

void AppModel::applyCopyResult(std::optional<CopyResult> result) {
    FixRun& run = *m_fixRun;
    const FixJob job = std::move(*run.writing);
    run.writing.reset();
    const int row = indexOf(job.id);
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
                                  copy->encoding, copy->ofDamaged}};
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
        setFix(row, run.spec.id, std::move(state));
    emit fixProgressChanged();
    startNextCopy();
}

void AppModel::dropUnstartedCopies(const QSet<QUuid>& ids) {
    FixRun& run = *m_fixRun;
    for (auto job = run.queue.begin(); job != run.queue.end();) {
        if (!ids.contains(job->id)) {
            ++job;
            continue;
        }
        if (const int row = indexOf(job->id); row >= 0)
            setFix(row, run.spec.id, job->before);
        ++run.notStarted;
        job = run.queue.erase(job);
    }
    // Rows still being measured were never known to need a copy: many turn out to pass.
    for (const QUuid& id : ids)
        run.awaited.remove(id);
    emit fixProgressChanged();
}

void AppModel::stopFixing() {
    if (!m_fixRun)
        return;
    m_fixRun->stop->store(true);
    QSet<QUuid> unstarted = m_fixRun->awaited;
    for (const FixJob& job : m_fixRun->queue)
        unstarted.insert(job.id);
    dropUnstartedCopies(unstarted);
    finishFixRunWhenDone();
}

QString AppModel::stopFixingMessage() const {
    if (!m_fixRun)
        return {};
    const int waiting = static_cast<int>(m_fixRun->queue.size() + m_fixRun->awaited.size());
    const QString files = QString::number(waiting) +
                          (waiting == 1 ? " file isn’t fixed yet." : " files aren’t fixed yet.");
    if (!m_fixRun->writing)
        return files;
    return waiting == 0 ? QStringLiteral("The copy being written is removed.")
                        : "The copy being written is removed and " + files;
}

void AppModel::finishFixRunWhenDone() {
    if (m_fixRun->writing || !m_fixRun->queue.empty() || !m_fixRun->awaited.empty())
        return;
    const std::unique_ptr<FixRun> run = std::move(m_fixRun);
    if (run->announced)
        emit fixingChanged();
    if (run->limited) {
        summariseLimiterRun(*run);
        return;
    }
    const Workflow::FixRunCounts counts = run->counts();
    if (counts.jobs + counts.kept + counts.notStarted > 0)
        setAlert(qs(Workflow::fixedCopiesTitle),
                 qs(Workflow::fixedCopiesMessage(counts, run->outputFolder)));
    else if (run->refused > 0)
        setAlert(qs(Workflow::cantFixTitle),
                 qs(Workflow::cantFixMessage(run->spec)) + damagedLeftAfter(counts));
    else if (run->damaged > 0)
        setAlert(qs(Workflow::damagedNotFixedTitle),
                 qs(Workflow::damagedLeftMessage(run->damaged)));
    else
        setAlert(qs(Workflow::nothingToFixTitle), nothingToFixMessage(*run));
}

QString AppModel::nothingToFixMessage(const FixRun& run) const {
    int passing = 0, withoutReading = 0, failingOnDamage = 0;
    for (const FileItem& item : m_items) {
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

void AppModel::summariseLimiterRun(const FixRun& run) {
    Workflow::FixRunCounts counts = run.counts();
    counts.skipped = 0; // the limiter's refusals have a sentence of their own
    if (counts.jobs + counts.notStarted > 0) {
        QString message = qs(Workflow::fixedCopiesMessage(counts, run.outputFolder));
        if (run.refused > 0)
            message += " " + qs(Workflow::limiterRefusedMessage(run.refused));
        setAlert(LimiterTexts::limitedCopiesTitle(), message);
    } else if (run.refused > 0) {
        setAlert(qs(Workflow::cantLimitTitle),
                 qs(Workflow::limiterRefusedMessage(run.refused)) + damagedLeftAfter(counts));
    } else if (run.damaged > 0) {
        setAlert(qs(Workflow::damagedNotFixedTitle), qs(Workflow::damagedLeftMessage(run.damaged)));
    } else {
        setAlert(LimiterTexts::nothingToLimitTitle(),
                 LimiterTexts::nothingToLimit(run.spec, run.fromSelection));
    }
}

} // namespace tavrin::app
