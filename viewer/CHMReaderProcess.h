// The reader's side of a book's reading process: starts the program (`lumeno-chm-reader`) on
// an open file and asks it for objects.
//
// One process per open book, started with posix_spawn (the reader is multi-threaded) with only
// the book's descriptor, one end of a socket pair, standard error and a minimal environment.
// Each request waits for its answer; the caller serialises them (CHMDocument's lock). A walk
// over the container in storage order is read ahead (CHMReadAhead), the next batch asked for
// before it is needed, so at most one answer is outstanding besides the one awaited. Every
// answer is checked as untrusted input. Once the process has died, been silent too long, or
// broken the protocol it is killed, `isLost()` is true and every request answers as missing.
#pragma once

#include "CHMContainerLayout.h"
#include "CHMOpenFailure.h"
#include "CHMReadAhead.h"
#include "CHMReaderProtocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>
#include <vector>

class CHMReaderProcess {
public:
    ~CHMReaderProcess();
    CHMReaderProcess(const CHMReaderProcess&) = delete;
    CHMReaderProcess& operator=(const CHMReaderProcess&) = delete;

    // The program's path: $LUMENO_CHM_READER, else beside the running executable, else in
    // "<executable's folder>/../libexec/lumeno"; empty when none of them exists.
    static QString programPath();

    // Starts the program on the open file `bookFd` (which the caller keeps) and waits for its
    // opening answer. Null with `failure` set when the program cannot be found or started, or
    // when it refuses the file. `extraArguments` and `standardOutput` (a descriptor, -1 for
    // /dev/null) are for tests of the program itself.
    static std::unique_ptr<CHMReaderProcess> start(int bookFd, CHMOpenFailure* failure,
                                                   const QStringList& extraArguments = {},
                                                   int standardOutput = -1);

    // Every object the container's directory lists.
    const std::vector<CHMObjectEntry>& objects() const { return m_objects; }
    // As CHMContainerReader's; null/false when the process answers so or is lost.
    QByteArray content(const QString& path);
    // At most `length` bytes of the object from `offset` on.
    QByteArray content(const QString& path, quint64 offset, quint64 length);
    bool exist(const QString& path);
    QByteArray contentOfEntry(const CHMObjectEntry& entry);

    bool isLost() const { return m_lost; }
    // Kills the process and answers every later request as missing (its death was seen).
    void markLost() { lose(); }
    pid_t pid() const { return m_pid; }
    // A descriptor that turns readable when the process ends (-1 where the system has none).
    int exitWatch() const { return m_pidFd; }

    // How long the process may stay silent while an answer is awaited (a whole object of the
    // largest size decodes in a few seconds).
    static constexpr int kAnswerTimeoutMs = 30000;

private:
    CHMReaderProcess(pid_t pid, int socket);
    // Sends one request and takes its answer; null when the process is lost (it is then).
    std::optional<chmreader::Message> ask(chmreader::Type type, const QByteArray& payload);
    QByteArray askObject(chmreader::Type type, const QByteArray& payload);
    void lose();
    // Asks for what a walk reads next without waiting for it, when the read-ahead says so.
    void sendAhead();
    // Takes the answer to the request sendAhead made, if any (before any other answer).
    void collectAhead();

    pid_t m_pid;
    int m_pidFd = -1;
    chmreader::Channel m_channel;
    std::vector<CHMObjectEntry> m_objects;
    bool m_lost = false;
    CHMReadAhead m_readAhead{m_objects};
    std::vector<CHMObjectEntry> m_inFlight; // asked for by sendAhead, answer not yet read
};
