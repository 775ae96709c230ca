#include "SingleInstance.h"

#include "LumenoLogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The most a sender may send: many paths, but not an endless stream.
constexpr qint64 kMaxMessageBytes = 1 << 20;
constexpr char kSocketName[] = "lumeno-plus";

// Whether the process at the other end of the connected socket runs as this user.
bool peerIsThisUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return descriptor >= 0 &&
           ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
           length == sizeof credentials && credentials.uid == ::geteuid();
}

// The folder made for the socket in the temporary folder, or empty when it cannot be had.
QString privateTemporaryFolder() {
    const QString folder = QDir::tempPath() + QStringLiteral("/lumeno-plus-%1").arg(::geteuid());
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        qCWarning(lcWindow).noquote()
            << "no folder for the single-instance socket:" << folder << std::strerror(errno);
        return {};
    }
    if (!SingleInstance::isPrivateFolder(folder)) {
        qCWarning(lcWindow).noquote()
            << folder << "is not a folder of this user's own that only this user may enter";
        return {};
    }
    return folder;
}

} // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent) : QObject(parent), m_key(key) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::isPrivateFolder(const QString& path) {
    struct stat info {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0 &&
           (info.st_mode & S_IRWXU) == S_IRWXU;
}

QString SingleInstance::serverNameForUser() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString folder;
    if (isPrivateFolder(runtime))
        folder = runtime;
    else {
        if (!runtime.isEmpty())
            qCInfo(lcWindow).noquote()
                << "XDG_RUNTIME_DIR" << runtime << "is not this user's private folder";
        folder = privateTemporaryFolder();
    }
    if (folder.isEmpty()) {
        qCWarning(lcWindow) << "no private folder for the single-instance socket: files given to"
                               " a second start open in a second reader";
        return {};
    }
    return folder + QLatin1Char('/') + QLatin1String(kSocketName);
}

bool SingleInstance::sendToRunning(const QStringList& paths) const {
    if (m_key.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    if (!peerIsThisUser(socket.socketDescriptor())) {
        qCWarning(lcWindow).noquote()
            << "the single-instance socket" << m_key << "is held by another user; not used";
        socket.abort();
        return false;
    }
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
    if (m_key.isEmpty())
        return false;
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
        if (!peerIsThisUser(socket->socketDescriptor())) {
            qCWarning(lcWindow) << "a connection from another user to the single-instance "
                                   "socket was dropped";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (m_connections >= kMostConnections) {
            qCWarning(lcWindow) << "too many connections to the single-instance socket; one "
                                   "was dropped";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        // Never deleted at once: the sender may go while one of the socket's own signals runs.
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The whole message comes at once from a real sender: a connection that keeps quiet or
        // drips is closed.
        QTimer::singleShot(kMessageDeadlineMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
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
            socket->disconnectFromServer();
            // Delivered from the event loop, not from inside this signal of the socket: opening
            // the files may show a message (an event loop of its own) while the sender goes
            // away and its socket is deleted.
            QMetaObject::invokeMethod(
                this, [this, paths] { emit filesReceived(paths); }, Qt::QueuedConnection);
        });
    }
}
