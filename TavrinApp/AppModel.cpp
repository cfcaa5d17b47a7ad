#include "AppModel.h"

#include "AppTexts.h"
#include "LimiterTexts.h"
#include "Paths.h"
#include "tavrin/Report.h"
#include "tavrin/Workflow.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSettings>
#include <algorithm>
#include <chrono>
#include <deque>
#include <system_error>
#include <unordered_set>

namespace tavrin::app {

namespace {

constexpr auto presetKey = "preset";
constexpr auto dualMonoKey = "dualMono";
constexpr auto outputFolderKey = "outputFolder";
constexpr auto paperKey = "paperSize";
constexpr auto copyFormatKey = "copyFormat";
/// Whether measuring the list also gathers each row's timeline.
constexpr bool gatherTimelines = false;
constexpr auto customTargetsKey = "customTargets";
constexpr auto addFilesFolderKey = "addFilesFolder";
constexpr auto exportFolderKey = "exportFolder";

/// The folder stored under `key`: only an absolute path, whatever else the file holds.
std::filesystem::path storedFolder(const QSettings* settings, const char* key) {
    const QVariant stored = settings ? settings->value(key) : QVariant();
    const auto folder =
        stored.typeId() == QMetaType::QString ? toPath(stored.toString()) : std::filesystem::path();
    return folder.is_absolute() ? folder : std::filesystem::path();
}

/// The notice naming the paths of a selection that aren't there, or nothing when all are.
std::optional<QString> missingNotice(const std::vector<std::filesystem::path>& paths) {
    QStringList sentences;
    for (const auto& path : paths) {
        std::error_code error;
        if (std::filesystem::symlink_status(path, error).type() ==
            std::filesystem::file_type::not_found)
            sentences << qs(
                Workflow::unusableMessage({path, AudioTypes::Unusable::Reason::missing}));
    }
    return sentences.isEmpty() ? std::nullopt : std::optional(sentences.join(' '));
}

FileItem::Reading readingOf(const Workflow::Reading& reading) {
    if (reading.result)
        return {FileItem::Reading::Measured{*reading.result, reading.warnings, reading.timeline}};
    return {FileItem::Reading::Failed{reading.error.value_or("")}};
}

/// Runs `work` on `pool`, then `done` with its result on `context`'s thread, always from the event
/// loop: never inside the call, even when the work is over at once, so `done` can't reenter the
/// code that started it. The owner of `pool` must wait for it before `context` is destroyed.
template <typename Work, typename Done>
void runThen(QThreadPool& pool, QObject* context, Work work, Done done) {
    pool.start([context, work = std::move(work), done = std::move(done)]() mutable {
        QMetaObject::invokeMethod(
            context,
            [done = std::move(done), result = work()]() mutable { done(std::move(result)); },
            Qt::QueuedConnection);
    });
}

std::shared_ptr<std::atomic<bool>> newStopFlag() {
    return std::make_shared<std::atomic<bool>>(false);
}

} // namespace

const LoudnessResult* FileItem::result() const {
    const auto* measured = std::get_if<Reading::Measured>(&reading.value);
    return measured ? &measured->result : nullptr;
}

bool FileItem::unmeasured() const {
    return std::holds_alternative<Reading::Waiting>(reading.value) ||
           std::holds_alternative<Reading::Measuring>(reading.value);
}

const std::vector<std::string>& FileItem::warnings() const {
    static const std::vector<std::string> none;
    const auto* measured = std::get_if<Reading::Measured>(&reading.value);
    return measured ? measured->warnings : none;
}

const FileItem::FixState* FileItem::fixFor(const std::string& specID) const {
    const auto found = fixes.find(specID);
    return found == fixes.end() ? nullptr : &found->second;
}

/// The running measuring loop: what it measures with, how many of its files are running, and
/// how many it has finished since it started from idle.
struct AppModel::MeasuringLoop {
    int generation;
    bool dualMono;
    int width;
    int running = 0;
    int finished = 0;
    QElapsedTimer clock{};
    std::shared_ptr<std::atomic<bool>> stop = newStopFlag();
};

/// One copy to write: the row, its original and reading, the plan's gain and note, and the row's
/// fix state for the preset before the run, which comes back if the copy is never made.
struct AppModel::FixJob {
    QUuid id;
    std::filesystem::path url;
    LoudnessResult original;
    double gain;
    std::optional<std::string> note;
    std::optional<FileItem::FixState> before;
    bool limited = false; ///< gain and the limiter, not gain alone
};

/// What a copy's worker gives back, unless it was stopped.
struct AppModel::CopyResult {
    Workflow::CopyOutcome outcome;
    bool kept; ///< a copy made earlier, found instead of written
};

/// The running fix run, working from its own copies of the preset, folder and dual-mono flag, so
/// changing them meanwhile affects only later runs. Rows leave `queue` and `awaited` when they
/// are handled, removed or the run is stopped; the run ends when both are empty and no copy is
/// being written.
struct AppModel::FixRun {
    DeliverySpec spec;
    std::optional<std::filesystem::path> outputFolder;
    GainWriter::CopyFormat copyFormat;
    bool dualMono;
    bool fromSelection;
    bool limited;           ///< Fix with Limiter rather than Fix
    bool announced = false; ///< `fixingChanged` said it started
    QSet<QUuid> awaited{};  ///< rows of the run's scope still to be measured at the start
    std::deque<FixJob> queue{};
    std::optional<FixJob> writing{};
    int started = 0; ///< copies started, the one being written included
    int written = 0;
    int kept = 0;
    int failed = 0;
    int refused = 0;
    int notStarted = 0;
    std::shared_ptr<std::atomic<bool>> stop = newStopFlag();
};

AppModel::AppModel(Desktop& desktop, QSettings* settings, unsigned processors, QObject* parent)
    : QObject(parent), m_desktop(desktop), m_settings(settings), m_processors(processors),
      m_specID(DeliverySpec::ebuR128().id) {
    m_measurePool.setMaxThreadCount(Workflow::measuringWidth(processors));
    m_timelinePool.setMaxThreadCount(1);
    m_copyPool.setMaxThreadCount(1);
    m_reportPool.setMaxThreadCount(1); // reports are saved in the order they were asked for
    connect(&m_search, &FileSearch::found, this, &AppModel::listFiles);
    connect(&m_search, &FileSearch::progress, this, &AppModel::showSearchProgress);
    connect(&m_search, &FileSearch::busyChanged, this, &AppModel::addingChanged);
    m_listingTurn.setSingleShot(true);
    connect(&m_listingTurn, &QTimer::timeout, this, &AppModel::listSomeFiles);
    if (m_settings)
        loadSettings();
}

AppModel::~AppModel() {
    m_timelineStop->store(true);
    if (m_loop)
        m_loop->stop->store(true);
    if (m_fixRun)
        m_fixRun->stop->store(true);
    // Progress reports are posted to this object from the workers, so they must end first.
    m_measurePool.waitForDone();
    m_timelinePool.waitForDone();
    m_copyPool.waitForDone();
    m_reportPool.waitForDone(); // a report being saved is finished, not left half-way
}

// MARK: settings

void AppModel::loadSettings() {
    // Stored ids are checked like any text from a file: unknown ones and repeats are dropped.
    for (const QString& id : m_settings->value(customTargetsKey).toStringList()) {
        if (m_customSpecs.size() == customSpecLimit)
            break;
        if (const auto spec = Workflow::customSpecForId(id.toStdString());
            spec &&
            std::ranges::find(m_customSpecs, spec->id, &DeliverySpec::id) == m_customSpecs.end())
            m_customSpecs.push_back(*spec);
    }
    if (const QVariant stored = m_settings->value(presetKey); stored.canConvert<QString>())
        if (const auto spec = Workflow::specForId(stored.toString().toStdString())) {
            m_specID = spec->id;
            m_spec = *spec;
            if (!DeliverySpec::preset(m_specID))
                rememberCustomSpec(m_spec);
        }
    m_dualMono = m_settings->value(dualMonoKey, false).toBool();
    m_a4Paper = m_settings->value(paperKey).toString() == QStringLiteral("a4");
    if (m_settings->value(copyFormatKey).toString() == QStringLiteral("original"))
        m_copyFormat = GainWriter::CopyFormat::original;
    const QVariant folder = m_settings->value(outputFolderKey);
    setOutputFolder(folder.isValid() ? std::optional(toPath(folder.toString())) : std::nullopt);
}

void AppModel::writeSetting(const char* key, const std::optional<QVariant>& value) {
    if (!m_settings)
        return;
    if (value)
        m_settings->setValue(key, *value);
    else
        m_settings->remove(key);
}

void AppModel::setSpecID(const std::string& id) {
    writeSetting(presetKey, qs(id));
    const auto spec = Workflow::specForId(id);
    if (spec && !DeliverySpec::preset(id))
        rememberCustomSpec(*spec);
    if (id == m_specID)
        return;
    m_specID = id;
    m_spec = spec.value_or(DeliverySpec::ebuR128());
    emit specIDChanged();
}

void AppModel::rememberCustomSpec(const DeliverySpec& spec) {
    if (!m_customSpecs.empty() && m_customSpecs.front().id == spec.id)
        return;
    std::erase_if(m_customSpecs, [&](const DeliverySpec& other) { return other.id == spec.id; });
    m_customSpecs.insert(m_customSpecs.begin(), spec);
    if (m_customSpecs.size() > customSpecLimit)
        m_customSpecs.pop_back();
    QStringList ids;
    for (const DeliverySpec& remembered : m_customSpecs)
        ids << qs(remembered.id);
    writeSetting(customTargetsKey, ids);
    emit customSpecsChanged();
}

void AppModel::setDualMono(bool dualMono) {
    if (dualMono == m_dualMono || fixing())
        return;
    writeSetting(dualMonoKey, dualMono);
    m_dualMono = dualMono;
    emit dualMonoChanged();
    measureAgain();
}

void AppModel::setA4Paper(bool a4) {
    writeSetting(paperKey, a4 ? QStringLiteral("a4") : QStringLiteral("letter"));
    if (a4 == m_a4Paper)
        return;
    m_a4Paper = a4;
    emit paperChanged();
}

void AppModel::setCopyFormat(GainWriter::CopyFormat format) {
    const bool original = format == GainWriter::CopyFormat::original;
    writeSetting(copyFormatKey, original ? QStringLiteral("original") : QStringLiteral("wav"));
    if (format == m_copyFormat)
        return;
    m_copyFormat = format;
    emit copyFormatChanged();
}

void AppModel::setOutputFolder(const std::optional<std::filesystem::path>& folder) {
    writeSetting(outputFolderKey,
                 folder ? std::optional<QVariant>(toQString(*folder)) : std::nullopt);
    if (folder == m_outputFolder)
        return;
    m_outputFolder = folder;
    emit outputFolderChanged();
}

// MARK: state

int AppModel::indexOf(const QUuid& id) const {
    return m_rows.value(id, -1);
}

void AppModel::setSelection(const QSet<QUuid>& selection) {
    if (selection == m_selection)
        return;
    m_selection = selection;
    emit selectionChanged();
}

void AppModel::setNotice(std::optional<QString> notice) {
    if (notice == m_notice)
        return;
    m_notice = std::move(notice);
    emit noticeChanged();
}

void AppModel::dismissNotice() {
    setNotice(std::nullopt);
}

void AppModel::setAlert(QString title, QString message) {
    m_alert = AlertInfo{QUuid::createUuid(), std::move(title), std::move(message)};
    emit alertChanged();
}

void AppModel::dismissAlert() {
    if (!m_alert)
        return;
    m_alert.reset();
    emit alertChanged();
}

void AppModel::setDropTargeted(bool targeted) {
    if (targeted == m_dropTargeted)
        return;
    m_dropTargeted = targeted;
    emit dropTargetedChanged();
}

void AppModel::setReading(int row, FileItem::Reading reading) {
    FileItem& item = m_items[static_cast<std::size_t>(row)];
    if (reading == item.reading)
        return;
    item.reading = std::move(reading);
    emit itemChanged(row);
}

void AppModel::setFix(int row, const std::string& specID, std::optional<FileItem::FixState> fix) {
    FileItem& item = m_items[static_cast<std::size_t>(row)];
    const FileItem::FixState* now = item.fixFor(specID);
    if (now ? fix == *now : !fix)
        return;
    if (fix)
        item.fixes.insert_or_assign(specID, std::move(*fix));
    else
        item.fixes.erase(specID);
    emit itemChanged(row);
}

bool AppModel::isBusy() const {
    return std::ranges::any_of(m_items, &FileItem::unmeasured);
}

std::optional<AppModel::MeasuringProgress> AppModel::measuringProgress() const {
    const auto unmeasured = static_cast<int>(std::ranges::count_if(m_items, &FileItem::unmeasured));
    if (unmeasured == 0)
        return std::nullopt;
    // Rows removed before they were measured leave the batch; those measured stay counted.
    const int finished = m_loop ? m_loop->finished : 0;
    return MeasuringProgress{finished, finished + unmeasured,
                             m_loop ? static_cast<double>(m_loop->clock.elapsed()) / 1000 : 0};
}

std::optional<Verdict> AppModel::verdict(const FileItem& item) const {
    if (const LoudnessResult* result = item.result())
        return Verdict::make(*result, currentSpec());
    return std::nullopt;
}

// MARK: the list

void AppModel::addFiles(const std::vector<std::filesystem::path>& urls) {
    m_missingNotices.push_back(missingNotice(urls));
    m_search.search(urls);
}

void AppModel::showSearchProgress(std::size_t found) {
    if (m_searchNotice && m_notice != m_searchNotice)
        return;
    m_searchNotice = FileSearch::progressNotice(found);
    setNotice(m_searchNotice);
}

void AppModel::listFiles(const std::vector<std::filesystem::path>& files) {
    m_searchNotice.reset();
    // Searches are answered in the order they were asked for.
    const std::optional<QString> missing =
        m_missingNotices.empty() ? std::nullopt : m_missingNotices.front();
    if (!m_missingNotices.empty())
        m_missingNotices.pop_front();
    if (files.empty()) {
        setNotice(missing.value_or(qs(Workflow::noAudioFilesNotice)));
        return;
    }
    std::unordered_set<std::string> listed;
    for (const FileItem& item : m_items)
        listed.insert(item.url.native());
    for (const auto& file : m_unlisted)
        listed.insert(file.native());
    const std::size_t waitingBefore = m_unlisted.size();
    for (const auto& file : files)
        if (!listed.contains(file.native()))
            m_unlisted.push_back(file);
    if (m_unlisted.size() == waitingBefore) {
        setNotice(missing.value_or(QStringLiteral("Those files are already in the list.")));
        return;
    }
    setNotice(missing);
    if (waitingBefore == 0)
        listSomeFiles(); // the first rows at once; the rest follow turn by turn
}

void AppModel::listSomeFiles() {
    constexpr std::size_t rowsPerTurn = 1000;
    const std::size_t count = std::min(m_unlisted.size(), rowsPerTurn);
    if (count == 0)
        return;
    const int first = static_cast<int>(m_items.size());
    emit itemsAboutToBeInserted(first, first + static_cast<int>(count) - 1);
    for (std::size_t taken = 0; taken < count; ++taken) {
        const QUuid id = QUuid::createUuid();
        m_rows.insert(id, static_cast<int>(m_items.size()));
        m_items.push_back({id, std::move(m_unlisted.front()), {}, {}});
        m_unlisted.pop_front();
    }
    emit itemsInserted();
    startMeasuring();
    if (!m_unlisted.empty())
        m_listingTurn.start(0);
    else if (!m_search.busy())
        emit addingChanged();
}

void AppModel::chooseFiles() {
    m_desktop.chooseFiles(
        "Choose audio files or folders to check against " + qs(currentSpec().name) + ".",
        QStringLiteral("Check"), storedFolder(m_settings, addFilesFolderKey),
        [this](std::vector<std::filesystem::path> urls) {
            if (!urls.empty())
                writeSetting(addFilesFolderKey, toQString(urls.front().parent_path()));
            addFiles(urls);
        });
}

void AppModel::removeItems(const QSet<QUuid>& ids) {
    if (m_fixRun)
        dropUnstartedCopies(ids);
    // Contiguous runs, from the end, so the indices of the runs still to go stay valid.
    bool removed = false;
    for (int last = static_cast<int>(m_items.size()) - 1; last >= 0;) {
        if (!ids.contains(m_items[static_cast<std::size_t>(last)].id)) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && ids.contains(m_items[static_cast<std::size_t>(first - 1)].id))
            --first;
        emit itemsAboutToBeRemoved(first, last);
        for (int row = first; row <= last; ++row)
            m_rows.remove(m_items[static_cast<std::size_t>(row)].id);
        m_items.erase(m_items.begin() + first, m_items.begin() + last + 1);
        // Whoever hears of the removal looks rows up by id: they must be right already.
        for (int row = first; row < static_cast<int>(m_items.size()); ++row)
            m_rows.insert(m_items[static_cast<std::size_t>(row)].id, row);
        emit itemsRemoved();
        removed = true;
        last = first - 1;
    }
    if (!removed)
        return;
    m_firstMaybeWaiting = 0;
    setSelection(m_selection - ids);
    if (m_fixRun)
        finishFixRunWhenDone();
}

