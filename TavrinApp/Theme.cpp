#include "Theme.h"

#include <QApplication>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QSvgRenderer>
#include <array>

namespace tavrin::app::Theme {

namespace {

struct StatusColour {
    QColor light, dark;
};

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(float(r), float(g), float(b));
}

const StatusColour& statusColour(Tone tone) {
    static const StatusColour pass{rgb(0.10, 0.55, 0.25), rgb(0.35, 0.85, 0.50)};
    static const StatusColour fail{rgb(0.78, 0.12, 0.10), rgb(1.00, 0.45, 0.42)};
    static const StatusColour caution{rgb(0.60, 0.38, 0.00), rgb(1.00, 0.75, 0.30)};
    return tone == Tone::pass ? pass : tone == Tone::fail ? fail : caution;
}

QString fileName(Symbol symbol) {
    static const std::array names{
        "checkmark.circle.fill",
        "checkmark.circle",
        "xmark.octagon.fill",
        "xmark.octagon",
        "clock",
        "exclamationmark.triangle",
        "exclamationmark.triangle.fill",
        "minus.circle",
        "hand.raised",
        "magnifyingglass",
        "waveform.badge.magnifyingglass",
        "plus",
        "slider.horizontal.3",
        "square.and.arrow.up",
        "gearshape",
        "info.circle",
        "xmark",
        "play.fill",
        "pause.fill",
    };
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(names.at(std::size_t(symbol))));
}

QFont sized(double delta) {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() + delta);
    return font;
}

} // namespace

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2d), text(0xe8, 0xe8, 0xea);
    for (auto role : {QPalette::Window, QPalette::ToolTipBase})
        p.setColor(role, window);
    for (auto role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
        p.setColor(role, text);
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x29));
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7a, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xa6, 0xff));
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4c));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
    p.setColor(QPalette::Mid, QColor(0x38, 0x38, 0x3b));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    p.setColor(QPalette::Shadow, Qt::black);
    QColor placeholder = text;
    placeholder.setAlphaF(0.55f);
    p.setColor(QPalette::PlaceholderText, placeholder);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x78, 0x78, 0x7c));
    return p;
}

void apply(Appearance appearance) {
    // The desktop's own style, kept from before the first change away from it.
    static QString systemStyle;
    if (appearance == Appearance::system) {
        if (systemStyle.isEmpty())
            return; // never changed: the desktop's look, following the desktop as it changes
        QApplication::setStyle(systemStyle);
        QApplication::setPalette(QPalette()); // the platform's own again
        return;
    }
    if (systemStyle.isEmpty())
        systemStyle = QApplication::style()->name();
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(
        appearance == Appearance::dark ? darkPalette() : QApplication::style()->standardPalette());
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor colour(Tone tone, const QPalette& palette) {
    switch (tone) {
    case Tone::primary:
        return palette.color(QPalette::Text);
    case Tone::secondary:
        return palette.color(QPalette::PlaceholderText);
    case Tone::accent:
        return palette.color(QPalette::Highlight);
    case Tone::pass:
    case Tone::fail:
    case Tone::caution:
        break;
    }
    const StatusColour& status = statusColour(tone);
    return isDark(palette) ? status.dark : status.light;
}

QFont semibold(QFont font) {
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont headline() {
    return semibold(QApplication::font());
}

QFont callout() {
    return sized(-1);
}

QFont caption() {
    return sized(-2);
}

QFont title2() {
    return sized(4);
}

QFont monospacedDigits(QFont font) {
    return font;
}

QPixmap symbol(Symbol symbol, const QColor& colour, int size, qreal devicePixelRatio) {
    const QString key = QStringLiteral("%1/%2/%3/%4")
                            .arg(int(symbol))
                            .arg(colour.rgba())
                            .arg(size)
                            .arg(devicePixelRatio);
    static QHash<QString, QPixmap> cache;
    if (const auto found = cache.constFind(key); found != cache.cend())
        return *found;

    const int pixels = qRound(size * devicePixelRatio);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QSvgRenderer(fileName(symbol)).render(&painter);
    }
    // Black ink becomes the colour; white ink (the marks cut into filled symbols) becomes a hole.
    for (int y = 0; y < pixels; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < pixels; ++x) {
            const QColor ink = QColor::fromRgba(qUnpremultiply(line[x]));
            const double coverage = ink.alphaF() * (1.0 - ink.lightnessF()) * colour.alphaF();
            QColor tinted = colour;
            tinted.setAlphaF(float(coverage));
            line[x] = qPremultiply(tinted.rgba());
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon symbolIcon(Symbol symbol, const QColor& colour, int size) {
    QIcon icon;
    for (qreal ratio : {1.0, 2.0})
        icon.addPixmap(Theme::symbol(symbol, colour, size, ratio));
    return icon;
}

QIcon appIcon() {
    return QIcon(QStringLiteral(":/tavrin.svg"));
}

} // namespace tavrin::app::Theme
