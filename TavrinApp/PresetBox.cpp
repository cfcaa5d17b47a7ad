#include "PresetBox.h"

#include <QKeyEvent>
#include <QWheelEvent>

namespace tavrin::app {

void PresetBox::wheelEvent(QWheelEvent* event) {
    event->ignore(); // left to whatever scrolls beneath
}

void PresetBox::keyPressEvent(QKeyEvent* event) {
    const bool alt = event->modifiers() & Qt::AltModifier;
    const bool opensPopup = event->key() == Qt::Key_Space || event->key() == Qt::Key_F4 ||
                            event->key() == Qt::Key_Select ||
                            (alt && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down));
    if (opensPopup)
        showPopup();
    else
        event->ignore(); // shortcuts and the window see it instead
}

} // namespace tavrin::app
