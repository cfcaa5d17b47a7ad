#pragma once

#include <QFile>
#include <QString>
#include <filesystem>

namespace tavrin::app {

/// A path as Qt text; names that are not valid in the file system's encoding survive the trip.
inline QString toQString(const std::filesystem::path& path) {
    return QFile::decodeName(path.c_str());
}

inline std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

} // namespace tavrin::app
