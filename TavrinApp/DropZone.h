#pragma once

#include "AppModel.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace tavrin::app {

class ToneLabel;

/// What the window shows while the list is empty: where to drop files, what happens to them, and
/// a button that opens the file panel. Its dashed border and symbol turn to the accent colour
/// while files are dragged over the window; the window handles the drop itself.
class DropZone : public QWidget {
    Q_OBJECT

public:
    explicit DropZone(AppModel& model, QWidget* parent = nullptr);
    QPushButton* chooseButton() const { return m_choose; }
    /// The colour the border is drawn in now.
    QColor borderColour() const;
    QColor symbolColour() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    AppModel& m_model;
    ToneLabel* m_symbol;
    QLabel* m_message;
    QPushButton* m_choose;
};

} // namespace tavrin::app