void AppModel::clearList() {
    const bool listing = !m_unlisted.empty();
    m_unlisted.clear();
    m_listingTurn.stop();
    m_missingNotices.clear();
    if (m_search.busy())
        m_search.cancel(); // says that adding is over
    else if (listing)
        emit addingChanged();
    m_searchNotice.reset();
    stopFixing();
    stopMeasuring();
    if (!m_items.empty()) {
        emit itemsAboutToBeRemoved(0, static_cast<int>(m_items.size()) - 1);
        m_items.clear();
        m_rows.clear();
        emit itemsRemoved();
    }
    m_firstMaybeWaiting = 0;
    setSelection({});
    setNotice(std::nullopt);
}

void AppModel::measureAgain() {
    if (m_items.empty() || fixing())
        return;
    stopMeasuring();
    for (int row = 0; row < static_cast<int>(m_items.size()); ++row) {
        FileItem& item = m_items[static_cast<std::size_t>(row)];
        const FileItem::Reading waiting{FileItem::Reading::Waiting{}};
        if (item.reading == waiting && item.fixes.empty())
            continue;
        item.reading = waiting;
        item.fixes.clear();
        emit itemChanged(row);
    }
    m_firstMaybeWaiting = 0;
    startMeasuring();
}

// MARK: measuring

