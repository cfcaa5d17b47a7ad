#pragma once

#include "AppModel.h"

#include <QWidget>

class QLabel;
class QToolButton;

namespace tavrin::app {

/// The one-line notice above the list ("Those files are already in the list."), with a button
/// that dismisses it. Shown only while the model has a notice.
class NoticeBar : public QWidget {
    Q_OBJECT

public:
    explicit NoticeBar(AppModel& model, QWidget* parent = nullptr);
    QString text() const;
    QToolButton* closeButton() const { return m_close; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    AppModel& m_model;
    QLabel* m_text;
    QToolButton* m_close;
};

} // namespace tavrin::app
