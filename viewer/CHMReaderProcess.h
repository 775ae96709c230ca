// The reader's side of a book's reading process: starts the program (`lumeno-chm-reader`) on
// an open file and asks it for objects.
//
// One process per open book, started with posix_spawn (the reader is multi-threaded) with only
// the book's descriptor, one end of a socket pair, a pipe for its standard error (read into the
// log by CHMReaderLog, never passed to the terminal) and a minimal environment.
// Each request waits for its answer; the caller serialises them (CHMDocument's lock). A walk
// over the container in storage order is read ahead (CHMReadAhead), the next batch asked for
// before it is needed, so at most one answer is outstanding besides the one awaited. Every
// answer is checked as untrusted input and has one deadline for the whole of it. Once the
// process has died, missed a deadline, or broken the protocol it is killed, `isLost()` is true
// and every request answers as missing.
//
// Threads: the requests run on whichever thread holds the caller's lock. `isLost`, `markLost`,
// `interrupt` and `pid` may be called from any thread without it; `reap` from the owner's.
#pragma once

#include "CHMContainerLayout.h"
#include "CHMOpenFailure.h"
#include "CHMReadAhead.h"
#include "CHMReaderLog.h"
#include "CHMReaderProtocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
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

    bool isLost() const { return m_lost.load(); }
    // Kills the process and answers every later request as missing (its death was seen).
    void markLost() { lose(); }
    // Ends the wait of a request in progress at once (it answers as missing) and makes the
    // process lost: for an owner that is going away and must not wait for an answer.
    void interrupt();
    pid_t pid() const { return m_pid; }
    // A descriptor that turns readable when the process ends (-1 where the system has none).
    int exitWatch() const { return m_pidFd; }
    // Once the exit watch has turned readable: collects the process's exit status, so that it
    // does not stay a zombie while its owner lives on, and logs the last of what it wrote.
    // True once it is collected.
    bool reap();

    // How long one whole answer may take (a whole object of the largest size decodes in a few
    // seconds). LUMENO_CHM_READER_DEADLINE_MS, read when a process starts, shortens it (tests).
    static constexpr int kAnswerTimeoutMs = 30000;

private:
    CHMReaderProcess(pid_t pid, int socket, int errorPipe, const QString& bookName);
    // Sends one request and takes its answer (of at most `maxAnswer` bytes); null when the
    // process is lost (it is then).
    std::optional<chmreader::Message> ask(chmreader::Type type, const QByteArray& payload,
                                          quint32 maxAnswer = chmreader::kMaxMessageLength);
    QByteArray askObject(chmreader::Type type, const QByteArray& payload,
                         quint32 maxAnswer = chmreader::kMaxMessageLength);
    void lose();
    void kill();
    // Asks for what a walk reads next without waiting for it, when the read-ahead says so.
    void sendAhead();
    // Takes the answer to the request sendAhead made, if any (before any other answer).
    void collectAhead();

    pid_t m_pid;
    int m_pidFd = -1;
    std::atomic<bool> m_reaped = false; // only where m_pidFd names the process for sure
    int m_deadlineMs = kAnswerTimeoutMs;
    chmreader::Channel m_channel;
    std::unique_ptr<CHMReaderLog> m_log;
    std::vector<CHMObjectEntry> m_objects;
    std::atomic<bool> m_lost = false;
    CHMReadAhead m_readAhead{m_objects};
    std::vector<CHMObjectEntry> m_inFlight; // asked for by sendAhead, answer not yet read
};
