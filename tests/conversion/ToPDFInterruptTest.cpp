// A documents-to-pdf run ended from outside while LibreOffice works for it: interrupted (Ctrl-C)
// it ends its helpers and removes its files before it goes; killed, its helpers go with it and
// remove theirs. Processes are followed through /proc.
#include "OutputFile.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

const std::string kConvtool = LUMENO_CONVTOOL;

// The parent of a process, or 0 when it is gone or a zombie.
pid_t liveParentOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return 0;
    // "pid (name) state ppid ...": the name may hold anything but ends at the last ')'.
    const std::size_t close = line.rfind(')');
    char state = 0;
    int parent = 0;
    if (close == std::string::npos ||
        std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) != 2 || state == 'Z')
        return 0;
    return parent;
}

// Every live process below `root`.
std::set<pid_t> descendantsOf(pid_t root) {
    std::set<pid_t> found = {root};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            const pid_t pid = pid_t(std::stol(name));
            if (!found.count(pid) && found.count(liveParentOf(pid))) {
                found.insert(pid);
                grew = true;
            }
        }
    }
    found.erase(root);
    return found;
}

// The name a process runs under.
std::string commandOf(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool anyAlive(const std::set<pid_t>& pids) {
    for (pid_t pid : pids)
        if (liveParentOf(pid) != 0)
            return true;
    return false;
}

// Runs documents-to-pdf on an RTF document (laid out through LibreOffice) with its temporary
// files in `temporary`, waits until LibreOffice's own program runs below it, sends `signal`
// to convtool and answers the processes that were below it then. `status` gets convtool's.
std::set<pid_t> endWhileLibreOfficeWorks(const fs::path& dir, const fs::path& temporary, int signal,
                                         int& status) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("TMPDIR", temporary.c_str(), 1);
        ::chdir(dir.c_str());
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        ::execl(kConvtool.c_str(), kConvtool.c_str(), "documents-to-pdf", "out/letter.pdf",
                "letter.rtf", nullptr);
        ::_exit(127);
    }
    std::set<pid_t> below;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool working = false;
    while (!working && std::chrono::steady_clock::now() < deadline) {
        below = descendantsOf(child);
        for (pid_t pid : below)
            working = working || commandOf(pid) == "soffice.bin";
        if (!working)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(child, signal);
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(working) << "LibreOffice never started";
    return below;
}

// Waits up to a few seconds for the processes to be gone.
bool allGone(const std::set<pid_t>& pids) {
    for (int i = 0; i < 250 && anyAlive(pids); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !anyAlive(pids);
}

} // namespace

TEST(ToPDFInterrupt, EndedOrKilledRunTakesItsHelpersWithItAndLeavesNoFile) {
    const fs::path dir = imagetest::freshDir("interrupted");
    const fs::path temporary = dir / "tmp";
    fs::create_directories(dir / "out");
    fs::create_directories(temporary);
    std::ofstream(dir / "letter.rtf")
        << "{\\rtf1\\ansi A letter laid out through LibreOffice\\par}";
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal);
        int status = 0;
        const std::set<pid_t> helpers = endWhileLibreOfficeWorks(dir, temporary, signal, status);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << "exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        EXPECT_GE(helpers.size(), 2u) << "the layout helper and LibreOffice";
        EXPECT_TRUE(allGone(helpers)) << "a helper outlived the run";
        // Killed, the run leaves its own claimed files to the next run into the folder, which
        // finds no one holding them; the print the layout helper was making was the helper's to
        // remove.
        if (signal == SIGKILL) {
            for (const std::string& name : imagetest::listFolder(dir / "out"))
                EXPECT_TRUE(name.starts_with(".lumeno-") && name.ends_with(".part")) << name;
            conversion::removeAbandonedTemporaries(dir / "out");
            EXPECT_EQ(imagetest::listFolder(dir / "out"), std::vector<std::string>{});
            continue;
        }
        EXPECT_EQ(imagetest::listFolder(dir / "out"), std::vector<std::string>{});
        // LibreOffice's own temporary files included (Qt's runtime folder may be made there).
        std::vector<std::string> left = imagetest::listFolder(temporary);
        std::erase_if(left, [](const std::string& n) { return n.rfind("runtime-", 0) == 0; });
        EXPECT_EQ(left, std::vector<std::string>{});
    }
}
