#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace conversion {

namespace {

constexpr int kMostNumberedNames = 100000;

// The process's file creation mask, read without changing it (umask() would, and another
// thread may be creating files at the same time).
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

// Creates a hidden temporary file from `pattern` (ending in XXXXXX) with the mode a plain
// fopen would give it, or `mode` when one is given. Answers the descriptor, or -1 (errno set).
int createTemporaryFile(std::string& pattern, std::optional<mode_t> mode = std::nullopt) {
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0)
        (void)::fchmod(fd, mode.value_or(0666 & ~creationMask()));
    return fd;
}

// Writes all of `bytes`; answers 0 or the error.
int writeAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        data += written;
        left -= std::size_t(written);
    }
    return 0;
}

// Writes `bytes` to the file at `path`, created or emptied; answers 0 or the error. The close is
// checked too: a full disk shows there at the latest.
int writeFile(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    if (const int failure = writeAll(fd, bytes)) {
        ::close(fd);
        return failure;
    }
    return ::close(fd) == 0 ? 0 : errno;
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

OutputFile::~OutputFile() {
    abandon();
}

void OutputFile::abandon() {
    if (m_file && m_file != stdout)
        std::fclose(m_file);
    m_file = nullptr;
    if (m_temporary.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(m_temporary, ignored);
    m_temporary.clear();
}

FILE* OutputFile::open(const char* targetPath) {
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
    // The result keeps the mode of an existing target.
    std::optional<mode_t> mode;
    if (::stat(targetPath, &info) == 0)
        mode = info.st_mode & 07777;
    const int fd = createTemporaryFile(pattern, mode);
    if (fd < 0)
        return nullptr;
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        const int saved = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        errno = saved;
        return nullptr;
    }
    m_temporary = pattern;
    m_isFolder = false;
    return m_file;
}

bool OutputFile::commit() {
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

bool OutputFile::create(const std::filesystem::path& folder, bool isFolder, std::string& error) {
    abandon();
    std::string pattern = (folder / ".lumeno-XXXXXX").string();
    if (isFolder) {
        if (!::mkdtemp(pattern.data())) {
            error = describe(folder, errno);
            return false;
        }
        ::chmod(pattern.c_str(), 0777 & ~creationMask());
    } else {
        const int fd = createTemporaryFile(pattern);
        if (fd < 0) {
            error = describe(folder, errno);
            return false;
        }
        ::close(fd);
    }
    m_temporary = pattern;
    m_isFolder = isFolder;
    return true;
}

bool OutputFile::write(std::string_view bytes, std::string& error,
                       const std::filesystem::path& relativePath) {
    if (m_temporary.empty()) {
        error = "no output was created";
        return false;
    }
    const std::filesystem::path target = m_isFolder ? m_temporary / relativePath : m_temporary;
    if (const int failure = writeFile(target, bytes)) {
        error = describe(target, failure);
        return false;
    }
    return true;
}

bool OutputFile::replace(const std::filesystem::path& target, std::string& error) {
    if (m_temporary.empty()) {
        error = "no output was created";
        return false;
    }
    if (::rename(m_temporary.c_str(), target.c_str()) != 0) {
        error = describe(target, errno);
        abandon();
        return false;
    }
    m_temporary.clear();
    return true;
}

bool OutputFile::place(const std::string& name, const std::string& extension,
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

std::string NumberedFileName(const std::string& name, const std::string& extension, int number) {
    std::string fileName = name;
    if (number > 0)
        fileName += " " + std::to_string(number);
    if (!extension.empty())
        fileName += "." + extension;
    return fileName;
}

std::filesystem::path TemporaryPathIn(const std::filesystem::path& folder, const std::string& tag) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char name[64];
    std::snprintf(name, sizeof name, ".%s-%016llx.part", tag.c_str(),
                  static_cast<unsigned long long>(random()));
    return (folder.empty() ? std::filesystem::path(".") : folder) / name;
}

bool ApplyFileAttributes(const std::filesystem::path& path, const FileAttributes& attributes) {
    bool ok = true;
    if (attributes.permissions)
        ok = ::chmod(path.c_str(), *attributes.permissions & 07777) == 0 && ok;
    if (attributes.modificationTime) {
        timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = *attributes.modificationTime;
        times[1].tv_nsec = 0;
        ok = ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 && ok;
    }
    return ok;
}

bool WriteFileAtomically(const std::filesystem::path& target,
                         const std::vector<std::uint8_t>& bytes,
                         const std::optional<FileAttributes>& attributes, std::string& error) {
    OutputFile output;
    if (!output.create(target.parent_path(), false, error)) {
        error = "cannot create a file in " + error;
        return false;
    }
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // Messages name the target, not the temporary file the user never sees.
    if (const int failure = writeFile(output.path(), data)) {
        error = "cannot write " + describe(target, failure);
        return false;
    }
    if (attributes)
        ApplyFileAttributes(output.path(), *attributes);
    if (!output.replace(target, error)) {
        error = "cannot write " + error;
        return false;
    }
    return true;
}

} // namespace conversion
