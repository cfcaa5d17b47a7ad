#pragma once

#include "Desktop.h"

#include <QPointer>
#include <QWidget>

namespace tavrin::app {

/// The desktop as the user has it: Qt's file dialogs, opened without blocking and attached to the
/// app's window the user works in, the file manager over D-Bus, and the default web browser.
class SystemDesktop : public Desktop {
public:
    /// Panels open over the app's active window, else over `window` (may be set later; null:
    /// free-standing).
    void setWindow(QWidget* window) { m_window = window; }

    void chooseFiles(const QString& message, const QString& prompt,
                     const std::filesystem::path& startFolder,
                     std::function<void(std::vector<std::filesystem::path>)> chosen) override;
    void chooseFolder(const QString& message, const QString& prompt,
                      const std::filesystem::path& startFolder,
                      std::function<void(std::filesystem::path)> chosen) override;
    void chooseSaveFile(const QString& title, const std::filesystem::path& startFolder,
                        const QString& suggestedName, const FileType& type,
                        std::function<void(std::filesystem::path)> chosen) override;
    void chooseOpenFile(const QString& title, const std::filesystem::path& startFolder,
                        const FileType& type,
                        std::function<void(std::filesystem::path)> chosen) override;
    void reveal(const std::vector<std::filesystem::path>& files,
                std::function<void()> failed) override;
    bool openUrl(const QUrl& url) override;

private:
    QWidget* panelParent() const;

    QPointer<QWidget> m_window;
};

} // namespace tavrin::app
