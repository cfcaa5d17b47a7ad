#pragma once

#include "Desktop.h"

#include <optional>

namespace tavrin::test {

/// A desktop whose panels answer with what the test put in them (nothing: the user cancels) and
/// which remembers what it was asked; with `canOpen` false, no browser or file manager answers.
class ScriptedDesktop : public app::Desktop {
public:
    std::optional<std::vector<std::filesystem::path>> files;
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> saveAs;
    std::optional<std::filesystem::path> openFile;
    bool canOpen = true;

    QString lastSuggestedName;
    std::filesystem::path lastStartFolder; ///< where the last panel opened
    std::vector<std::vector<std::filesystem::path>> revealed;
    std::vector<QUrl> opened;

    void chooseFiles(const QString&, const QString&, const std::filesystem::path& startFolder,
                     std::function<void(std::vector<std::filesystem::path>)> chosen) override {
        lastStartFolder = startFolder;
        if (files)
            chosen(*files);
    }
    void chooseFolder(const QString&, const QString&, const std::filesystem::path& startFolder,
                      std::function<void(std::filesystem::path)> chosen) override {
        lastStartFolder = startFolder;
        if (folder)
            chosen(*folder);
    }
    void chooseSaveFile(const QString&, const std::filesystem::path& startFolder,
                        const QString& suggestedName, const app::FileType&,
                        std::function<void(std::filesystem::path)> chosen) override {
        lastStartFolder = startFolder;
        lastSuggestedName = suggestedName;
        if (saveAs)
            chosen(*saveAs);
    }
    void chooseOpenFile(const QString&, const std::filesystem::path& startFolder,
                        const app::FileType&,
                        std::function<void(std::filesystem::path)> chosen) override {
        lastStartFolder = startFolder;
        if (openFile)
            chosen(*openFile);
    }
    void reveal(const std::vector<std::filesystem::path>& paths,
                std::function<void()> failed) override {
        revealed.push_back(paths);
        if (!canOpen)
            failed();
    }
    bool openUrl(const QUrl& url) override {
        opened.push_back(url);
        return canOpen;
    }
};

} // namespace tavrin::test
