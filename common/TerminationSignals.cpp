#include "TerminationSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_writeEnd = -1;

void noteSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // Nothing else is safe here; a full pipe drops the byte, and one byte is enough.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &number, 1);
    errno = saved;
}

} // namespace

namespace TerminationSignals {

bool install(std::function<void(int signal)> onSignal) {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true))
        return false;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "No pipe for the termination signals: %s\n", std::strerror(errno));
        return false;
    }
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    g_writeEnd = ends[1];
    std::thread([readEnd = ends[0], onSignal = std::move(onSignal)] {
        for (;;) {
            unsigned char number = 0;
            const ssize_t got = ::read(readEnd, &number, 1);
            if (got == 1)
                onSignal(number);
            else if (got == 0 || errno != EINTR)
                return;
        }
    }).detach();
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
    return true;
}

void dieOf(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal); // a signal whose default is not to end the process
}

} // namespace TerminationSignals
