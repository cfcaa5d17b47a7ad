#include "GraphPanel.h"

#include "AppModel.h"
#include "AppTexts.h"
#include "Background.h"
#include "PlayControls.h"
#include "Theme.h"
#include "tavrin/core/Fmt.h"
#include "tavrin/workflow/Workflow.h"

#include <QEvent>
#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <algorithm>
#include <cmath>

namespace tavrin::app {

namespace {

Graph::Colour colourOf(const QColor& colour) {
    return {colour.redF(), colour.greenF(), colour.blueF(), colour.alphaF()};
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

/// "−14.2", or "—" where the step has no value.
QString valueText(const std::vector<std::optional<double>>& series, std::size_t step) {
    return qs(Fmt::number(step < series.size() ? series[step] : std::nullopt, false, "—"));
}

constexpr int smallestHeight = 140;

} // namespace

GraphPanel::GraphPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_controls(new PlayControls(model, this)) {
    setMouseTracking(true);
    setMinimumHeight(smallestHeight);
    setAccessibleName("Loudness over time");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus); // for Esc
    hide();
    connect(&model, &AppModel::selectionChanged, this, &GraphPanel::follow);
    connect(&model, &AppModel::itemsRemoved, this, &GraphPanel::follow);
    connect(&model, &AppModel::specIDChanged, this, &GraphPanel::follow);
    connect(&model, &AppModel::timelineReady, this, [this](const QUuid& id) {
        if (id == m_row)
            follow();
    });
    connect(m_controls, &PlayControls::cursorMoved, this, &GraphPanel::followPlayHead);
    installEventFilter(m_controls);
    connect(&model, &AppModel::itemChanged, this, [this](int row) {
        if (row >= 0 && std::size_t(row) < m_model.items().size() &&
            m_model.items()[std::size_t(row)].id == m_row)
            follow();
    });
}

GraphPanel::~GraphPanel() {
    // The audio output may run the event loop as it goes: the panel follows nothing by then.
    m_model.disconnect(this);
    delete m_controls;
    for (const auto& stop : {m_stopCopy, m_stopDetail})
        if (stop)
            stop->store(true);
    m_copyPool.waitForDone();
}

const FileItem::FixState::Done* GraphPanel::writtenCopy(const FileItem& item) const {
    const auto* fix = item.fixFor(m_model.specID());
    const auto* done = fix ? std::get_if<FileItem::FixState::Done>(&fix->value) : nullptr;
    return done && done->onDiskAsWritten() ? done : nullptr;
}

void GraphPanel::followCopy(const std::filesystem::path& copy) {
    if (copy == m_copy)
        return;
    m_copy = copy;
    m_copyTimeline.reset();
    if (m_stopCopy)
        m_stopCopy->store(true);
    m_stopCopy.reset();
    if (copy.empty())
        return;
    m_stopCopy = newStopFlag();
    runThen(
        m_copyPool, this,
        [copy, dualMono = m_model.dualMono(), stop = m_stopCopy]() {
            try {
                return Workflow::measure(
                           copy, dualMono, {}, [&] { return stop->load(); }, true)
                    .timeline;
            } catch (...) { // stopped, or out of memory: the graph goes without the copy
                return std::shared_ptr<const Timeline>();
            }
        },
        [this, copy](std::shared_ptr<const Timeline> timeline) {
            if (copy != m_copy || !timeline)
                return;
            m_copyTimeline = std::move(timeline);
            dropImage();
        });
}

void GraphPanel::setWantedHeight(int height) {
    m_wantedHeight = std::clamp(height, smallestHeight, 4096); // a stored height may be anything
}

void GraphPanel::follow() {
    const auto& selection = m_model.selection();
    const int row = selection.size() == 1 ? m_model.indexOf(*selection.begin()) : -1;
    if (row < 0) {
        m_row = {};
        m_timeline.reset();
        followCopy({});
        m_controls->setSource({}, 0);
        setAccessibleDescription({});
        hide();
        return;
    }
    const FileItem& item = m_model.items()[std::size_t(row)];
    const bool sameRow = item.id == m_row;
    m_row = item.id;
    auto timeline = item.result() ? m_model.timeline(item.id) : nullptr;
    const LoudnessResult result = item.result() ? *item.result() : LoudnessResult{};
    const DeliverySpec& spec = m_model.currentSpec();
    if (!sameRow || timeline != m_timeline || !(result == m_result) || !(spec == m_spec)) {
        m_timeline = std::move(timeline);
        m_result = result;
        m_spec = spec;
        if (!sameRow || timeline != m_timeline) {
            m_view.reset();
            m_detail.reset();
            m_detailAsked.reset();
        }
        showView(m_view);
    }
    const FileItem::FixState::Done* copy = writtenCopy(item);
    followCopy(copy ? copy->copy : std::filesystem::path());
    m_controls->setSource({item.url, m_copy, float(std::pow(10.0, (copy ? copy->gain : 0) / 20))},
                          shownSpan().end);
    if (isHidden()) {
        const int wanted = m_wantedHeight; // showing resizes the panel before the splitter can
        show();
        m_wantedHeight = wanted;
        emit wantsHeight(wanted);
    }
}

void GraphPanel::dropImage() {
    m_image = {};
    update();
}

Graph::Style GraphPanel::style() const {
    const QPalette& colours = palette();
    Graph::Style style;
    style.palette = Theme::isDark(colours) ? Graph::Palette::dark() : Graph::Palette::light();
    style.palette.background = colourOf(colours.color(QPalette::Base));
    const QFont font = Theme::caption();
    style.fontFamily = QFontInfo(font).family().toStdString();
    style.fontSize = QFontInfo(font).pixelSize();
    style.scale = devicePixelRatioF();
    return style;
}

void GraphPanel::renderImage() {
    const Graph::Style look = style();
    const Graph::Content content{*m_timeline,          m_result,      m_spec, m_view,
                                 m_copyTimeline.get(), m_detail.get()};
    const QSize pixels = (QSizeF(size()) * look.scale).toSize();
    m_image = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    Graph::render(m_image.bits(), m_image.width(), m_image.height(), int(m_image.bytesPerLine()),
                  content, look);
    m_image.setDevicePixelRatio(look.scale);
    m_geometry = Graph::geometry(content, width(), height(), look);
}

void GraphPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_timeline) {
        paintPlaceholder(painter);
        return;
    }
    if (m_image.isNull())
        renderImage();
    painter.drawImage(QPointF(0, 0), m_image);
    paintOverview(painter);
    paintDrag(painter);
    paintPlayHead(painter);
    paintCursor(painter);
}

