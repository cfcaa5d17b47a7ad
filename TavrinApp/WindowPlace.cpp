#include "WindowPlace.h"

#include "ColumnFitter.h"
#include "MainWindow.h"
#include "ResultsTable.h"

#include <QSettings>

namespace tavrin::app::WindowPlace {

namespace {

constexpr auto geometryKey = "windowGeometry";
constexpr auto columnsKey = "columnWidths";

} // namespace

void restore(MainWindow& window, const QSettings& settings) {
    const QVariant geometry = settings.value(geometryKey);
    if (geometry.typeId() == QMetaType::QByteArray)
        window.restoreGeometry(geometry.toByteArray()); // checks the bytes, and keeps it on screen
    QList<int> widths;
    for (const QVariant& stored : settings.value(columnsKey).toList()) {
        bool number = false;
        widths << stored.toInt(&number);
        if (!number)
            return;
    }
    window.table()->columnFitter().setWanted(widths); // each within its column's limits
}

void store(const MainWindow& window, QSettings& settings) {
    settings.setValue(geometryKey, window.saveGeometry());
    QVariantList widths;
    for (int width : window.table()->columnFitter().wanted())
        widths << width;
    settings.setValue(columnsKey, widths);
}

} // namespace tavrin::app::WindowPlace
