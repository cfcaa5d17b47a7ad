#pragma once

#include <QLocalServer>
#include <QObject>
#include <filesystem>
#include <functional>
#include <vector>

namespace tavrin::app {

/// Keeps Tavrin to one running copy: a second launch hands its files to the first over a local
/// socket and exits. Paths travel as the file system's bytes, each ended by a NUL.
class InstanceChannel : public QObject {
    Q_OBJECT

public:
    using FilesHandler = std::function<void(std::vector<std::filesystem::path>)>;

    /// The socket for this user's session.
    static QString defaultName();
    /// Gives `files` (maybe none) to the copy listening on `name`; false when none is.
    static bool handOver(const QString& name, const std::vector<std::filesystem::path>& files);

    /// Listens on `name`, taking it over from a copy that ended without closing it, and calls
    /// `received` once per launch that hands files over.
    InstanceChannel(const QString& name, FilesHandler received, QObject* parent = nullptr);
    bool isListening() const { return m_server.isListening(); }

private:
    void accept();

    QLocalServer m_server;
    FilesHandler m_received;
};

} // namespace tavrin::app
