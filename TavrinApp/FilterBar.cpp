#include "FilterBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace tavrin::app {

FilterBar::FilterBar(ResultsView& view, QWidget* parent)
    : QWidget(parent), m_view(view), m_text(new QLabel),
      m_showAll(new QPushButton(QStringLiteral("Show All"))) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 4, 10, 4);
    row->setSpacing(10);
    m_text->setFont(Theme::callout());
    m_text->setTextFormat(Qt::PlainText);
    row->addWidget(m_text, 1);
    m_showAll->setFont(Theme::callout());
    m_showAll->setAutoDefault(false);
    row->addWidget(m_showAll);
    connect(m_showAll, &QPushButton::clicked, this, [this] { m_view.setFilter(RowFilter::all); });

    connect(&view, &ResultsView::filterChanged, this, &FilterBar::refresh);
    for (auto counted : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&view, counted, this, &FilterBar::refresh);
    connect(&view, &QAbstractItemModel::modelReset, this, &FilterBar::refresh);
    refresh();
}

QString FilterBar::text() const {
    return isHidden() ? QString() : m_text->text();
}

void FilterBar::refresh() {
    const RowFilter filter = m_view.filter();
    setVisible(filter != RowFilter::all);
    if (filter != RowFilter::all)
        m_text->setText(showingText(filter, m_view.rowCount(), m_view.sourceModel()->rowCount()));
}

void FilterBar::paintEvent(QPaintEvent*) {
    QColor tint = Theme::colour(Tone::accent, palette());
    tint.setAlphaF(0.1f);
    QPainter(this).fillRect(rect(), tint);
}

} // namespace tavrin::app