void AppModel::startMeasuring() {
    // A running loop takes new rows into its free slots at once, and the rest as slots free.
    if (!m_loop) {
        m_loop.reset(
            new MeasuringLoop{m_generation, m_dualMono, Workflow::measuringWidth(m_processors)});
        m_loop->clock.start();
    }
    fillMeasuringSlots();
}

void AppModel::stopMeasuring() {
    if (m_loop) {
        m_loop->stop->store(true);
        m_loop.reset();
    }
    ++m_generation;
}

void AppModel::fillMeasuringSlots() {
    while (m_loop->running < m_loop->width) {
        while (m_firstMaybeWaiting < m_items.size() &&
               !std::holds_alternative<FileItem::Reading::Waiting>(
                   m_items[m_firstMaybeWaiting].reading.value))
            ++m_firstMaybeWaiting;
        if (m_firstMaybeWaiting == m_items.size())
            break;
        const int row = static_cast<int>(m_firstMaybeWaiting);
        setReading(row, {FileItem::Reading::Measuring{0}});
        ++m_loop->running;
        startMeasurement(m_items[m_firstMaybeWaiting]);
    }
    if (m_loop->running == 0)
        m_loop.reset();
}

void AppModel::startMeasurement(const FileItem& item) {
    const QUuid id = item.id;
    const int generation = m_loop->generation;
    const bool dualMono = m_loop->dualMono;
    const auto stop = m_loop->stop;
    // Runs on the worker; the report hops to this object's thread. The destructor waits for the
    // workers, so `this` outlives every call.
    ProgressFn progress = [this, id, generation](double fraction) {
        QMetaObject::invokeMethod(
            this,
            [this, id, generation, fraction] {
                applyReading(id, generation, {FileItem::Reading::Measuring{fraction}},
                             std::nullopt);
            },
            Qt::QueuedConnection);
    };
    runThen(
        m_measurePool, this,
        [url = item.url, dualMono, stop,
         progress = std::move(progress)]() -> std::optional<Workflow::Reading> {
            try {
                // The timeline still costs nearly half as much again as the reading; until it
                // doesn't, it is gathered for the rows the graph shows, when they are selected.
                return Workflow::measure(
                    url, dualMono, progress, [&stop] { return stop->load(); }, gatherTimelines);
            } catch (const Cancelled&) {
                return std::nullopt;
            }
        },
        [this, id, generation](std::optional<Workflow::Reading> reading) {
            if (reading)
                applyReading(id, generation, readingOf(*reading),
                             reading->result ? std::optional(reading->format) : std::nullopt);
            if (m_loop && m_loop->generation == generation) {
                --m_loop->running;
                fillMeasuringSlots();
            }
        });
}

