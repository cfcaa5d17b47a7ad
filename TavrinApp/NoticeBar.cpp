#include "NoticeBar.h"

#include "ToneLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>

namespace tavrin::app {

NoticeBar::NoticeBar(AppModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_text(new QLabel),
      m_close(new SymbolButton(Symbol::xmark, Tone::secondary, 12)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(10);
    row->addWidget(new ToneLabel(Symbol::infoCircle, 16, Tone::accent));
    m_text->setFont(Theme::callout());
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    row->addWidget(m_text, 1);
    m_close->setAutoRaise(true);
    m_close->setAccessibleName(QStringLiteral("Dismiss"));
    row->addWidget(m_close);
    connect(m_close, &QToolButton::clicked, &m_model, &AppModel::dismissNotice);
    connect(&m_model, &AppModel::noticeChanged, this, &NoticeBar::refresh);
    refresh();
}

QString NoticeBar::text() const {
    return m_text->text();
}

void NoticeBar::refresh() {
    m_text->setText(m_model.notice().value_or(QString()));
    setVisible(m_model.notice().has_value());
}

void NoticeBar::paintEvent(QPaintEvent*) {
    QColor tint = Theme::colour(Tone::accent, palette());
    tint.setAlphaF(0.1f);
    QPainter(this).fillRect(rect(), tint);
}

} // namespace tavrin::app
