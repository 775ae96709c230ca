#include "LibreOfficeIsolation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <thread>

namespace conversion {

namespace {

// Writer never updates links when it loads a document; and every link whose referring document
// is no trusted location (none is, in this profile) is blocked, which keeps linked pictures,
// OLE objects and sections from being read or fetched.
const char kSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\">"
    "<prop oor:name=\"BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true</value></prop>"
    "</item>\n"
    "<item oor:path=\"/org.openoffice.Office.Writer/Content/Update\">"
    "<prop oor:name=\"Link\" oor:op=\"fuse\"><value>2</value></prop></item>\n"
    "</oor:items>\n";

} // namespace

bool writeIsolatedProfile(const std::filesystem::path& profile, std::string& error) {
    const std::filesystem::path user = profile / "user";
    std::error_code ec;
    std::filesystem::create_directories(user, ec);
    if (ec) {
        error = user.string() + ": " + ec.message();
        return false;
    }
    const std::filesystem::path file = user / "registrymodifications.xcu";
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
        error = file.string() + ": " + std::strerror(errno);
        return false;
    }
    const bool complete =
        std::fwrite(kSettings, 1, sizeof kSettings - 1, out) == sizeof kSettings - 1;
    if (std::fclose(out) != 0 || !complete) {
        error = file.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

int spawnWithoutNetwork(pid_t* child, const char* program,
                        const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const argv[],
                        char* const environment[]) {
    // A network namespace belongs to the thread that makes it, and a spawned program inherits
    // its parent thread's: a short-lived thread makes one and starts the program in it, and
    // the caller's threads keep the network they had.
    int result = 0;
    std::thread spawner([&] {
        (void)::unshare(CLONE_NEWNET);
        result = ::posix_spawn(child, program, actions, attributes, argv, environment);
    });
    spawner.join();
    return result;
}

} // namespace conversion