void AppModel::applyReading(const QUuid& id, int generation, FileItem::Reading reading,
                            std::optional<std::string> format) {
    const int row = indexOf(id);
    if (generation != m_generation || row < 0)
        return;
    FileItem& item = m_items[static_cast<std::size_t>(row)];
    const auto measuring = [](const FileItem::Reading& r) {
        return std::holds_alternative<FileItem::Reading::Measuring>(r.value);
    };
    if (measuring(reading) && !measuring(item.reading))
        return;
    // A file that can no longer be read has no format to show either.
    if (std::holds_alternative<FileItem::Reading::Failed>(reading.value))
        format = std::string();
    if ((!format || *format == item.format) && reading == item.reading) {
        adoptTimeline(id, item.reading, reading);
        return;
    }
    if (format)
        item.format = std::move(*format);
    const bool finishes = item.unmeasured() && !measuring(reading);
    item.reading = std::move(reading);
    m_timelinesMissing.remove(id);
    if (const auto* measured = std::get_if<FileItem::Reading::Measured>(&item.reading.value);
        measured && measured->timeline)
        keepTimeline(id);
    if (finishes && m_loop)
        ++m_loop->finished;
    emit itemChanged(row);
    if (m_fixRun && !measuring(item.reading) && m_fixRun->awaited.remove(id)) {
        enlistInFixRun(row);
        startNextCopy();
    }
}

