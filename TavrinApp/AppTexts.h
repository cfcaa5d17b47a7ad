#pragma once

#include "Updater.h"

#include <QString>

/// Texts shown in more than one place, and the words that name the platform the app runs on.
namespace tavrin::app::AppTexts {

/// What the platform calls its file browser: "Show in Finder" on a Mac.
inline QString fileManager() {
#ifdef Q_OS_MACOS
    return QStringLiteral("Finder");
#else
    return QStringLiteral("File Manager");
#endif
}

inline QString thisComputer() {
#ifdef Q_OS_MACOS
    return QStringLiteral("this Mac");
#else
    return QStringLiteral("this computer");
#endif
}

inline QString showInFileManager() {
    return "Show in " + fileManager();
}

/// What the app does online: a build without an update feed never goes online at all.
inline QString onlineUse() {
    return Updater::configuredFeed().isEmpty()
               ? QStringLiteral("Tavrin never goes online.")
               : QStringLiteral("Tavrin goes online only to look for updates.");
}

/// The notice when no browser or file manager takes a link or a path.
inline QString nothingCanOpen(const QString& what) {
    return "Nothing on " + thisComputer() + " can open " + what + ".";
}

/// What the measurement is, and is not: the about box's last paragraph and the privacy tab's.
inline const QString& measurementStatement() {
    static const QString text = QStringLiteral(
        "Tavrin measures loudness per ITU-R BS.1770-4 and is checked against the EBU Tech "
        "3341/3342 minimum-requirements test signals. It is a quality-control tool, not a "
        "certified broadcast compliance meter.");
    return text;
}

} // namespace tavrin::app::AppTexts
