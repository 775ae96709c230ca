#include "LibreOfficeIsolation.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

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

OwnIdMaps ownIdMaps() {
    OwnIdMaps maps{};
    std::snprintf(maps.uidMap, sizeof maps.uidMap, "%u %u 1\n", unsigned(::getuid()),
                  unsigned(::getuid()));
    std::snprintf(maps.gidMap, sizeof maps.gidMap, "%u %u 1\n", unsigned(::getgid()),
                  unsigned(::getgid()));
    return maps;
}

namespace {

// Writes the whole text to a file of /proc/self; false when it cannot.
bool writeProcFile(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::size_t length = std::strlen(text);
    const bool written = ::write(fd, text, length) == ssize_t(length);
    return ::close(fd) == 0 && written;
}

} // namespace

NetworkIsolation enterOwnNetwork(const OwnIdMaps& maps, int& error) {
    if (::unshare(CLONE_NEWNET) == 0)
        return NetworkIsolation::OwnNamespace;
    // Without the privilege a user namespace of its own grants it; the ids stay the caller's, so
    // the files it reads and writes are owned as before. The group list cannot be mapped and is
    // refused ("deny"), as the kernel asks before an unprivileged gid map.
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0) {
        // Should a map be refused, the process is still without a network: its ids then show as
        // the overflow ids inside, while the kernel checks file access by the real ones.
        if (writeProcFile("/proc/self/uid_map", maps.uidMap) &&
            writeProcFile("/proc/self/setgroups", "deny"))
            writeProcFile("/proc/self/gid_map", maps.gidMap);
        return NetworkIsolation::UserNamespace;
    }
    error = errno;
    return NetworkIsolation::NotIsolated;
}

} // namespace conversion
