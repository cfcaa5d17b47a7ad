#pragma once

#include <QString>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <vector>

namespace tavrin::app {

/// A kind of file a save panel offers, e.g. {"CSV", "csv"}.
struct FileType {
    QString name;
    QString suffix; ///< without the dot
};

/// Everything the model asks of the desktop: panels, the file browser and the web browser. The
/// app shows the system's panels; tests answer with scripted choices. Panels do not block: each
/// calls `chosen` once when the user confirms, and never when the user cancels. A panel opens in
/// `startFolder`, or its nearest folder that exists; empty: the user's music or home folder.
class Desktop {
public:
    virtual ~Desktop() = default;

    /// An open panel for audio files and folders together, several at once.
    virtual void chooseFiles(const QString& message, const QString& prompt,
                             const std::filesystem::path& startFolder,
                             std::function<void(std::vector<std::filesystem::path>)> chosen) = 0;
    /// An open panel for one folder, which can also create one.
    virtual void chooseFolder(const QString& message, const QString& prompt,
                              const std::filesystem::path& startFolder,
                              std::function<void(std::filesystem::path)> chosen) = 0;
    /// A save panel titled `title` for one file of `type`, its name field holding `suggestedName`.
    virtual void chooseSaveFile(const QString& title, const std::filesystem::path& startFolder,
                                const QString& suggestedName, const FileType& type,
                                std::function<void(std::filesystem::path)> chosen) = 0;
    /// An open panel titled `title` for one existing file of `type`.
    virtual void chooseOpenFile(const QString& title, const std::filesystem::path& startFolder,
                                const FileType& type,
                                std::function<void(std::filesystem::path)> chosen) = 0;
    /// Shows the files selected in the file browser, all at once. Calls `failed` once, maybe
    /// after returning, when nothing on the computer can show them.
    virtual void reveal(const std::vector<std::filesystem::path>& files,
                        std::function<void()> failed) = 0;
    /// Opens a web page in the default browser; false when nothing on the computer can.
    virtual bool openUrl(const QUrl& url) = 0;
};

} // namespace tavrin::app
