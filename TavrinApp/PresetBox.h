#pragma once

#include <QComboBox>

namespace tavrin::app {

/// A combo box that changes only through its popup: a choice re-judges the whole list, so neither
/// the mouse wheel nor a key pressed while the popup is closed may make one by accident. The keys
/// that open the popup still do.
class PresetBox : public QComboBox {
    Q_OBJECT

public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tavrin::app
