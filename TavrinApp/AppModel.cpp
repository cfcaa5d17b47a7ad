#include "AppModel.h"

#include "AppTexts.h"
#include "Background.h"
#include "MeasuredReading.h"
#include "Paths.h"

#include <QElapsedTimer>
#include <QPointer>
#include <algorithm>
#include <unordered_set>

namespace tavrin::app {

namespace {

/// Whether measuring the list also gathers each row's timeline.
constexpr bool gatherTimelines = false;

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

} // namespace

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

AppModel::AppModel(Desktop& desktop, QSettings* settings, unsigned processors, QObject* parent)
    : QObject(parent), m_desktop(desktop), m_settings(settings), m_processors(processors) {
    m_measurePool.setMaxThreadCount(Workflow::measuringWidth(processors));
    connect(&m_timelines, &TimelineStore::ready, this, &AppModel::timelineReady);
    connect(&m_fixes, &FixRunner::fixingChanged, this, &AppModel::fixingChanged);
    connect(&m_fixes, &FixRunner::fixProgressChanged, this, &AppModel::fixProgressChanged);
    connect(&m_search, &FileSearch::found, this, &AppModel::listFiles);
    connect(&m_search, &FileSearch::progress, this, &AppModel::showSearchProgress);
    connect(&m_search, &FileSearch::busyChanged, this, &AppModel::addingChanged);
    m_listingTurn.setSingleShot(true);
    connect(&m_listingTurn, &QTimer::timeout, this, &AppModel::listSomeFiles);
}

AppModel::~AppModel() {
    if (m_loop)
        m_loop->stop->store(true);
    // Progress reports are posted to this object from the workers, so they must end first.
    m_measurePool.waitForDone();
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
        return Verdict::make(*result, currentSpec(), item.findings(), damagePolicy());
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
    m_desktop.chooseFiles("Choose audio files or folders to check against " +
                              qs(currentSpec().name) + ".",
                          QStringLiteral("Check"), m_settings.addFilesFolder(),
                          [this](std::vector<std::filesystem::path> urls) {
                              if (!urls.empty())
                                  m_settings.setAddFilesFolder(urls.front().parent_path());
                              addFiles(urls);
                          });
}

void AppModel::removeItems(const QSet<QUuid>& ids) {
    m_fixes.rowsLeaving(ids);
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
    m_timelines.forget(ids);
    m_firstMaybeWaiting = 0;
    setSelection(m_selection - ids);
    m_fixes.rowsLeft();
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
    m_timelines.forget({});
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
            new MeasuringLoop{m_generation, dualMono(), Workflow::measuringWidth(m_processors)});
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
        m_timelines.adopt(id, item.reading, reading);
        return;
    }
    if (format)
        item.format = std::move(*format);
    const bool finishes = item.unmeasured() && !measuring(reading);
    item.reading = std::move(reading);
    m_timelines.readingChanged(id);
    if (finishes && m_loop)
        ++m_loop->finished;
    emit itemChanged(row);
    if (!measuring(item.reading))
        m_fixes.rowMeasured(id, row);
}

void AppModel::chooseOutputFolder() {
    m_desktop.chooseFolder(QStringLiteral("Fixed copies will be saved in this folder."),
                           QStringLiteral("Use Folder"), outputFolder().value_or(""),
                           [this](std::filesystem::path folder) { setOutputFolder(folder); });
}

void AppModel::revealInFinder(const QSet<QUuid>& ids) {
    std::vector<std::filesystem::path> files;
    for (const FileItem& item : m_items) {
        if (!ids.contains(item.id))
            continue;
        const auto* fix = item.fixFor(specID());
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

} // namespace tavrin::app
