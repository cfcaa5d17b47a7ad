#include "AppModel.h"

#include "AppTexts.h"
#include "Paths.h"
#include "tavrin/workflow/Workflow.h"

#include <QPointer>
#include <algorithm>
#include <unordered_set>

namespace tavrin::app {

namespace {

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

AppModel::AppModel(Desktop& desktop, QSettings* settings, unsigned processors, QObject* parent)
    : QObject(parent), m_desktop(desktop), m_settings(settings), m_processors(processors) {
    connect(&m_timelines, &TimelineStore::ready, this, &AppModel::timelineReady);
    connect(&m_fixes, &FixRunner::fixingChanged, this, &AppModel::fixingChanged);
    connect(&m_fixes, &FixRunner::fixProgressChanged, this, &AppModel::fixProgressChanged);
    connect(&m_search, &FileSearch::found, this, &AppModel::listFiles);
    connect(&m_search, &FileSearch::progress, this, &AppModel::showSearchProgress);
    connect(&m_search, &FileSearch::busyChanged, this, &AppModel::addingChanged);
    m_listingTurn.setSingleShot(true);
    connect(&m_listingTurn, &QTimer::timeout, this, &AppModel::listSomeFiles);
    // What a saved session would no longer match.
    for (const auto changed :
         {&AppModel::itemsInserted, &AppModel::itemsRemoved, &AppModel::specIDChanged,
          &AppModel::dualMonoChanged, &AppModel::damagePolicyChanged})
        connect(this, changed, this, &AppModel::markSessionModified);
    connect(this, &AppModel::itemChanged, this, &AppModel::markSessionModified);
    connect(&m_verifier, &SessionVerifier::busyChanged, this, &AppModel::sessionChanged);
}

AppModel::~AppModel() = default;

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
    const int finished = m_measurer.finished();
    return MeasuringProgress{finished, finished + unmeasured, m_measurer.seconds()};
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
        setNotice(missing.value_or(AppTexts::alreadyListed()));
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
    m_measurer.start(dualMono());
    if (!m_unlisted.empty())
        m_listingTurn.start(0);
    else if (!m_search.busy())
        emit addingChanged();
}

void AppModel::chooseFiles() {
    m_desktop.chooseFiles(AppTexts::chooseFilesPrompt(currentSpec()), QStringLiteral("Check"),
                          m_settings.addFilesFolder(),
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
    m_measurer.rowsChanged();
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
    m_verifier.stop();
    m_measurer.stop();
    m_timelines.forget({});
    if (!m_items.empty()) {
        emit itemsAboutToBeRemoved(0, static_cast<int>(m_items.size()) - 1);
        m_items.clear();
        m_rows.clear();
        emit itemsRemoved();
    }
    m_measurer.rowsChanged();
    setSelection({});
    setNotice(std::nullopt);
}

void AppModel::measureAgain() {
    if (m_items.empty() || fixing())
        return;
    m_measurer.stop();
    for (int row = 0; row < static_cast<int>(m_items.size()); ++row) {
        FileItem& item = m_items[static_cast<std::size_t>(row)];
        const FileItem::Reading waiting{FileItem::Reading::Waiting{}};
        if (item.reading == waiting && item.fixes.empty())
            continue;
        item.reading = waiting;
        item.fixes.clear();
        emit itemChanged(row);
    }
    m_measurer.rowsChanged();
    m_measurer.start(dualMono());
}

// MARK: measuring

bool AppModel::applyReading(const QUuid& id, FileItem::Reading reading,
                            std::optional<std::string> format) {
    const int row = indexOf(id);
    if (row < 0)
        return false;
    FileItem& item = m_items[static_cast<std::size_t>(row)];
    const auto measuring = [](const FileItem::Reading& r) {
        return std::holds_alternative<FileItem::Reading::Measuring>(r.value);
    };
    if (measuring(reading) && !measuring(item.reading))
        return false;
    // A file that can no longer be read has no format to show either.
    if (std::holds_alternative<FileItem::Reading::Failed>(reading.value))
        format = std::string();
    if ((!format || *format == item.format) && reading == item.reading) {
        m_timelines.adopt(id, item.reading, reading);
        return false;
    }
    if (format)
        item.format = std::move(*format);
    const bool finishes = item.unmeasured() && !measuring(reading);
    // A file a reopened session missed that reads again is back, not necessarily as it was.
    if (item.sinceSaved == Session::State::missing &&
        std::holds_alternative<FileItem::Reading::Measured>(reading.value))
        item.sinceSaved = Session::State::changed;
    item.reading = std::move(reading);
    m_timelines.readingChanged(id);
    emit itemChanged(row);
    if (!measuring(item.reading))
        m_fixes.rowMeasured(id, row);
    return finishes;
}

void AppModel::checkCopies() {
    using Done = FileItem::FixState::Done;
    for (int row = 0; row < static_cast<int>(m_items.size()); ++row) {
        std::vector<std::pair<std::string, Done>> changed;
        for (const auto& [specID, fix] : m_items[static_cast<std::size_t>(row)].fixes)
            if (const auto* done = std::get_if<Done>(&fix.value)) {
                Done now = *done;
                now.onDisk = Session::look(done->copy, done->stamp);
                if (now.onDisk != done->onDisk)
                    changed.emplace_back(specID, std::move(now));
            }
        for (auto& [specID, done] : changed)
            setFix(row, specID, FileItem::FixState{std::move(done)});
    }
}

void AppModel::chooseOutputFolder() {
    m_desktop.chooseFolder(AppTexts::outputFolderPrompt(), QStringLiteral("Use Folder"),
                           outputFolder().value_or(""),
                           [this](std::filesystem::path folder) { setOutputFolder(folder); });
}

void AppModel::revealInFinder(const QSet<QUuid>& ids) {
    std::vector<std::filesystem::path> files;
    for (const FileItem& item : m_items) {
        if (!ids.contains(item.id))
            continue;
        const auto* fix = item.fixFor(specID());
        const auto* done = fix ? std::get_if<FileItem::FixState::Done>(&fix->value) : nullptr;
        files.push_back(done && done->onDisk != Session::State::missing ? done->copy : item.url);
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