// MARK: timelines

void AppModel::adoptTimeline(const QUuid& id, FileItem::Reading& kept,
                             const FileItem::Reading& fresh) {
    auto* measured = std::get_if<FileItem::Reading::Measured>(&kept.value);
    const auto* incoming = std::get_if<FileItem::Reading::Measured>(&fresh.value);
    if (!measured || !incoming || !incoming->timeline || measured->timeline)
        return;
    measured->timeline = incoming->timeline;
    m_timelinesMissing.remove(id);
    keepTimeline(id);
}

void AppModel::keepTimeline(const QUuid& id) {
    const int row = indexOf(id);
    const auto* measured =
        row < 0
            ? nullptr
            : std::get_if<FileItem::Reading::Measured>(&m_items[std::size_t(row)].reading.value);
    if (!measured || !measured->timeline)
        return;
    KeptTimeline& kept = m_keptTimelines[id];
    m_keptTimelineBytes += measured->timeline->memoryBytes() - kept.bytes;
    kept = {++m_timelineUses, measured->timeline->memoryBytes()};
    // The newest is kept even alone over budget: it is the one on screen. Entries of rows removed
    // or measured since count until they are the oldest, and go first.
    while (m_keptTimelineBytes > timelineBudget && m_keptTimelines.size() > 1)
        dropOldestTimeline();
}

