#include "ChildProcess.h"

#include "LibreOfficeIsolation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace conversion {

ChildProcessResult runChildProcess(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments,
                                   const std::filesystem::path& log,
                                   std::chrono::milliseconds timeLimit,
                                   const std::function<bool()>& cancelled, ChildNetwork network) {
    ChildProcessResult result;
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so that the time limit ends whatever the child started with it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = -1;
    const int spawnError =
        network == ChildNetwork::None
            ? spawnWithoutNetwork(&child, program.c_str(), &actions, &attributes, argv.data(),
                                  environ)
            : posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0) {
        result.error = "cannot start " + program.string() + ": " + std::strerror(spawnError);
        return result;
    }

    // The child is looked at without being reaped, so its process id (the group's id) cannot
    // be reused while its group is killed.
    const auto deadline = std::chrono::steady_clock::now() + timeLimit;
    result.outcome = ChildProcessResult::Exited;
    while (true) {
        siginfo_t info{};
        const int waited = ::waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT);
        if (waited == 0 && info.si_pid == child)
            break;
        if (waited < 0 && errno != EINTR)
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            result.outcome = ChildProcessResult::TimedOut;
            break;
        }
        if (cancelled && cancelled()) {
            result.outcome = ChildProcessResult::Cancelled;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Whatever the child left running in its group goes with it.
    ::kill(-child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (result.outcome == ChildProcessResult::Exited) {
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        else
            result.outcome = ChildProcessResult::Signalled;
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
