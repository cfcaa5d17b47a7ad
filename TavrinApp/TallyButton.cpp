#include "TallyButton.h"

#include <QPainter>
#include <QPainterPath>

namespace tavrin::app {

namespace {

constexpr int gap = 4;     // between symbol and text
constexpr int marginX = 5; // room for the checked backing, so checking moves nothing
constexpr int marginY = 2;

} // namespace

TallyButton::TallyButton(Symbol symbol, Tone tone, const QFont& font, QWidget* parent)
    : QAbstractButton(parent), m_symbol(symbol), m_tone(tone) {
    setFont(font);
    setCheckable(true);
    // Clicking keeps the focus where it was (the table); Tab still reaches the button.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

int TallyButton::symbolSize() const {
    return fontMetrics().ascent();
}

QSize TallyButton::sizeHint() const {
    const int width = symbolSize() + gap + fontMetrics().horizontalAdvance(text());
    return {width + 2 * marginX, fontMetrics().height() + 2 * marginY};
}

void TallyButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = Theme::colour(m_tone, palette());
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isChecked() || isDown()) {
        QColor backing = ink;
        backing.setAlphaF(isDown() ? 0.28f : 0.16f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(backing);
        painter.drawRoundedRect(box, 5, 5);
    }
    if (hasFocus()) {
        painter.setPen(QPen(Theme::colour(Tone::accent, palette()), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    }
    const int size = symbolSize();
    const QRect content = rect().adjusted(marginX, marginY, -marginX, -marginY);
    painter.drawPixmap(content.left(), content.center().y() - size / 2 + 1,
                       Theme::symbol(m_symbol, ink, size, devicePixelRatioF()));
    QFont textFont = font();
    textFont.setUnderline(underMouse() && isEnabled());
    painter.setFont(textFont);
    painter.setPen(ink);
    painter.drawText(content.adjusted(size + gap, 0, 0, 0), int(Qt::AlignLeft | Qt::AlignVCenter),
                     text());
}

void TallyButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update();
}

void TallyButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

} // namespace tavrin::app