void AppModel::dropOldestTimeline() {
    const auto oldest = std::min_element(
        m_keptTimelines.begin(), m_keptTimelines.end(),
        [](const KeptTimeline& a, const KeptTimeline& b) { return a.lastUse < b.lastUse; });
    if (const int row = indexOf(oldest.key()); row >= 0)
        if (auto* measured =
                std::get_if<FileItem::Reading::Measured>(&m_items[std::size_t(row)].reading.value))
            measured->timeline.reset();
    m_keptTimelineBytes -= oldest->bytes;
    m_keptTimelines.erase(oldest);
}

std::shared_ptr<const Timeline> AppModel::timeline(const QUuid& id) {
    const int row = indexOf(id);
    if (row < 0)
        return nullptr;
    const FileItem& item = m_items[std::size_t(row)];
    const auto* measured = std::get_if<FileItem::Reading::Measured>(&item.reading.value);
    if (!measured)
        return nullptr;
    if (measured->timeline) {
        keepTimeline(id);
        return measured->timeline;
    }
    if (!m_timelinesMissing.contains(id))
        measureTimeline(item);
    return nullptr;
}

void AppModel::measureTimeline(const FileItem& item) {
    if (m_timelinesMeasuring.contains(item.id))
        return;
    m_timelinesMeasuring.insert(item.id);
    runThen(
        m_timelinePool, this,
        [url = item.url, dualMono = m_dualMono, stop = m_timelineStop]() {
            try {
                return std::optional(Workflow::measure(
                    url, dualMono, {}, [&stop] { return stop->load(); }, true));
            } catch (const Cancelled&) {
                return std::optional<Workflow::Reading>();
            }
        },
        [this, id = item.id](std::optional<Workflow::Reading> reading) {
            m_timelinesMeasuring.remove(id);
            const int row = indexOf(id);
            if (!reading || row < 0)
                return;
            // Kept only when the file still measures as the row says.
            FileItem::Reading& kept = m_items[std::size_t(row)].reading;
            const FileItem::Reading fresh = readingOf(*reading);
            if (fresh == kept && reading->timeline)
                adoptTimeline(id, kept, fresh);
            else
                m_timelinesMissing.insert(id);
            emit timelineReady(id);
        });
}

// MARK: fixing

bool AppModel::inFixScope(const FileItem& item) const {
    return m_selection.empty() || m_selection.contains(item.id);
}

