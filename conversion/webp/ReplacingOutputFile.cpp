#include "ReplacingOutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process's file creation mask, read without changing it (umask() would, and another
// thread may be creating files at the same time).
mode_t currentUmask() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = mode_t(std::strtoul(line + 6, nullptr, 8));
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

} // namespace

ReplacingOutputFile::~ReplacingOutputFile() {
    abandon();
}

FILE* ReplacingOutputFile::open(const char* targetPath) {
    abandon();
    if (!targetPath || !*targetPath) {
        errno = EINVAL;
        return nullptr;
    }
    m_target = targetPath;
    if (m_target == "-") {
        m_file = stdout;
        return m_file;
    }
    struct stat info;
    if (::lstat(targetPath, &info) == 0 && S_ISLNK(info.st_mode)) {
        // Replace the file the link points to, and keep the link.
        if (char* resolved = ::realpath(targetPath, nullptr)) {
            m_target = resolved;
            std::free(resolved);
        }
        targetPath = m_target.c_str();
    }
    if (::stat(targetPath, &info) == 0 && !S_ISREG(info.st_mode)) {
        m_file = std::fopen(targetPath, "wb");
        return m_file;
    }
    const std::size_t slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    std::string pattern =
        (slash == std::string::npos ? std::string() : folder) + "." + name + ".part-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return nullptr;
    // mkstemp creates the file private; the result gets the mode of an existing target, or what
    // a plain fopen would have given it.
    const mode_t mode =
        ::stat(targetPath, &info) == 0 ? (info.st_mode & 07777) : (0666 & ~currentUmask());
    (void)::fchmod(fd, mode);
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        const int saved = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        errno = saved;
        return nullptr;
    }
    m_temporary = pattern;
    return m_file;
}

bool ReplacingOutputFile::commit() {
    if (!m_file)
        return false;
    bool ok = std::fflush(m_file) == 0 && !std::ferror(m_file);
    if (m_file == stdout) {
        m_file = nullptr;
        return ok;
    }
    // No fsync: the rename protects the target against a failed write, which is the fault at
    // hand; durability across a power cut is left to the file system, as cwebp and dwebp do.
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (!m_temporary.empty()) {
        if (ok)
            ok = std::rename(m_temporary.c_str(), m_target.c_str()) == 0;
        if (!ok)
            ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    return ok;
}

void ReplacingOutputFile::abandon() {
    if (m_file && m_file != stdout)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}
