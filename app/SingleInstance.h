// One reader per user: a second "lumeno FILE" hands its files to the reader that runs already
// and ends, as desktop applications do, so that one process and one settings file serve them.
//
// The first process listens on a local socket in a folder of the user's own: XDG_RUNTIME_DIR,
// else a folder made for it in the temporary folder; either is used only when lstat finds a
// directory (not a link) that the user owns and nobody else may enter (mode 0700). Where there
// is none, the reader runs without a single instance and says so in the log: a socket at a name
// in a shared folder could be taken first by another user, who would then be sent the paths of
// the books opened. Later processes connect, send the files' absolute paths (one UTF-8 line
// each, then an empty line) and wait for the running reader to confirm. Both sides check the
// peer's user (SO_PEERCRED) and drop anyone else. A connection that has not sent its whole
// message within kMessageDeadlineMs is closed, and at most kMostConnections are served at once.
// A socket left behind by a reader that crashed is removed and taken over.
// GUI thread (it uses the event loop); a sender blocks for at most kTimeoutMs per step.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 3000;
    static constexpr int kMessageDeadlineMs = 3000;
    static constexpr int kMostConnections = 64;

    // key: the socket's path; serverNameForUser() unless a test gives its own. An empty key
    // makes an instance that never hands over and never listens.
    explicit SingleInstance(const QString& key = serverNameForUser(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket's path in the user's private folder, or empty (logged) when there is none.
    static QString serverNameForUser();
    // Whether `path` is a directory, not a symbolic link, that this user owns and nobody else
    // may enter.
    static bool isPrivateFolder(const QString& path);

    // Hands the files to a running reader of this user; true when one took them (this process
    // may end).
    bool sendToRunning(const QStringList& paths) const;
    // Becomes the running reader; false (logged) when the socket cannot be made.
    bool listen();

signals:
    // Files another process handed over (absolute paths; possibly none: just come forward).
    // Emitted from the event loop once the whole message is in, never from inside a socket's
    // signal, so a receiver may run an event loop of its own (a message box).
    void filesReceived(const QStringList& paths);

private:
    void acceptConnection();

    QString m_key;
    QLocalServer* m_server = nullptr;
    int m_connections = 0;
};
