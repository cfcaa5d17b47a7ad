#pragma once

class QSettings;

namespace tavrin::app {

class MainWindow;

/// The main window as the user left it: its size, its place where the platform lets a window
/// choose one, the widths of the list's columns and the height of its graph.
namespace WindowPlace {

/// Gives `window` what `settings` holds of it; anything missing or malformed is left as it is.
void restore(MainWindow& window, const QSettings& settings);
/// Keeps `window`'s size, place and column widths in `settings`.
void store(const MainWindow& window, QSettings& settings);

} // namespace WindowPlace

} // namespace tavrin::app
