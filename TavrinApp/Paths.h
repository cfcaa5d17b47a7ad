#pragma once

#include <QFile>
#include <QString>
#include <QUrl>
#include <filesystem>
#include <string_view>

namespace tavrin::app {

/// The kit's UTF-8 text as Qt text.
inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A path as Qt text, to show. Bytes that are not UTF-8 (a Latin-1 name on Linux) show as U+FFFD
/// and do not come back from the text: paths stay `std::filesystem::path` wherever they are kept.
inline QString toQString(const std::filesystem::path& path) {
    return QFile::decodeName(path.c_str());
}

/// Text that names a file (a panel's choice) as a path.
inline std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

/// A file URL that carries the path's own bytes, percent-encoded; `QUrl::fromLocalFile` would
/// take them through text.
inline QUrl fileUrl(const std::filesystem::path& path) {
#ifdef Q_OS_WIN
    return QUrl::fromLocalFile(toQString(path));
#else
    return QUrl::fromEncoded("file://" + QByteArray(path.c_str()).toPercentEncoding("/"));
#endif
}

/// The path a file URL names, byte for byte; `QUrl::toLocalFile` would decode it as UTF-8.
inline std::filesystem::path localPath(const QUrl& url) {
#ifdef Q_OS_WIN
    return toPath(url.toLocalFile());
#else
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
#endif
}

} // namespace tavrin::app
