// Runs a program to its end without QProcess. Qt 6.4's QProcess starts its child with glibc's
// clone(CLONE_VM | CLONE_VFORK); ThreadSanitizer's clone interceptor then runs its after-fork
// bookkeeping inside that child, which shares the parent's memory and thread state, and the
// parent's own bookkeeping runs as well: the calling thread is left with its interceptors
// switched off, so its later lock and unlock calls go unseen and whatever it hands to another
// thread under a mutex is reported as a race. posix_spawn() clones inside glibc, where no
// interceptor runs, so test programs that use this stay exact under ThreadSanitizer.
#include "TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    void closeRead() {
        if (read >= 0)
            ::close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
};

// Reads what is there; false once the writer is gone.
bool drain(Pipe& pipe, QByteArray& into) {
    char buffer[65536];
    const ssize_t n = ::read(pipe.read, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, n);
        return true;
    }
    if (n < 0 && errno == EINTR)
        return true;
    pipe.closeRead();
    return false;
}

} // namespace

ToolRun runProgram(const QString& program, const QStringList& args, int timeoutMs) {
    ToolRun run;
    Pipe out;
    Pipe err;
    if (!out.open() || !err.open())
        return run;
    std::vector<QByteArray> argBytes{program.toLocal8Bit()};
    for (const QString& arg : args)
        argBytes.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : argBytes)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    out.closeWrite();
    err.closeWrite();
    if (spawned != 0) {
        run.err = QStringLiteral("cannot start %1: %2")
                      .arg(program, QString::fromLocal8Bit(strerror(spawned)));
        return run;
    }

    QByteArray errBytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    while (out.read >= 0 || err.read >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (fds[0].revents != 0)
            drain(out, run.out);
        if (fds[1].revents != 0)
            drain(err, errBytes);
    }
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = !timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = QString::fromUtf8(errBytes);
    return run;
}

} // namespace testsupport
