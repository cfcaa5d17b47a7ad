#pragma once

#include "FileItem.h"
#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/reports/Graph.h"
#include "tavrin/rules/DeliverySpec.h"

#include <QImage>
#include <QThreadPool>
#include <QUuid>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

namespace tavrin::app {

class AppModel;
class PlayControls;

/// The loudness over time of the one selected row, under the table. Hidden unless exactly one
/// row is selected. The graph is drawn once into an image for the widget's size and palette;
/// hovering paints only a cursor line and the values under the pointer on top of it.
/// A row with a copy for the preset, as it was written, has the copy's short-term loudness drawn
/// over its own, measured in the background once the row is shown.
/// Ctrl+wheel or a drag across the plot zooms to a stretch of at least 10 s, the wheel then
/// scrolls, and double-click or Esc shows the whole file again; a strip along the bottom shows
/// where the stretch lies; a long file's stretch is measured again at 100 ms steps. A click sets
/// the cursor that playing starts from, and a play head runs across while playing.
class GraphPanel : public QWidget {
    Q_OBJECT

public:
    explicit GraphPanel(AppModel& model, QWidget* parent = nullptr);
    /// Stops measuring a copy and waits for it.
    ~GraphPanel() override;

    /// The height the user last gave the panel, kept while it is hidden.
    int wantedHeight() const { return m_wantedHeight; }
    void setWantedHeight(int height);
    /// Where the graph's parts lie as last drawn, in the widget's coordinates.
    const Graph::Geometry& geometry() const { return m_geometry; }
    /// Whether the copy's line is drawn.
    bool showsCopy() const { return m_copyTimeline != nullptr; }
    PlayControls& playControls() const { return *m_controls; }
    /// Plays the row `id`, alone selected, from `seconds`.
    void playFrom(const QUuid& id, double seconds);

    /// The shortest stretch the graph zooms to, seconds.
    static constexpr double shortestView = 10;

signals:
    /// The panel was shown: its splitter should give it `height`.
    void wantsHeight(int height);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    /// Follows the selection and the row's reading: what to show, and whether to show at all.
    void follow();
    void dropImage();
    /// Shows `view` (the whole file when absent or as long), moved inside the file and made at
    /// least shortestView long.
    void showView(std::optional<TimeSpan> view);
    TimeSpan shownSpan() const;
    /// The row's copy for the preset, still as it was written; null when there is none.
    const FileItem::FixState::Done* writtenCopy(const FileItem& item) const;
    /// Draws `copy` (none when empty) over the row: measures a new one for its timeline.
    void followCopy(const std::filesystem::path& copy);
    Graph::Style style() const;
    void renderImage();
    void paintPlaceholder(QPainter& painter);
    void paintCursor(QPainter& painter);
    void paintDrag(QPainter& painter);
    void paintOverview(QPainter& painter);
    void paintPlayHead(QPainter& painter);
    /// Keeps the play head in a zoomed view, a page at a time.
    void followPlayHead();
    /// Measures the view again at 100 ms steps, in the background, where the file's timeline has
    /// merged them and what was measured last doesn't cover it.
    void followDetail();
    QString cursorText(double seconds) const;

    AppModel& m_model;
    QUuid m_row;
    std::shared_ptr<const Timeline> m_timeline;
    LoudnessResult m_result;
    DeliverySpec m_spec;
    QImage m_image; ///< the graph at the widget's size; null until drawn again
    Graph::Geometry m_geometry;
    std::optional<double> m_pointerX;
    std::optional<TimeSpan> m_view; ///< zoomed to; absent for the whole file
    std::filesystem::path m_copy;   ///< the row's copy for the preset, as written
    std::shared_ptr<const Timeline> m_copyTimeline;
    std::shared_ptr<std::atomic<bool>> m_stopCopy; ///< stops measuring the copy
    QThreadPool m_copyPool;
    std::optional<double> m_dragFromX;               ///< where a drag across the plot began
    std::shared_ptr<const TimelineStretch> m_detail; ///< the view at 100 ms steps, when measured
    std::optional<TimeSpan> m_detailAsked;           ///< being measured
    std::shared_ptr<std::atomic<bool>> m_stopDetail;
    PlayControls* m_controls;
    int m_wantedHeight = 240;
};

/// `table` over `graph` in a splitter that gives the graph its wanted height whenever it shows,
/// and gives any growth of the window to the table.
QWidget* tableOverGraph(QWidget* table, GraphPanel* graph);

} // namespace tavrin::app