std::vector<QUuid> AppModel::candidates(bool limited) const {
    const DeliverySpec& spec = currentSpec();
    std::vector<QUuid> candidates;
    for (const FileItem& item : m_items) {
        if (!inFixScope(item))
            continue;
        const auto verdict = this->verdict(item);
        if (verdict && verdict->status == Verdict::Status::fail &&
            (!limited || Workflow::limiterTakes(*item.result(), spec)))
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

void AppModel::fixFiles() {
    startFixRun(false);
}

void AppModel::fixWithLimiter() {
    startFixRun(true);
}

void AppModel::startFixRun(bool limited) {
    if (fixing())
        return;
    m_fixRun.reset(new FixRun{currentSpec(), m_outputFolder, m_copyFormat, m_dualMono,
                              !m_selection.empty(), limited});
    for (const FileItem& item : m_items)
        if (item.unmeasured() && inFixScope(item))
            m_fixRun->awaited.insert(item.id);
    for (const QUuid& id : candidates(limited))
        enlistInFixRun(indexOf(id));
    if (m_fixRun->queue.empty() && m_fixRun->awaited.empty()) {
        finishFixRunWhenDone(); // nothing to write: says why at once
        return;
    }
    startNextCopy();
    m_fixRun->announced = true;
    emit fixingChanged();
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
    if (!plan)
        return;
    using State = FileItem::FixState;
    if (const auto* gain = std::get_if<FixPlan::Gain>(&plan->value)) {
        queueCopy(row, gain->gain, gain->note, false);
    } else if (const auto* refused = std::get_if<FixPlan::Refused>(&plan->value)) {
        ++run.refused;
        setFix(row, run.spec.id, State{State::Refused{refused->message}});
    } else {
        setFix(row, run.spec.id, State{State::AlreadyPasses{}});
    }
}

void AppModel::enlistForLimiter(int row) {
    FixRun& run = *m_fixRun;
    const FileItem& item = m_items[static_cast<std::size_t>(row)];
    const LoudnessResult* result = item.result();
    // Files gain alone fixes fully, and those that pass, are not the limiter's.
    if (!result || !Workflow::limiterTakes(*result, run.spec))
        return;
    using State = FileItem::FixState;
    if (auto refusal = Workflow::limiterRefusal(*result, run.spec)) {
        ++run.refused;
        setFix(row, run.spec.id, State{State::Refused{std::move(*refusal), true}});
        return;
    }
    queueCopy(row, 0, std::nullopt, true);
}

void AppModel::queueCopy(int row, double gain, std::optional<std::string> note, bool limited) {
    FixRun& run = *m_fixRun;
    const FileItem& item = m_items[static_cast<std::size_t>(row)];
    const FileItem::FixState* before = item.fixFor(run.spec.id);
    run.queue.push_back({item.id, item.url, *item.result(), gain, std::move(note),
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
                                                                 folder, dualMono, stopped, format),
                                      false};
                if (auto earlier =
                        Workflow::earlierCopy(job.url, spec, folder, dualMono, stopped, format))
                    return CopyResult{{std::move(*earlier)}, true};
                return CopyResult{Workflow::writeFixedCopy(job.url, job.gain, spec, folder,
                                                           dualMono, stopped, format),
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
        state =
            State{State::Done{copy->copy, copy->result, job.note, copy->limiting, copy->encoding}};
    } else if (const auto* refused =
                   std::get_if<Workflow::CopyOutcome::Refused>(&result->outcome.value)) {
        ++run.refused;
        state = State{State::Refused{refused->message, true}};
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
    for (const QUuid& id : ids)
        run.notStarted += run.awaited.remove(id) ? 1 : 0;
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
    const int attempted = run->written + run->failed;
    if (attempted + run->kept + run->notStarted > 0)
        setAlert(qs(Workflow::fixedCopiesTitle),
                 qs(Workflow::fixedCopiesMessage(run->written, attempted, run->refused,
                                                 run->outputFolder, run->kept, run->notStarted)));
    else if (run->refused > 0)
        setAlert(qs(Workflow::cantFixTitle), qs(Workflow::cantFixMessage(run->spec)));
    else
        setAlert(qs(Workflow::nothingToFixTitle), nothingToFixMessage(*run));
}

QString AppModel::nothingToFixMessage(const FixRun& run) const {
    int passing = 0, withoutReading = 0;
    for (const FileItem& item : m_items) {
        if (!inFixScope(item))
            continue;
        const LoudnessResult* result = item.result();
        const auto status =
            result ? Verdict::make(*result, run.spec).status : Verdict::Status::unmeasurable;
        passing += status == Verdict::Status::pass;
        withoutReading += status == Verdict::Status::unmeasurable;
    }
    return qs(Workflow::nothingToFixMessage(run.spec, run.fromSelection, passing, withoutReading));
}

void AppModel::summariseLimiterRun(const FixRun& run) {
    const int attempted = run.written + run.failed;
    if (attempted + run.notStarted > 0) {
        QString message = qs(Workflow::fixedCopiesMessage(run.written, attempted, 0,
                                                          run.outputFolder, 0, run.notStarted));
        if (run.refused > 0)
            message += " " + qs(Workflow::limiterRefusedMessage(run.refused));
        setAlert(LimiterTexts::limitedCopiesTitle(), message);
    } else if (run.refused > 0) {
        setAlert(qs(Workflow::cantLimitTitle), qs(Workflow::limiterRefusedMessage(run.refused)));
    } else {
        setAlert(LimiterTexts::nothingToLimitTitle(),
                 LimiterTexts::nothingToLimit(run.spec, run.fromSelection));
    }
}

void AppModel::chooseOutputFolder() {
    m_desktop.chooseFolder(QStringLiteral("Fixed copies will be saved in this folder."),
                           QStringLiteral("Use Folder"), m_outputFolder.value_or(""),
                           [this](std::filesystem::path folder) { setOutputFolder(folder); });
}

void AppModel::revealInFinder(const QSet<QUuid>& ids) {
    std::vector<std::filesystem::path> files;
    for (const FileItem& item : m_items) {
        if (!ids.contains(item.id))
            continue;
        const auto* fix = item.fixFor(m_specID);
        const auto* done = fix ? std::get_if<FileItem::FixState::Done>(&fix->value) : nullptr;
        files.push_back(done ? done->copy : item.url);
    }
    if (files.empty())
        return;
    const QString folder = toQString(files.front().parent_path());
    m_desktop.reveal(files, [model = QPointer<AppModel>(this), folder] {
        if (model)
            model->setNotice(AppTexts::nothingCanOpen(folder));
    });
}

void AppModel::openLink(const QUrl& url) {
    if (!m_desktop.openUrl(url))
        setNotice(AppTexts::nothingCanOpen(url.toDisplayString()));
}

// MARK: reports

std::vector<ReportRow> AppModel::reportRows() const {
    std::vector<ReportRow> rows;
    rows.reserve(m_items.size());
    for (const FileItem& item : m_items) {
        std::optional<std::string> error;
        if (const auto* failed = std::get_if<FileItem::Reading::Failed>(&item.reading.value))
            error = failed->message;
        std::optional<std::string> fixText;
        if (const auto* fix = item.fixFor(m_specID)) {
            using State = FileItem::FixState;
            if (const auto* done = std::get_if<State::Done>(&fix->value))
                fixText = Workflow::fixTextWritten(
                    {done->copy, done->result, done->limiting, done->encoding});
            else if (const auto* failed = std::get_if<State::Failed>(&fix->value))
                fixText = Workflow::fixTextFailed(failed->message);
            else if (const auto* refused = std::get_if<State::Refused>(&fix->value))
                fixText = refused->byLimiter ? Workflow::fixTextNotLimited(refused->message)
                                             : std::string(Workflow::fixTextRefused);
        }
        const LoudnessResult* result = item.result();
        rows.push_back(Workflow::reportRow(item.url, item.format,
                                           result ? std::optional(*result) : std::nullopt,
                                           std::move(error), std::move(fixText), item.warnings()));
    }
    return rows;
}

QString AppModel::reportBaseName() const {
    return "Loudness report – " + qs(currentSpec().shortName());
}

void AppModel::exportCSV() {
    saveReport([rows = reportRows(), spec = currentSpec()] { return Report::csv(rows, spec); },
               {QStringLiteral("CSV"), "csv"}, reportBaseName() + ".csv");
}

void AppModel::exportPDF() {
    const Report::PdfOptions options{m_a4Paper ? Report::Paper::a4 : Report::Paper::letter,
                                     m_dualMono};
    saveReport(
        [rows = reportRows(), spec = currentSpec(), date = std::chrono::system_clock::now(),
         options] {
            const auto pdf =
                Report::pdf(rows, spec, "Loudness report: " + spec.name, "Tavrin", date, options);
            return std::string(pdf.begin(), pdf.end());
        },
        {QStringLiteral("PDF"), "pdf"}, reportBaseName() + ".pdf");
}

void AppModel::saveReport(std::function<std::string()> render, const FileType& type,
                          const QString& suggestedName) {
    // Where the last report went; the first time, beside the files it is about.
    auto folder = storedFolder(m_settings, exportFolderKey);
    if (folder.empty() && !m_items.empty())
        folder = m_items.front().url.parent_path();
    m_desktop.chooseSaveFile(folder, suggestedName, type,
                             [this, render = std::move(render)](std::filesystem::path path) {
                                 writeSetting(exportFolderKey, toQString(path.parent_path()));
                                 saveReportOffThread(render, path);
                             });
}

void AppModel::saveReportOffThread(const std::function<std::string()>& render,
                                   const std::filesystem::path& path) {
    std::vector<std::filesystem::path> listed;
    listed.reserve(m_items.size());
    for (const FileItem& item : m_items)
        listed.push_back(item.url);
    runThen(
        m_reportPool, this,
        [render, path, listed = std::move(listed)]() -> std::optional<std::string> {
            try {
                // The save panel lets a name be typed over any file, a listed one included.
                if (AudioTypes::isExistingAudio(path) || AudioTypes::isAmong(path, listed))
                    return Workflow::reportReplacesAudioMessage(path.filename().string());
                const std::string bytes = render();
                if (bytes.empty())
                    return std::string(Workflow::reportNotDrawn);
                Report::save(path, bytes);
            } catch (const std::system_error& error) {
                return Workflow::cantSaveReportMessage(path, error.code());
            } catch (...) {
                return std::string(Workflow::internalReportError);
            }
            return std::nullopt;
        },
        [this](std::optional<std::string> problem) {
            if (problem)
                setAlert(qs(Workflow::cantSaveReportTitle), qs(*problem));
        });
}

} // namespace tavrin::app
