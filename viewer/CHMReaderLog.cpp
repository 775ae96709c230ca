#include "CHMReaderLog.h"

#include "LumenoLogging.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

CHMReaderLog::CHMReaderLog(int readEnd, QString bookName)
    : m_readEnd(readEnd), m_bookName(std::move(bookName)) {
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { run(); });
}

CHMReaderLog::~CHMReaderLog() {
    finish();
    for (int fd : {m_readEnd, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void CHMReaderLog::finish() {
    if (!m_thread.joinable())
        return;
    if (m_wake[1] >= 0) {
        const char stop = 1;
        while (::write(m_wake[1], &stop, 1) < 0 && errno == EINTR) {
        }
    }
    m_thread.join();
}

void CHMReaderLog::run() {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_readEnd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0) {
            const ssize_t got = ::read(m_readEnd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            take(buffer, got);
            continue;
        }
        if (fds[1].revents != 0) {
            // The process has ended: everything it wrote is in the pipe now.
            ::fcntl(m_readEnd, F_SETFL, ::fcntl(m_readEnd, F_GETFL) | O_NONBLOCK);
            ssize_t got = 0;
            while ((got = ::read(m_readEnd, buffer, sizeof buffer)) > 0 ||
                   (got < 0 && errno == EINTR)) {
                if (got > 0)
                    take(buffer, got);
            }
            break;
        }
    }
    if (!m_line.isEmpty() || m_lineCut)
        logLine(m_line);
}

void CHMReaderLog::take(const char* bytes, qsizetype length) {
    for (qsizetype i = 0; i < length; ++i) {
        if (bytes[i] == '\n') {
            logLine(m_line);
            m_line.clear();
            m_lineCut = false;
        } else if (m_line.size() < kMaxLineBytes) {
            m_line.append(bytes[i]);
        } else {
            m_lineCut = true;
        }
    }
}

void CHMReaderLog::logLine(const QByteArray& line) {
    if (m_saidEnough)
        return;
    if (m_logged + line.size() > kMaxLoggedBytes) {
        m_saidEnough = true;
        qCWarning(lcContainer).noquote()
            << QStringLiteral("the reading process of %1 wrote more; the rest is not logged")
                   .arg(logSafe(m_bookName));
        return;
    }
    m_logged += line.size();
    qCWarning(lcContainer).noquote()
        << QStringLiteral("reading process of %1: %2")
               .arg(logSafe(m_bookName), logSafe(QString::fromUtf8(line)));
}
