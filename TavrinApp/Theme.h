#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>

namespace tavrin::app {

/// The colour a piece of text or a symbol takes; resolved against the palette it is painted with.
enum class Tone { primary, secondary, accent, pass, fail, caution };

/// The monochrome symbols the windows use, each an SVG of ours named after the role it plays.
enum class Symbol {
    checkmarkCircleFill,
    checkmarkCircle,
    xmarkOctagonFill,
    xmarkOctagon,
    clock,
    exclamationmarkTriangle,
    exclamationmarkTriangleFill,
    minusCircle,
    handRaised,
    magnifyingGlass,
    waveformMagnifyingGlass,
    plus,
    sliders,
    share,
    gear,
    infoCircle,
    xmark,
    play,
    pause,
};

/// Colours, fonts and symbols shared by every window, so the table, footer and settings agree.
namespace Theme {

/// How the windows look: as the desktop has them, or light or dark whatever it says.
enum class Appearance { system, light, dark };

/// Applies `appearance` to the whole application at once: the desktop's own style and palette for
/// system, else Fusion with a light or a dark palette, whose focus rings show in both.
void apply(Appearance appearance);
/// The palette of the dark appearance.
QPalette darkPalette();

/// True when the palette's window colour is dark: the dark variants of the status colours apply.
bool isDark(const QPalette& palette);
QColor colour(Tone tone, const QPalette& palette);

/// The platform font's size is "body"; the others are sized from it.
QFont headline();
QFont callout();
QFont caption();
QFont title2();
QFont semibold(QFont font);
/// Digits of equal width, so columns of numbers line up. The default figures of the fonts a Linux
/// desktop uses (DejaVu, Liberation, Noto, Cantarell) are already tabular.
QFont monospacedDigits(QFont font);

/// `symbol` in `colour`, `size` device-independent pixels square. White marks inside a filled
/// symbol come out transparent. Cached, as the table paints the same few over and over.
QPixmap symbol(Symbol symbol, const QColor& colour, int size, qreal devicePixelRatio);
QIcon symbolIcon(Symbol symbol, const QColor& colour, int size = 16);
/// The application's own icon.
QIcon appIcon();

} // namespace Theme

} // namespace tavrin::app
