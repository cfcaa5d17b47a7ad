#pragma once

#include "tavrin/workflow/Session.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThreadPool>
#include <QUuid>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace tavrin::app {

/// Checks a reopened session's files and copies against the disk on a thread of its own, and
/// hands back what isn't as saved in small batches, so the window stays responsive however long
/// the list.
class SessionVerifier : public QObject {
    Q_OBJECT

public:
    /// One list row to check, as its session saved it.
    struct Row {
        QUuid id;
        Session::Row saved;
    };
    /// What differs of one row.
    struct Found {
        QUuid id;
        Session::RowCheck check;
    };
    using Apply = std::function<void(std::vector<Found>)>;

    explicit SessionVerifier(Apply apply);
    /// Stops and waits for the thread.
    ~SessionVerifier() override;

    /// Stops any check under way and checks `rows`, reading files as `how` says.
    void start(std::vector<Row> rows, Session::Verify how);
    void stop();
    bool busy() const { return m_busy; }

signals:
    void busyChanged();

private:
    void deliver(int generation, std::vector<Found> found, bool last);

    Apply m_apply;
    QThreadPool m_pool;
    std::shared_ptr<std::atomic<bool>> m_stop;
    int m_generation = 0;
    bool m_busy = false;
};

} // namespace tavrin::app
