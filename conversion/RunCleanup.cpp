#include "RunCleanup.h"

#include "OutputFile.h"

#include <csignal>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace conversion {

namespace {

struct Lists {
    std::mutex lock;
    std::set<pid_t> groups;
    std::map<std::uint64_t, std::filesystem::path> paths;
    std::uint64_t nextTicket = 1;
    bool ending = false;
};

Lists& lists() {
    static Lists* made = new Lists; // never destroyed: a signal thread may use it at exit
    return *made;
}

} // namespace

bool noteChildGroup(pid_t group) {
    Lists& l = lists();
    const std::lock_guard<std::mutex> guard(l.lock);
    if (l.ending)
        return false;
    l.groups.insert(group);
    return true;
}

void releaseChildGroup(pid_t group) {
    Lists& l = lists();
    const std::lock_guard<std::mutex> guard(l.lock);
    l.groups.erase(group);
}

bool runIsEnding() {
    Lists& l = lists();
    const std::lock_guard<std::mutex> guard(l.lock);
    return l.ending;
}

void awaitEndOfRun() {
    while (runIsEnding())
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

std::uint64_t removeIfRunEnds(const std::filesystem::path& path) {
    Lists& l = lists();
    const std::lock_guard<std::mutex> guard(l.lock);
    const std::uint64_t ticket = l.nextTicket++;
    l.paths.emplace(ticket, path);
    return ticket;
}

void forgetIfRunEnds(std::uint64_t ticket) {
    Lists& l = lists();
    const std::lock_guard<std::mutex> guard(l.lock);
    l.paths.erase(ticket);
}

void endRunForTermination(std::chrono::milliseconds grace) {
    Lists& l = lists();
    {
        const std::lock_guard<std::mutex> guard(l.lock);
        l.ending = true;
        // Under the lock: a noted group still exists, so the id is still its.
        for (pid_t group : l.groups)
            ::kill(-group, SIGTERM);
    }
    // The threads that wait for the children reap them and release their groups.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            const std::lock_guard<std::mutex> guard(l.lock);
            if (l.groups.empty())
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::filesystem::path> paths;
    {
        const std::lock_guard<std::mutex> guard(l.lock);
        for (pid_t group : l.groups)
            ::kill(-group, SIGKILL);
        for (const auto& [ticket, path] : l.paths)
            paths.push_back(path);
    }
    for (const std::filesystem::path& path : paths)
        removeCompletely(path);
    removeOwnTemporaries();
}

} // namespace conversion
