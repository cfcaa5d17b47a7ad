#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string_view>

namespace tavrin::app {

/// The kit's UTF-8 text as Qt text.
inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A path as Qt text; names that are not valid in the file system's encoding survive the trip.
inline QString toQString(const std::filesystem::path& path) {
    return QFile::decodeName(path.c_str());
}

inline std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

} // namespace tavrin::app
