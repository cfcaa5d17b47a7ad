#pragma once

#include "tavrin/meter/LoudnessResult.h"
#include "tavrin/meter/Timeline.h"
#include "tavrin/reports/Graph.h"
#include "tavrin/rules/DeliverySpec.h"

#include <QImage>
#include <QUuid>
#include <QWidget>
#include <memory>
#include <optional>

namespace tavrin::app {

class AppModel;

/// The loudness over time of the one selected row, under the table. Hidden unless exactly one
/// row is selected. The graph is drawn once into an image for the widget's size and palette;
/// hovering paints only a cursor line and the values under the pointer on top of it.
class GraphPanel : public QWidget {
    Q_OBJECT

public:
    explicit GraphPanel(AppModel& model, QWidget* parent = nullptr);

    /// The height the user last gave the panel, kept while it is hidden.
    int wantedHeight() const { return m_wantedHeight; }
    void setWantedHeight(int height);

signals:
    /// The panel was shown: its splitter should give it `height`.
    void wantsHeight(int height);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    /// Follows the selection and the row's reading: what to show, and whether to show at all.
    void follow();
    void dropImage();
    Graph::Style style() const;
    void renderImage();
    void paintPlaceholder(QPainter& painter);
    void paintCursor(QPainter& painter);
    QString cursorText(double seconds) const;

    AppModel& m_model;
    QUuid m_row;
    std::shared_ptr<const Timeline> m_timeline;
    LoudnessResult m_result;
    DeliverySpec m_spec;
    QImage m_image; ///< the graph at the widget's size; null until drawn again
    Graph::Geometry m_geometry;
    std::optional<double> m_pointerX;
    int m_wantedHeight = 240;
};

/// `table` over `graph` in a splitter that gives the graph its wanted height whenever it shows,
/// and gives any growth of the window to the table.
QWidget* tableOverGraph(QWidget* table, GraphPanel* graph);

} // namespace tavrin::app
