#pragma once

#include "Theme.h"

#include <QLabel>
#include <QToolButton>
#include <optional>

namespace tavrin::app {

/// A label whose text or symbol takes a tone's colour, and takes it again when the palette
/// changes, so it follows a switch between light and dark.
class ToneLabel : public QLabel {
    Q_OBJECT

public:
    explicit ToneLabel(const QString& text = {}, Tone tone = Tone::primary,
                       QWidget* parent = nullptr);
    /// Shows `symbol` at `size` instead of text.
    ToneLabel(Symbol symbol, int size, Tone tone, QWidget* parent = nullptr);

    void setTone(Tone tone);
    Tone tone() const { return m_tone; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    Tone m_tone;
    std::optional<Symbol> m_symbol;
    int m_symbolSize = 0;
};

/// A symbol followed by text, both in one tone, as in "✓ 12 pass".
class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    SymbolLabel(Symbol symbol, const QString& text, Tone tone, const QFont& font,
                QWidget* parent = nullptr);
    void setText(const QString& text);
    void setWordWrap(bool wrap);
    QString text() const { return m_text->text(); }
    Tone tone() const { return m_text->tone(); }

private:
    ToneLabel* m_symbol;
    ToneLabel* m_text;
};

/// A tool button showing a symbol in a tone, tinted again when the palette changes.
class SymbolButton : public QToolButton {
    Q_OBJECT

public:
    SymbolButton(Symbol symbol, Tone tone, int size, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    Symbol m_symbol;
    Tone m_tone;
};

} // namespace tavrin::app
