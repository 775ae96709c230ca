#include "SingleInstance.h"

#include "LumenoLogging.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <memory>
#include <unistd.h>

namespace {

// The most a sender may send: many paths, but not an endless stream.
constexpr qint64 kMaxMessageBytes = 1 << 20;

} // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent), m_key(key) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverNameForUser() {
    // In the user's own runtime folder (XDG_RUNTIME_DIR, or the private folder Qt makes in its
    // place), not in the shared temporary folder: there another user could take the name first
    // and be sent the paths of every book opened, and every session of one user would share it.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/lumeno-plus");
    return QStringLiteral("lumeno-plus-%1").arg(::getuid());
}

bool SingleInstance::sendToRunning(const QStringList& paths) const {
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    QByteArray message;
    for (const QString& path : paths) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        // A line break inside a name would split it: such a name goes as it is, cut there.
        message += absolute.section(QLatin1Char('\n'), 0, 0).toUtf8() + '\n';
    }
    message += '\n';
    socket.write(message);
    if (!socket.waitForBytesWritten(kTimeoutMs))
        return false;
    // The running reader answers once it has the files.
    if (!socket.waitForReadyRead(kTimeoutMs))
        return false;
    return socket.readAll().startsWith("ok");
}

bool SingleInstance::listen() {
    if (m_server)
        return true;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_key)) {
        // Nobody answered sendToRunning: the socket is a crashed reader's leftover.
        QLocalServer::removeServer(m_key);
        if (!server->listen(m_key)) {
            qCWarning(lcWindow) << "files given to a second start will open in a second reader:"
                                << server->errorString();
            delete server;
            return false;
        }
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    return true;
}

void SingleInstance::acceptConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // Never deleted at once: the sender may go while one of the socket's own signals runs.
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            *buffer += socket->readAll();
            if (buffer->size() > kMaxMessageBytes) {
                qCWarning(lcWindow) << "a message of a second start was too long; dropped";
                socket->abort();
                return;
            }
            // The message ends with an empty line.
            if (!buffer->endsWith("\n\n") && *buffer != "\n")
                return;
            QStringList paths;
            for (const QByteArray& line : buffer->split('\n')) {
                if (!line.isEmpty())
                    paths << QString::fromUtf8(line);
            }
            buffer->clear();
            socket->write("ok\n");
            socket->flush();
            // Delivered from the event loop, not from inside this signal of the socket: opening
            // the files may show a message (an event loop of its own) while the sender goes
            // away and its socket is deleted.
            QMetaObject::invokeMethod(
                this, [this, paths] { emit filesReceived(paths); }, Qt::QueuedConnection);
        });
    }
}
