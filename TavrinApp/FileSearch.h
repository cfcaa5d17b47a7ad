#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace tavrin::app {

/// Finds the audio files among what the user adds (folders walked and sorted as
/// AudioTypes::audioFiles does) off the GUI thread, so a big tree or a slow share never freezes
/// the window. Requests are searched one at a time and answered in the order they came.
class FileSearch : public QObject {
    Q_OBJECT

public:
    /// How long a search goes before it tells its progress, and then how often at most.
    static constexpr int progressIntervalMs = 100;

    explicit FileSearch(QObject* parent = nullptr);
    /// Stops the running search and waits for its worker.
    ~FileSearch() override;

    /// Queues a search of `paths`, answered with `found`.
    void search(std::vector<std::filesystem::path> paths);
    /// Forgets the searches waiting and stops the running one; none of them is answered.
    void cancel();
    /// True from a search's request until its answer.
    bool busy() const { return m_stop != nullptr; }

    /// The notice while a search takes long: "Looking for audio files… 12,400 found".
    static QString progressNotice(std::size_t found);

signals:
    /// A search's audio files, in AudioTypes::audioFiles order.
    void found(const std::vector<std::filesystem::path>& files);
    /// How many audio files the running search has met so far, every `progressIntervalMs`.
    void progress(std::size_t found);
    void busyChanged();

private:
    using StopFlag = std::shared_ptr<std::atomic<bool>>;
    void startNext();
    void finish(const StopFlag& stop, std::optional<std::vector<std::filesystem::path>> files);

    std::deque<std::vector<std::filesystem::path>> m_waiting;
    StopFlag m_stop; ///< the running search's, or null
    QThreadPool m_pool;
};

} // namespace tavrin::app
