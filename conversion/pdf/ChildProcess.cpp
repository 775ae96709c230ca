#include "ChildProcess.h"

#include "RunCleanup.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace conversion {

namespace {

// What the child tells the parent through a pipe that closes when the program starts.
struct ChildReport {
    enum Stage : int { Isolated, Failed } stage = Isolated;
    int error = 0;
    NetworkIsolation isolation = NetworkIsolation::NotIsolated;
    const char* step = nullptr; // a literal: the child shares the parent's image until exec
};

// Everything the child needs, made before the fork: nothing may be allocated after it.
struct ChildSetup {
    const char* program;
    char* const* argv;
    char* const* envp;
    const char* log;
    pid_t parent;
    bool isolate;
    OwnIdMaps maps;
    sigset_t mask; // the parent's signal mask, which the program starts with
    int report;
};

void sendReport(int fd, const ChildReport& report) {
    [[maybe_unused]] const ssize_t written = ::write(fd, &report, sizeof report);
}

[[noreturn]] void failInChild(int fd, const char* step) {
    ChildReport report;
    report.stage = ChildReport::Failed;
    report.error = errno;
    report.step = step;
    sendReport(fd, report);
    ::_exit(127);
}

// Between fork and exec: async-signal-safe calls only.
[[noreturn]] void startInChild(const ChildSetup& s) {
    // What the parent catches is not caught here (the parent's handlers would write into its
    // own signal pipe); signals were blocked around the fork and are let through after this.
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL &&
            current.sa_handler != SIG_IGN) {
            current.sa_handler = SIG_DFL;
            current.sa_flags = 0;
            ::sigaction(signal, &current, nullptr);
        }
    }
    int report = s.report;
    if (report <= STDERR_FILENO) {
        report = ::fcntl(report, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (report < 0)
            ::_exit(127);
    }
    // A group of its own, so that ending it ends whatever the program starts.
    if (::setpgid(0, 0) != 0)
        failInChild(report, "its process group");
    if (s.isolate) {
        ChildReport isolated;
        isolated.isolation = enterOwnNetwork(s.maps, isolated.error);
        sendReport(report, isolated);
    }
    // After the namespaces: a change of credentials would clear it. A parent that is already
    // gone would never send it.
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
        failInChild(report, "its parent's death signal");
    if (::getppid() != s.parent)
        ::_exit(127);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0)
        failInChild(report, "/dev/null");
    const int output = ::open(s.log, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output < 0 || ::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0)
        failInChild(report, s.log);
    ::sigprocmask(SIG_SETMASK, &s.mask, nullptr);
    ::execve(s.program, s.argv, s.envp);
    failInChild(report, nullptr);
}

// Forks and starts the program; the child's pid, or -1 with `result` saying why.
pid_t startChild(const ChildSetup& prepared, ChildProcessResult& result) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.error = std::string("cannot start a program: ") + std::strerror(errno);
        return -1;
    }
    ChildSetup setup = prepared;
    setup.report = ends[1];
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &setup.mask);
    const pid_t child = ::fork();
    if (child == 0)
        startInChild(setup);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &setup.mask, nullptr);
    ::close(ends[1]);
    if (child < 0) {
        ::close(ends[0]);
        result.error =
            std::string("cannot start ") + setup.program + ": " + std::strerror(forkError);
        return -1;
    }
    // Made here as well, so that the group exists whichever of the two gets there first.
    ::setpgid(child, child);
    const bool noted = noteChildGroup(child);
    // The pipe closes when the program starts (or the child ends).
    ChildReport report;
    bool failed = false;
    while (true) {
        const ssize_t got = ::read(ends[0], &report, sizeof report);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != ssize_t(sizeof report))
            break;
        if (report.stage == ChildReport::Failed) {
            failed = true;
            result.error = std::string("cannot start ") + setup.program +
                           (report.step ? std::string(": ") + report.step : std::string()) + ": " +
                           std::strerror(report.error);
        } else {
            result.isolation = report.isolation;
            result.isolationError = report.error;
        }
    }
    ::close(ends[0]);
    if (failed || !noted) {
        ::kill(-child, SIGKILL);
        ::kill(child, SIGKILL);
        if (noted)
            releaseChildGroup(child);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        if (!noted)
            result.error = "the run is ending";
        return -1;
    }
    return child;
}

// Whether the child has ended, without reaping it (so its pid, the group's id, stays its own).
bool hasEnded(pid_t child) {
    siginfo_t info{};
    const int waited = ::waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT);
    return (waited == 0 && info.si_pid == child) || (waited < 0 && errno != EINTR);
}

} // namespace

namespace {

// The host's environment with `settings` ("NAME=value") over it.
std::vector<std::string> environmentWith(const std::vector<std::string>& settings) {
    std::vector<std::string> all;
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string variable = *entry;
        const bool replaced = std::any_of(settings.begin(), settings.end(), [&](const auto& s) {
            return nameOf(s) == nameOf(variable);
        });
        if (!replaced)
            all.push_back(variable);
    }
    all.insert(all.end(), settings.begin(), settings.end());
    return all;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ChildProcessResult runChildProcess(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments,
                                   const std::filesystem::path& log,
                                   const ChildProcessOptions& options) {
    ChildProcessResult result;
    std::vector<std::string> copies = arguments;
    const std::vector<char*> argv = pointersTo(copies);
    std::vector<std::string> variables = environmentWith(options.environment);
    const std::vector<char*> envp = pointersTo(variables);
    const std::string programPath = program.string();
    const std::string logPath = log.string();
    ChildSetup setup{};
    setup.program = programPath.c_str();
    setup.argv = argv.data();
    setup.envp = envp.data();
    setup.log = logPath.c_str();
    setup.parent = ::getpid();
    setup.isolate = options.network == ChildNetwork::None;
    setup.maps = ownIdMaps();
    const pid_t child = startChild(setup, result);
    if (child < 0)
        return result;

    const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    result.outcome = ChildProcessResult::Exited;
    while (!hasEnded(child)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            result.outcome = ChildProcessResult::TimedOut;
            break;
        }
        if ((options.cancelled && options.cancelled()) || runIsEnding()) {
            result.outcome = ChildProcessResult::Cancelled;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (result.outcome != ChildProcessResult::Exited && options.grace.count() > 0) {
        // Asked first, so that a helper ends the programs it started and removes its files.
        ::kill(-child, SIGTERM);
        const auto graceEnd = std::chrono::steady_clock::now() + options.grace;
        while (!hasEnded(child) && std::chrono::steady_clock::now() < graceEnd)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Whatever the child left running in its group goes with it, and is gone before this
    // returns: its files are removed next, which a process still writing would get in the way of.
    ::kill(-child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The reaped leader's id stays the group's while any member lives.
    const auto drained = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (::kill(-child, 0) == 0 && std::chrono::steady_clock::now() < drained)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    releaseChildGroup(child);
    if (result.outcome == ChildProcessResult::Exited) {
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        else
            result.outcome =
                runIsEnding() ? ChildProcessResult::Cancelled : ChildProcessResult::Signalled;
    }
    return result;
}

std::string readLogTail(const std::filesystem::path& log, std::size_t limit) {
    std::string text;
    if (FILE* file = std::fopen(log.c_str(), "r")) {
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, n);
            if (text.size() > 4 * limit)
                text.erase(0, text.size() - limit);
        }
        std::fclose(file);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.size() > limit)
        text = "..." + text.substr(text.size() - limit);
    return text;
}

} // namespace conversion
