#include "AppModel.h"
#include "Background.h"
#include "GraphPanel.h"
#include "PlayControls.h"
#include "tavrin/meter/AudioFileMeter.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

// Where the graph looks: zooming to a stretch, scrolling it, the strip that shows where it lies,
// and the cursor a click sets.

namespace tavrin::app {

TimeSpan GraphPanel::shownSpan() const {
    const double whole = m_timeline ? std::max(m_timeline->duration, m_result.duration) : 0;
    return m_view.value_or(TimeSpan{0, whole});
}

void GraphPanel::showView(std::optional<TimeSpan> view) {
    m_view.reset();
    const double whole = shownSpan().end;
    if (view && whole > shortestView) {
        const double length = std::clamp(view->end - view->start, shortestView, whole);
        const double start = std::clamp(view->start, 0.0, whole - length);
        if (length < whole)
            m_view = TimeSpan{start, start + length};
    }
    followDetail();
    setAccessibleDescription(m_timeline ? QString::fromStdString(Graph::description(
                                              {*m_timeline, m_result, m_spec, m_view}))
                                        : QString());
    dropImage();
}

void GraphPanel::followDetail() {
    const int row = m_model.indexOf(m_row);
    if (row < 0 || !m_view || !m_timeline || m_timeline->step <= Timeline::baseStep ||
        (m_detail && m_detail->covers(m_view->start, m_view->end)) ||
        (m_detailAsked && m_detailAsked->start <= m_view->start &&
         m_detailAsked->end >= m_view->end))
        return;
    if (m_stopDetail)
        m_stopDetail->store(true);
    // A view's length either side, so that scrolling a little needs nothing new.
    const double length = m_view->end - m_view->start;
    const TimeSpan stretch{std::max(m_view->start - length, 0.0), m_view->end + length};
    m_detailAsked = stretch;
    m_stopDetail = newStopFlag();
    runThen(
        m_copyPool, this,
        [file = m_model.items()[std::size_t(row)].url, dualMono = m_model.dualMono(), stretch,
         stop = m_stopDetail]() -> std::shared_ptr<const TimelineStretch> {
            try {
                return std::make_shared<const TimelineStretch>(AudioFileMeter::measureStretch(
                    file, dualMono, stretch, [&] { return stop->load(); }));
            } catch (...) { // stopped or unreadable: the view keeps the merged steps
                return nullptr;
            }
        },
        [this, stretch, row = m_row](std::shared_ptr<const TimelineStretch> detail) {
            if (row != m_row || !m_detailAsked || m_detailAsked->start != stretch.start)
                return;
            m_detailAsked.reset();
            if (detail) {
                m_detail = std::move(detail);
                dropImage();
            }
        });
}

void GraphPanel::followPlayHead() {
    const double at = m_controls->cursor();
    if (m_view && m_controls->isPlaying() && (at < m_view->start || at > m_view->end))
        showView(TimeSpan{at, at + (m_view->end - m_view->start)});
    update();
}

void GraphPanel::paintOverview(QPainter& painter) {
    if (!m_view)
        return;
    const double whole = std::max(m_timeline->duration, m_result.duration);
    const double left = m_geometry.plotLeft, width = m_geometry.plotRight - m_geometry.plotLeft;
    const QRectF track(left, height() - 5, width, 3);
    painter.fillRect(track, palette().color(QPalette::Mid));
    const double from = left + width * m_view->start / whole;
    const double to = left + width * m_view->end / whole;
    painter.fillRect(QRectF(from, track.top() - 1, std::max(to - from, 3.0), track.height() + 2),
                     palette().color(QPalette::Highlight));
}

void GraphPanel::paintDrag(QPainter& painter) {
    if (!m_dragFromX || !m_pointerX)
        return;
    const auto inPlot = [this](double x) {
        return std::clamp(x, m_geometry.plotLeft, m_geometry.plotRight);
    };
    QColor shade = palette().color(QPalette::Highlight);
    shade.setAlphaF(0.2f);
    painter.fillRect(QRectF(QPointF(inPlot(*m_dragFromX), m_geometry.loudnessTop),
                            QPointF(inPlot(*m_pointerX), m_geometry.peakBottom))
                         .normalized(),
                     shade);
}

void GraphPanel::mousePressEvent(QMouseEvent* event) {
    const double x = event->position().x();
    if (event->button() == Qt::LeftButton && m_timeline && x >= m_geometry.plotLeft &&
        x <= m_geometry.plotRight)
        m_dragFromX = x;
    QWidget::mousePressEvent(event);
}

void GraphPanel::mouseReleaseEvent(QMouseEvent* event) {
    const auto from = std::exchange(m_dragFromX, std::nullopt);
    const double to = event->position().x();
    if (from && std::abs(to - *from) >= 4) {
        const double a = m_geometry.secondsAt(std::min(*from, to));
        const double b = m_geometry.secondsAt(std::max(*from, to));
        // A drag narrower than the shortest view zooms to that, around the drag.
        const double pad = std::max(0.0, shortestView - (b - a)) / 2;
        showView(TimeSpan{a - pad, b + pad});
    } else if (from) {
        m_controls->moveCursor(m_geometry.secondsAt(to));
    }
    update();
}

void GraphPanel::mouseDoubleClickEvent(QMouseEvent*) {
    showView(std::nullopt);
}

void GraphPanel::wheelEvent(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
    if (!m_timeline || notches == 0 || (!m_view && !(event->modifiers() & Qt::ControlModifier))) {
        event->ignore(); // the page around scrolls instead
        return;
    }
    const TimeSpan now = shownSpan();
    const double length = now.end - now.start;
    if (event->modifiers() & Qt::ControlModifier) {
        // Zooms about the time under the pointer, which stays where it is.
        const double at = m_geometry.secondsAt(event->position().x());
        const double factor = std::pow(0.8, notches);
        showView(TimeSpan{at - (at - now.start) * factor, at + (now.end - at) * factor});
    } else {
        const double shift = -notches * 0.1 * length; // down or left moves later
        showView(TimeSpan{now.start + shift, now.end + shift});
    }
    event->accept();
}

void GraphPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_view) {
        showView(std::nullopt);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tavrin::app
