#include "PendingOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace conversion {

namespace {

constexpr int kMostNumberedNames = 100000;

// The process's file creation mask, read without changing it (another thread may be creating
// files while umask() is swapped).
mode_t creationMask() {
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

std::string describe(const std::filesystem::path& path, int error) {
    return path.string() + ": " + std::strerror(error);
}

// Renames without replacing; where the file system cannot do that in one step, a hard link
// (files) or a check before the rename (folders) stands in.
int renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                           bool isFolder) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (!isFolder) {
        if (::link(from.c_str(), to.c_str()) != 0)
            return errno;
        ::unlink(from.c_str());
        return 0;
    }
    struct stat info;
    if (::lstat(to.c_str(), &info) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

std::string NumberedFileName(const std::string& name, const std::string& extension, int number) {
    std::string fileName = name;
    if (number > 0)
        fileName += " " + std::to_string(number);
    if (!extension.empty())
        fileName += "." + extension;
    return fileName;
}

PendingOutput::~PendingOutput() {
    discard();
}

void PendingOutput::discard() {
    if (m_temporary.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(m_temporary, ignored);
    m_temporary.clear();
}

bool PendingOutput::create(const std::filesystem::path& folder, bool isFolder, std::string& error) {
    discard();
    std::string pattern = (folder / ".lumeno-text-XXXXXX").string();
    if (isFolder) {
        if (!::mkdtemp(pattern.data())) {
            error = describe(folder, errno);
            return false;
        }
        ::chmod(pattern.c_str(), 0777 & ~creationMask());
    } else {
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            error = describe(folder, errno);
            return false;
        }
        ::fchmod(fd, 0666 & ~creationMask());
        ::close(fd);
    }
    m_temporary = pattern;
    m_isFolder = isFolder;
    return true;
}

bool PendingOutput::write(std::string_view bytes, std::string& error,
                          const std::filesystem::path& relativePath) {
    if (m_temporary.empty()) {
        error = "no output was created";
        return false;
    }
    const std::filesystem::path target = m_isFolder ? m_temporary / relativePath : m_temporary;
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = describe(target, errno);
        return false;
    }
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = describe(target, written < 0 ? errno : ENOSPC);
            ::close(fd);
            return false;
        }
        data += written;
        left -= size_t(written);
    }
    if (::close(fd) != 0) {
        error = describe(target, errno);
        return false;
    }
    return true;
}

bool PendingOutput::place(const std::string& name, const std::string& extension,
                          std::filesystem::path& placed, std::string& error) {
    if (m_temporary.empty()) {
        error = "no output was created";
        return false;
    }
    const std::filesystem::path folder = m_temporary.parent_path();
    for (int number = 0; number < kMostNumberedNames; ++number) {
        const std::filesystem::path candidate = folder / NumberedFileName(name, extension, number);
        const int result = renameWithoutReplacing(m_temporary, candidate, m_isFolder);
        if (result == 0) {
            placed = candidate;
            m_temporary.clear();
            return true;
        }
        if (result != EEXIST && result != ENOTEMPTY) {
            error = describe(candidate, result);
            return false;
        }
    }
    error = (folder / name).string() + ": no free file name left";
    return false;
}

} // namespace conversion
