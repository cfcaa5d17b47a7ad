#pragma once

#include "Theme.h"

#include <QAbstractButton>

namespace tavrin::app {

/// One of the footer's counts, as in "✓ 12 pass", that is also a toggle: it looks like the
/// count it is, with a tinted backing while it is checked, an underline under the pointer and a
/// ring while it has keyboard focus.
class TallyButton : public QAbstractButton {
    Q_OBJECT

public:
    TallyButton(Symbol symbol, Tone tone, const QFont& font, QWidget* parent = nullptr);
    Tone tone() const { return m_tone; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int symbolSize() const;

    Symbol m_symbol;
    Tone m_tone;
};

} // namespace tavrin::app
