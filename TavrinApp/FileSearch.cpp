#include "FileSearch.h"

#include "tavrin/core/AudioTypes.h"

#include <QElapsedTimer>
#include <QLocale>

namespace tavrin::app {

FileSearch::FileSearch(QObject* parent) : QObject(parent) {
    m_pool.setMaxThreadCount(1); // one request at a time keeps their answers in order
}

FileSearch::~FileSearch() {
    if (m_stop)
        m_stop->store(true);
    // The worker posts to this object, so it must end first.
    m_pool.waitForDone();
}

QString FileSearch::progressNotice(std::size_t found) {
    return "Looking for audio files… " +
           QLocale(QLocale::English).toString(static_cast<qulonglong>(found)) + " found";
}

void FileSearch::search(std::vector<std::filesystem::path> paths) {
    m_waiting.push_back(std::move(paths));
    if (busy())
        return;
    startNext();
    emit busyChanged();
}

void FileSearch::cancel() {
    m_waiting.clear();
    if (!m_stop)
        return;
    m_stop->store(true);
    m_stop.reset();
    emit busyChanged();
}

void FileSearch::startNext() {
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_pool.start([this, stop = m_stop, paths = std::move(m_waiting.front())] {
        QElapsedTimer sinceReport;
        sinceReport.start();
        const auto report = [&](std::size_t count) {
            if (sinceReport.elapsed() < progressIntervalMs)
                return;
            sinceReport.restart();
            QMetaObject::invokeMethod(
                this,
                [this, stop, count] {
                    if (stop == m_stop)
                        emit progress(count);
                },
                Qt::QueuedConnection);
        };
        std::optional<std::vector<std::filesystem::path>> files;
        try {
            files = AudioTypes::audioFiles(paths, report, [&stop] { return stop->load(); });
        } catch (const Cancelled&) {
        }
        QMetaObject::invokeMethod(
            this,
            [this, stop, files = std::move(files)]() mutable { finish(stop, std::move(files)); },
            Qt::QueuedConnection);
    });
    m_waiting.pop_front();
}

void FileSearch::finish(const StopFlag& stop,
                        std::optional<std::vector<std::filesystem::path>> files) {
    if (stop != m_stop || !files)
        return; // cancelled
    m_stop.reset();
    emit found(*files);
    // The answer may have queued another search already.
    if (busy())
        return;
    if (m_waiting.empty())
        emit busyChanged();
    else
        startNext();
}

} // namespace tavrin::app
