#include "SessionVerifier.h"

#include "Background.h"
#include "tavrin/core/Cancellation.h"

#include <QMetaObject>

namespace tavrin::app {

namespace {

/// How long the thread gathers findings before handing them over.
constexpr qint64 batchMilliseconds = 40;

} // namespace

SessionVerifier::SessionVerifier(Apply apply) : m_apply(std::move(apply)) {
    m_pool.setMaxThreadCount(1);
}

SessionVerifier::~SessionVerifier() {
    stop();
    m_pool.waitForDone();
}

void SessionVerifier::stop() {
    if (m_stop)
        m_stop->store(true);
    m_stop.reset();
    ++m_generation;
    if (m_busy) {
        m_busy = false;
        emit busyChanged();
    }
}

void SessionVerifier::start(std::vector<Row> rows, Session::Verify how) {
    stop();
    m_stop = newStopFlag();
    m_busy = true;
    emit busyChanged();
    m_pool.start([this, rows = std::move(rows), how, stop = m_stop, generation = m_generation] {
        const CancelCheck stopped = [&stop] { return stop->load(); };
        std::vector<Found> found;
        QElapsedTimer sinceHanded;
        sinceHanded.start();
        const auto hand = [&](bool last) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, batch = std::move(found), last]() mutable {
                    deliver(generation, std::move(batch), last);
                },
                Qt::QueuedConnection);
            found.clear();
            sinceHanded.restart();
        };
        try {
            for (const Row& row : rows) {
                if (auto check = Session::check(row.saved, how, stopped); !check.asSaved())
                    found.push_back({row.id, std::move(check)});
                if (!found.empty() && sinceHanded.elapsed() >= batchMilliseconds)
                    hand(false);
            }
            hand(true);
        } catch (const Cancelled&) {
        } catch (...) {
            hand(true); // what was found so far; the rest stays as saved
        }
    });
}

void SessionVerifier::deliver(int generation, std::vector<Found> found, bool last) {
    if (generation != m_generation)
        return;
    if (!found.empty())
        m_apply(std::move(found));
    if (last && m_busy) {
        m_busy = false;
        emit busyChanged();
    }
}

} // namespace tavrin::app
