// One reader per user: a second "lumeno FILE" hands its files to the reader that runs already
// and ends, as desktop applications do, so that one process and one settings file serve them.
//
// The first process listens on a local socket whose name is made of the application's name and
// the user's id (so users never reach each other's reader); later processes connect, send the
// files' absolute paths (one UTF-8 line each, then an empty line) and wait for the running
// reader to confirm. A socket left behind by a reader that crashed is removed and taken over.
// GUI thread (it uses the event loop); a sender blocks for at most kTimeoutMs.
#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 3000;

    // key: the socket's name; serverNameForUser() unless a test gives its own.
    explicit SingleInstance(const QString& key = serverNameForUser(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString serverNameForUser();

    // Hands the files to a running reader; true when one took them (this process may end).
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
};