void GraphPanel::playFrom(const QUuid& id, double seconds) {
    m_model.setSelection({id});
    if (id == m_row)
        m_controls->playFrom(seconds);
}

void GraphPanel::paintPlayHead(QPainter& painter) {
    const double at = m_controls->cursor();
    if ((at <= 0 && !m_controls->isPlaying()) || at < m_geometry.start ||
        at > m_geometry.start + m_geometry.duration)
        return;
    const double x = m_geometry.xAt(at);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawLine(QPointF(x, m_geometry.loudnessTop), QPointF(x, m_geometry.peakBottom));
}

void GraphPanel::paintPlaceholder(QPainter& painter) {
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const int row = m_model.indexOf(m_row);
    const FileItem* item = row < 0 ? nullptr : &m_model.items()[std::size_t(row)];
    QString text = AppTexts::graphAfterMeasuring();
    if (item && std::holds_alternative<FileItem::Reading::Failed>(item->reading.value))
        text = AppTexts::noGraphUnmeasurable();
    else if (item && item->result() && m_model.measuringTimeline(item->id))
        text = AppTexts::measuringForGraph();
    else if (item && item->result())
        text = AppTexts::graphFileChanged();
    painter.setFont(Theme::callout());
    painter.setPen(Theme::colour(Tone::secondary, palette()));
    painter.drawText(rect(), Qt::AlignCenter, text);
}

QString GraphPanel::cursorText(double seconds) const {
    const auto stepOf = [seconds](const Timeline& timeline) {
        return std::size_t(std::max(0.0, std::floor(seconds / timeline.step)));
    };
    const std::size_t step = stepOf(*m_timeline);
    const QString copy =
        m_copyTimeline ? "   Copy " + valueText(m_copyTimeline->shortTerm, stepOf(*m_copyTimeline))
                       : QString();
    return qs(Fmt::duration(seconds)) + "   Short-term " + valueText(m_timeline->shortTerm, step) +
           copy + "   Momentary " + valueText(m_timeline->momentary, step) + " LUFS   True peak " +
           valueText(m_timeline->truePeak, step) + " dBTP";
}

void GraphPanel::paintCursor(QPainter& painter) {
    if (!m_pointerX || *m_pointerX < m_geometry.plotLeft || *m_pointerX > m_geometry.plotRight)
        return;
    const double x = *m_pointerX;
    const QColor ink = palette().color(QPalette::Text);
    painter.setPen(QPen(ink, 1));
    painter.drawLine(QPointF(x, m_geometry.loudnessTop), QPointF(x, m_geometry.peakBottom));

    painter.setFont(Theme::caption());
    const QString text = cursorText(m_geometry.secondsAt(x));
    const QRectF bounds = painter.fontMetrics().boundingRect(text).adjusted(-6, -3, 6, 3);
    // Beside the line, flipped to its left near the right edge, and always inside the plot.
    double left = x + 8;
    if (left + bounds.width() > m_geometry.plotRight)
        left = x - 8 - bounds.width();
    left = std::max(left, m_geometry.plotLeft);
    const QRectF label(QPointF(left, m_geometry.loudnessTop + 4), bounds.size());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(label, 4, 4);
    painter.setPen(ink);
    painter.drawText(label, Qt::AlignCenter, text);
}

void GraphPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_controls->place();
    if (isVisible() && height() > 0)
        m_wantedHeight = std::max(height(), smallestHeight);
    dropImage();
}

void GraphPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange)
        dropImage();
}

void GraphPanel::mouseMoveEvent(QMouseEvent* event) {
    m_pointerX = event->position().x();
    update();
}

void GraphPanel::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    m_pointerX.reset();
    update();
}

QWidget* tableOverGraph(QWidget* table, GraphPanel* graph) {
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(table);
    splitter->addWidget(graph);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    QObject::connect(graph, &GraphPanel::wantsHeight, splitter, [splitter](int height) {
        const int total = splitter->height() - splitter->handleWidth();
        // The table keeps room for a few rows however tall the graph was.
        const int graphHeight = std::clamp(height, 0, std::max(total - 160, total / 2));
        splitter->setSizes({total - graphHeight, graphHeight});
    });
    return splitter;
}

} // namespace tavrin::app
