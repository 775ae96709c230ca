// What a book's reading process writes to its standard error, carried into the reader's log.
//
// The process runs chmlib on an untrusted file, so what it writes is untrusted too: it never
// reaches the user's terminal as it stands. The log owns the reading end of the process's
// standard error (a pipe) and reads it on a thread of its own, which never blocks the reader:
// each line goes to the "lumeno.container" category as a warning, through logSafe() (control
// characters and escape sequences shown as text, the line cut short), and no more than
// kMaxLoggedBytes are logged for one process; what comes after is read and dropped, so the
// process never waits on a full pipe. A sanitizer's report of a dying process is logged whole
// (within that bound): `finish()` reads what the process wrote up to its end.
//
// Thread: made and finished by the process's owner; the reading thread touches nothing else.
#pragma once

#include <QByteArray>
#include <QString>
#include <thread>

class CHMReaderLog {
public:
    // Takes `readEnd` (closed when the log goes); `bookName` names the process in each line.
    CHMReaderLog(int readEnd, QString bookName);
    ~CHMReaderLog();
    CHMReaderLog(const CHMReaderLog&) = delete;
    CHMReaderLog& operator=(const CHMReaderLog&) = delete;

    // Once the process has ended: logs what is still in the pipe and stops the thread. Whoever
    // else holds the pipe's writing end (nothing should) cannot keep it waiting.
    void finish();

    static constexpr qsizetype kMaxLoggedBytes = 64 * 1024;
    // A longer line is logged cut at this length (logSafe cuts the shown text further).
    static constexpr qsizetype kMaxLineBytes = 1024;

private:
    void run();
    // Takes in what was read: logs each whole line.
    void take(const char* bytes, qsizetype length);
    void logLine(const QByteArray& line);

    int m_readEnd;
    int m_wake[2] = {-1, -1}; // written by finish(): the process is gone, drain and stop
    QString m_bookName;
    QByteArray m_line;      // the line being read, up to kMaxLineBytes
    bool m_lineCut = false; // the line went on past what m_line holds
    qsizetype m_logged = 0; // bytes of lines logged so far
    bool m_saidEnough = false;
    std::thread m_thread; // last: started once everything above exists
};
