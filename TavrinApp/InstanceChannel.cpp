#include "InstanceChannel.h"

#include "Paths.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace tavrin::app {

namespace {
constexpr int timeoutMs = 2000;
} // namespace

QString InstanceChannel::defaultName() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + "/tavrin-" + QString::fromLocal8Bit(qgetenv("USER")) + ".socket";
}

bool InstanceChannel::handOver(const QString& name,
                               const std::vector<std::filesystem::path>& files) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    for (const auto& file : files)
        message += QByteArray(file.c_str()) + '\0';
    socket.write(message);
    socket.disconnectFromServer(); // sends what is left, then closes
    return socket.state() == QLocalSocket::UnconnectedState ||
           socket.waitForDisconnected(timeoutMs);
}

InstanceChannel::InstanceChannel(const QString& name, FilesHandler received, QObject* parent)
    : QObject(parent), m_received(std::move(received)) {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(name)) {
        QLocalServer::removeServer(name); // left by a copy that crashed
        m_server.listen(name);
    }
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
}

void InstanceChannel::accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            std::vector<std::filesystem::path> files;
            for (const QByteArray& part : socket->readAll().split('\0'))
                if (!part.isEmpty())
                    files.emplace_back(part.toStdString());
            socket->deleteLater();
            m_received(std::move(files));
        });
    }
}

} // namespace tavrin::app
