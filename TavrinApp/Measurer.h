#pragma once

#include "FileItem.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThreadPool>
#include <QUuid>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::app {

/// Measures the rows waiting in the list, a few at a time in list order, on a pool of its own.
/// Every report comes back to the GUI thread; those of a run that was stopped are dropped.
class Measurer : public QObject {
    Q_OBJECT

public:
    /// What measuring reads of the list and how it hands readings to the rows.
    struct List {
        const std::vector<FileItem>& items;
        /// Marks the row as being measured.
        std::function<void(int row, FileItem::Reading)> setReading;
        /// A report for the row with the id, with the file's format once it is known; says
        /// whether it finished the row, or was dropped or only progress.
        std::function<bool(const QUuid&, FileItem::Reading, std::optional<std::string> format)>
            report;
    };
    /// `processors` sets how many files are measured at once.
    Measurer(List list, unsigned processors);
    /// Stops measuring and waits for the work already running to notice.
    ~Measurer() override;

    /// Measures the rows waiting; a run already going takes them into its free slots at once,
    /// and the rest as slots free.
    void start(bool dualMono);
    /// Stops the run: what it still reports is dropped.
    void stop();
    /// Rows were removed or set waiting again: the next search for waiting rows starts at the top.
    void rowsChanged() { m_firstMaybeWaiting = 0; }
    /// Rows finished since measuring last started from idle.
    int finished() const { return m_run ? m_run->finished : 0; }
    /// Seconds since measuring last started from idle.
    double seconds() const;

private:
    friend class AppModelTest;

    /// The running measuring loop: what it measures with, how many of its files are running,
    /// and how many it has finished since it started from idle.
    struct Run {
        int generation;
        bool dualMono;
        int width;
        int running = 0;
        int finished = 0;
        QElapsedTimer clock{};
        std::shared_ptr<std::atomic<bool>> stop;
    };

    void fillSlots();
    void measure(const FileItem& item);
    /// A worker's report: dropped when it is from an older generation.
    void report(const QUuid& id, int generation, FileItem::Reading reading,
                std::optional<std::string> format);

    List m_list;
    unsigned m_processors;
    std::unique_ptr<Run> m_run;          ///< absent while idle
    int m_generation = 0;                ///< bumped whenever measuring is stopped
    std::size_t m_firstMaybeWaiting = 0; ///< rows before it are known not to be waiting
    QThreadPool m_pool;
};

} // namespace tavrin::app
