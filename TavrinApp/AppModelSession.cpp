// The model's sessions: the list saved as a file, opened again and checked against the disk.

#include "AppModel.h"
#include "AppTexts.h"
#include "Background.h"
#include "Paths.h"
#include "SessionRows.h"
#include "tavrin/workflow/Workflow.h"

#include <system_error>
#include <utility>

namespace tavrin::app {

namespace {

const FileType sessionType{QStringLiteral("Tavrin session"), QStringLiteral("tavrin")};

} // namespace

void AppModel::markSessionModified() {
    ++m_listChanges;
    if (m_sessionPath && !m_sessionModified) {
        m_sessionModified = true;
        emit sessionChanged();
    }
}

void AppModel::saveSession(std::function<void()> saved) {
    if (m_sessionPath)
        saveSessionTo(*m_sessionPath, std::move(saved));
    else
        saveSessionAs(std::move(saved));
}

void AppModel::saveSessionAs(std::function<void()> saved) {
    const auto folder = m_sessionPath ? m_sessionPath->parent_path() : m_settings.exportFolder();
    const QString name = m_sessionPath ? toQString(m_sessionPath->filename())
                                       : AppTexts::untitledSession() + "." + sessionType.suffix;
    m_desktop.chooseSaveFile(AppTexts::saveSessionTitle(), folder, name, sessionType,
                             [this, saved = std::move(saved)](std::filesystem::path path) {
                                 saveSessionTo(path, saved);
                             });
}

void AppModel::saveSessionTo(const std::filesystem::path& path, std::function<void()> saved) {
    Session::Record record{specID(), dualMono(), damagePolicy(), m_settings.sessionVerify()};
    if (Workflow::isNamedTargetId(specID()))
        record.target = currentSpec();
    std::vector<QUuid> ids;
    for (const FileItem& item : m_items) {
        record.rows.push_back(sessionRow(item));
        ids.push_back(item.id);
    }
    struct Written {
        Session::Record record;
        std::optional<std::string> problem;
    };
    runThen(
        m_sessionPool, this,
        [record = std::move(record), path]() mutable -> Written {
            try {
                // A file's digest is taken once, the first time a session holds it.
                completeDigests(record, {});
                Session::save(path, record);
                return {std::move(record), std::nullopt};
            } catch (const std::system_error& error) {
                return {{}, Workflow::sessionCantSaveMessage(path, error.code())};
            } catch (...) {
                return {{},
                        Workflow::sessionCantSaveMessage(
                            path, std::make_error_code(std::errc::io_error))};
            }
        },
        [this, path, ids = std::move(ids), changes = m_listChanges,
         saved = std::move(saved)](Written written) {
            if (written.problem) {
                setAlert(qs(Workflow::cantSaveSessionTitle), qs(*written.problem));
                return;
            }
            // The digests stay with the rows still measured as they were, for the next save.
            for (std::size_t i = 0; i < ids.size(); ++i) {
                const int row = indexOf(ids[i]);
                auto* measured = row < 0
                                     ? nullptr
                                     : std::get_if<FileItem::Reading::Measured>(
                                           &m_items[static_cast<std::size_t>(row)].reading.value);
                const auto& stamp = written.record.rows[i].stamp;
                if (measured && measured->stamp && stamp && measured->stamp->size == stamp->size &&
                    measured->stamp->modified == stamp->modified)
                    measured->stamp = stamp;
            }
            const bool changedMeanwhile = changes != m_listChanges;
            for (int row = 0; row < static_cast<int>(m_items.size()); ++row)
                if (std::exchange(m_items[static_cast<std::size_t>(row)].sinceSaved,
                                  Session::State::unchanged) != Session::State::unchanged)
                    emit itemChanged(row);
            m_settings.addRecentSession(path);
            m_sessionPath = path;
            m_sessionModified = changedMeanwhile;
            emit sessionChanged();
            if (saved)
                saved();
        });
}

void AppModel::chooseSession() {
    const auto recent = m_settings.recentSessions();
    m_desktop.chooseOpenFile(
        AppTexts::openSessionTitle(),
        recent.empty() ? m_settings.exportFolder() : recent.front().parent_path(), sessionType,
        [this](std::filesystem::path path) { openSession(path); });
}

void AppModel::openSession(const std::filesystem::path& path) {
    Session::Record record;
    try {
        record = Session::load(path);
    } catch (const Session::Unreadable& error) {
        setAlert(qs(Workflow::cantOpenSessionTitle), qs(error.what()));
        return;
    }
    clearList();
    if (record.target)
        setSpecID(keepTarget(*record.target).id);
    else if (m_settings.specFor(record.preset))
        setSpecID(record.preset);
    setDamagePolicy(record.damage);
    setDualMono(record.dualMono);
    std::vector<FileItem> items;
    items.reserve(record.rows.size());
    for (const Session::Row& row : record.rows)
        items.push_back(itemOf(row));
    replaceItems(std::move(items));
    m_settings.addRecentSession(path);
    m_sessionPath = path;
    m_sessionModified = false;
    emit sessionChanged();
    std::vector<SessionVerifier::Row> rows;
    rows.reserve(m_items.size());
    for (std::size_t i = 0; i < m_items.size(); ++i)
        rows.push_back({m_items[i].id, std::move(record.rows[i])});
    m_verifier.start(std::move(rows), record.verify);
}

void AppModel::replaceItems(std::vector<FileItem> items) {
    if (items.empty())
        return;
    emit itemsAboutToBeInserted(0, static_cast<int>(items.size()) - 1);
    m_items = std::move(items);
    for (int row = 0; row < static_cast<int>(m_items.size()); ++row)
        m_rows.insert(m_items[static_cast<std::size_t>(row)].id, row);
    emit itemsInserted();
    m_measurer.rowsChanged();
    m_measurer.start(dualMono());
}

void AppModel::applyVerification(std::vector<SessionVerifier::Found> found) {
    bool remeasure = false;
    for (const SessionVerifier::Found& differs : found) {
        const int row = indexOf(differs.id);
        if (row < 0)
            continue;
        FileItem& item = m_items[static_cast<std::size_t>(row)];
        for (const auto& [specID, state] : differs.check.copies)
            if (const auto* fix = item.fixFor(specID))
                if (const auto* done = std::get_if<FileItem::FixState::Done>(&fix->value)) {
                    auto gone = *done;
                    gone.onDisk = state;
                    setFix(row, specID, FileItem::FixState{std::move(gone)});
                }
        item.sinceSaved = differs.check.original;
        if (item.sinceSaved == Session::State::missing) {
            setReading(row, {FileItem::Reading::Failed{Workflow::missingMessage(item.url)}});
        } else if (item.sinceSaved == Session::State::changed) {
            setReading(row, {FileItem::Reading::Waiting{}});
            remeasure = true;
        }
    }
    if (remeasure) {
        m_measurer.rowsChanged();
        m_measurer.start(dualMono());
    }
}

} // namespace tavrin::app
