#include "DropZone.h"

#include "AppTexts.h"
#include "ToneLabel.h"

#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace tavrin::app {

namespace {
constexpr int margin = 24;
} // namespace

DropZone::DropZone(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model),
      m_symbol(new ToneLabel(Symbol::waveformMagnifyingGlass, 64, Tone::secondary)),
      m_message(new QLabel), m_choose(new QPushButton("Choose Files or Folders…")) {
    setAccessibleName(QStringLiteral("Drop audio files or a folder here"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(margin + 40, margin + 40, margin + 40, margin + 40);
    column->setSpacing(14);
    column->addStretch();

    m_symbol->setAccessibleName({});
    column->addWidget(m_symbol, 0, Qt::AlignHCenter);

    auto* title = new QLabel(QStringLiteral("Drop audio files or a folder"));
    title->setFont(Theme::semibold(Theme::title2()));
    column->addWidget(title, 0, Qt::AlignHCenter);

    m_message->setForegroundRole(QPalette::PlaceholderText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignHCenter);
    m_message->setFixedWidth(460);
    column->addWidget(m_message, 0, Qt::AlignHCenter);

    m_choose->setMinimumHeight(m_choose->sizeHint().height() + 8);
    m_choose->setMinimumWidth(m_choose->sizeHint().width() + 24);
    m_choose->setDefault(true);
    column->addWidget(m_choose, 0, Qt::AlignHCenter);
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)})
        connect(new QShortcut(key, this), &QShortcut::activated, m_choose, &QPushButton::click);

    auto* formats = new QLabel(
        QStringLiteral("WAV, AIFF, MP3, M4A/AAC, FLAC and CAF. Folders are searched, subfolders "
                       "too."));
    formats->setFont(Theme::callout());
    formats->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(formats, 0, Qt::AlignHCenter);
    column->addStretch();

    connect(m_choose, &QPushButton::clicked, &m_model, &AppModel::chooseFiles);
    connect(&m_model, &AppModel::dropTargetedChanged, this, &DropZone::refresh);
    connect(&m_model, &AppModel::specIDChanged, this, &DropZone::refresh);
    refresh();
}

QColor DropZone::borderColour() const {
    if (m_model.dropTargeted())
        return Theme::colour(Tone::accent, palette());
    QColor colour = Theme::colour(Tone::secondary, palette());
    colour.setAlphaF(colour.alphaF() * 0.4f);
    return colour;
}

QColor DropZone::symbolColour() const {
    return Theme::colour(m_symbol->tone(), palette());
}

void DropZone::refresh() {
    m_symbol->setTone(m_model.dropTargeted() ? Tone::accent : Tone::secondary);
    m_message->setText(AppTexts::dropZoneExplanation(m_model.currentSpec()));
    // A wrapped label that is centred in its layout gets one line unless told its height.
    m_message->setFixedHeight(m_message->heightForWidth(m_message->width()));
    QWidget::update();
}

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(borderColour(), 2);
    pen.setDashPattern({4, 3}); // 8 on, 6 off, in units of the pen's width
    painter.setPen(pen);
    // The stroke stays inside the rounded rectangle.
    painter.drawRoundedRect(
        QRectF(rect()).adjusted(margin + 1, margin + 1, -margin - 1, -margin - 1), 16, 16);
}

} // namespace tavrin::app
