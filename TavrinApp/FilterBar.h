#pragma once

#include "ResultsView.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace tavrin::app {

/// The strip over a filtered table: "Showing 6 failing files of 30", and "Show All", which clears
/// the filter. Shown only while a filter is on, so a short list never looks like the whole one.
class FilterBar : public QWidget {
    Q_OBJECT

public:
    explicit FilterBar(ResultsView& view, QWidget* parent = nullptr);
    QString text() const;
    QPushButton* showAllButton() const { return m_showAll; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    ResultsView& m_view;
    QLabel* m_text;
    QPushButton* m_showAll;
};

} // namespace tavrin::app
