#include "ToneLabel.h"

#include <QEvent>
#include <QHBoxLayout>

namespace tavrin::app {

ToneLabel::ToneLabel(const QString& text, Tone tone, QWidget* parent)
    : QLabel(text, parent), m_tone(tone) {
    applyTone();
}

ToneLabel::ToneLabel(Symbol symbol, int size, Tone tone, QWidget* parent)
    : QLabel(parent), m_tone(tone), m_symbol(symbol), m_symbolSize(size) {
    setFixedSize(size, size);
    applyTone();
}

void ToneLabel::setTone(Tone tone) {
    m_tone = tone;
    applyTone();
}

void ToneLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTone();
}

void ToneLabel::applyTone() {
    const QColor colour = Theme::colour(m_tone, palette());
    if (palette().color(QPalette::WindowText) != colour) {
        QPalette own = palette();
        own.setColor(QPalette::WindowText, colour);
        own.setColor(QPalette::Text, colour);
        setPalette(own); // comes back here once, and then the colour matches
    }
    if (m_symbol)
        setPixmap(Theme::symbol(*m_symbol, colour, m_symbolSize, devicePixelRatioF()));
}

SymbolButton::SymbolButton(Symbol symbol, Tone tone, int size, QWidget* parent)
    : QToolButton(parent), m_symbol(symbol), m_tone(tone) {
    setIconSize({size, size});
    applyTone();
}

void SymbolButton::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTone();
}

void SymbolButton::applyTone() {
    setIcon(Theme::symbolIcon(m_symbol, Theme::colour(m_tone, palette()), iconSize().width()));
}

SymbolLabel::SymbolLabel(Symbol symbol, const QString& text, Tone tone, const QFont& font,
                         QWidget* parent)
    : QWidget(parent), m_symbol(new ToneLabel(symbol, QFontMetrics(font).ascent(), tone)),
      m_text(new ToneLabel(text, tone)) {
    m_text->setFont(font);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(m_symbol);
    row->addWidget(m_text, 1);
}

void SymbolLabel::setText(const QString& text) {
    m_text->setText(text);
}

void SymbolLabel::setWordWrap(bool wrap) {
    m_text->setWordWrap(wrap);
    // A wrapped text may run to several lines; the symbol stays beside the first.
    layout()->setAlignment(m_symbol, wrap ? Qt::AlignTop : Qt::Alignment());
}

} // namespace tavrin::app
