#include "WindowPlace.h"

#include "ColumnFitter.h"
#include "GraphPanel.h"
#include "MainWindow.h"
#include "ResultsTable.h"

#include <QSettings>

namespace tavrin::app::WindowPlace {

namespace {

constexpr auto geometryKey = "windowGeometry";
constexpr auto columnsKey = "columnWidths";
constexpr auto graphHeightKey = "graphHeight";

} // namespace

void restore(MainWindow& window, const QSettings& settings) {
    const QVariant geometry = settings.value(geometryKey);
    if (geometry.typeId() == QMetaType::QByteArray)
        window.restoreGeometry(geometry.toByteArray()); // checks the bytes, and keeps it on screen
    bool number = false;
    if (const int height = settings.value(graphHeightKey).toInt(&number); number)
        window.graphPanel()->setWantedHeight(height);
    QList<int> widths;
    for (const QVariant& stored : settings.value(columnsKey).toList()) {
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
    settings.setValue(graphHeightKey, window.graphPanel()->wantedHeight());
}

} // namespace tavrin::app::WindowPlace
