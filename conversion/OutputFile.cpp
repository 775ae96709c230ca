#include "OutputFile.h"

#include "RunCleanup.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

constexpr char kTemporaryPrefix[] = ".lumeno-";
constexpr char kTemporarySuffix[] = ".part";

// ".lumeno-PID-RANDOM.part". What marks a file of a run still at work is the lock it holds on
// it (claim()): a process id means nothing in another PID namespace (a container or a toolbox
// sharing the folder), where the run looks gone.
std::string temporaryName() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char name[80];
    std::snprintf(name, sizeof name, "%s%ld-%016llx%s", kTemporaryPrefix, long(::getpid()),
                  static_cast<unsigned long long>(random()), kTemporarySuffix);
    return name;
}

std::filesystem::path folderOrCurrent(const std::filesystem::path& folder) {
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// The pid in a temporary name of ours, or 0 for any other name.
long pidOfTemporary(const char* name) {
    const std::size_t prefix = sizeof kTemporaryPrefix - 1;
    const std::size_t suffix = sizeof kTemporarySuffix - 1;
    const std::size_t length = std::strlen(name);
    if (length <= prefix + suffix || std::strncmp(name, kTemporaryPrefix, prefix) != 0 ||
        std::strcmp(name + length - suffix, kTemporarySuffix) != 0)
        return 0;
    char* end = nullptr;
    const long pid = std::strtol(name + prefix, &end, 10);
    if (pid <= 0 || end == name + prefix || *end != '-')
        return 0;
    const char* random = end + 1;
    const std::size_t digits = std::size_t(name + length - suffix - random);
    if (digits != 16 || std::strspn(random, "0123456789abcdef") < digits)
        return 0;
    return pid;
}

// Locks the temporary file or folder just made at `path` (open as `fd`) for as long as `fd`, or
// a duplicate of it, stays open. False when the name no longer leads to it: a sweep took it in
// the instant between its making and the lock, and another name must be made.
bool claim(int fd, const std::string& path) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    struct stat held;
    struct stat named;
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Creates a hidden temporary file in `folder` with the mode a plain fopen would give it, or
// `mode` when one is given, and claims it. Answers the descriptor, which holds the claim (and the
// name in `path`), or -1 (errno set).
int createTemporaryFile(const std::filesystem::path& folder, std::string& path,
                        std::optional<mode_t> mode = std::nullopt) {
    removeAbandonedTemporaries(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = (folderOrCurrent(folder) / temporaryName()).string();
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            if (!claim(fd, path)) {
                ::close(fd);
                continue;
            }
            (void)::fchmod(fd, mode.value_or(0666 & ~creationMask()));
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Creates and claims a hidden temporary folder in `folder`. Answers the descriptor holding the
// claim (and the name in `path`), or -1 (errno set).
int createTemporaryFolder(const std::filesystem::path& folder, std::string& path) {
    removeAbandonedTemporaries(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = (folderOrCurrent(folder) / temporaryName()).string();
        if (::mkdir(path.c_str(), 0700) != 0) {
            if (errno != EEXIST)
                return -1;
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            const int saved = errno;
            ::rmdir(path.c_str());
            errno = saved;
            return -1;
        }
        if (!claim(fd, path)) {
            ::close(fd);
            continue;
        }
        ::chmod(path.c_str(), 0777 & ~creationMask());
        return fd;
    }
    errno = EEXIST;
    return -1;
}

void closeClaim(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
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

// Writes `bytes` to the file at `path`, created or emptied, and syncs it; answers 0 or the error.
// The sync and the close are checked too: a full disk shows there at the latest.
int writeFile(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    int failure = writeAll(fd, bytes);
    if (!failure && ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && !failure)
        failure = errno;
    return failure;
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

bool OutputFile::fail(int error) {
    m_error = error ? error : EIO;
    errno = m_error;
    return false;
}

const char* OutputFile::errorText() const {
    return std::strerror(m_error ? m_error : EIO);
}

void OutputFile::abandon() {
    if (m_file && m_file != stdout)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporary.empty()) {
        removeCompletely(m_temporary);
        m_temporary.clear();
    }
    // Only once the name is gone: no sweep may take what is still being removed.
    closeClaim(m_claim);
}

FILE* OutputFile::open(const char* targetPath) {
    abandon();
    m_error = 0;
    if (!targetPath || !*targetPath) {
        fail(EINVAL);
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
        if (!m_file)
            fail(errno);
        return m_file;
    }
    const std::size_t slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    // The result keeps the mode of an existing target.
    std::optional<mode_t> mode;
    if (::stat(targetPath, &info) == 0)
        mode = info.st_mode & 07777;
    std::string pattern;
    const int fd = createTemporaryFile(folder, pattern, mode);
    if (fd < 0) {
        fail(errno);
        return nullptr;
    }
    // The stream is closed before the rename: a second descriptor keeps the claim until then.
    m_claim = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    m_file = m_claim >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!m_file) {
        const int saved = errno;
        ::unlink(pattern.c_str());
        ::close(fd);
        closeClaim(m_claim);
        fail(saved);
        return nullptr;
    }
    m_temporary = pattern;
    m_isFolder = false;
    return m_file;
}

bool OutputFile::commit() {
    if (!m_file)
        return fail(m_error ? m_error : EBADF);
    // A write that failed earlier left the stream's error flag: the flush tries the rest again
    // and names the cause; when it has nothing left to try, the cause is no longer known.
    int error = 0;
    if (std::fflush(m_file) != 0)
        error = errno;
    else if (std::ferror(m_file))
        error = EIO;
    if (m_file == stdout) {
        m_file = nullptr;
        return error ? fail(error) : true;
    }
    // The data reach the disk before the rename, so that the new name never shows a file whose
    // blocks could still fail to be written. (Devices and pipes written in place are not synced.)
    if (!error && !m_temporary.empty() && ::fsync(::fileno(m_file)) != 0)
        error = errno;
    if (std::fclose(m_file) != 0 && !error)
        error = errno;
    m_file = nullptr;
    if (!m_temporary.empty()) {
        if (!error && std::rename(m_temporary.c_str(), m_target.c_str()) != 0)
            error = errno;
        if (error)
            ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    closeClaim(m_claim);
    return error ? fail(error) : true;
}

bool OutputFile::create(const std::filesystem::path& folder, bool isFolder, std::string& error) {
    abandon();
    m_error = 0;
    std::string pattern;
    // The descriptor is kept: it holds the claim while other code writes the output by name.
    const int fd =
        isFolder ? createTemporaryFolder(folder, pattern) : createTemporaryFile(folder, pattern);
    if (fd < 0) {
        fail(errno);
        error = describe(folder, errno);
        return false;
    }
    m_claim = fd;
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
        // The cause only: callers name the output, and the temporary name means nothing to users.
        fail(failure);
        error = std::strerror(failure);
        return false;
    }
    return true;
}

bool OutputFile::append(std::string_view bytes, std::string& error) {
    if (m_temporary.empty() || m_isFolder) {
        error = "no output file was created";
        return false;
    }
    const int fd = ::open(m_temporary.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    int failure = fd < 0 ? errno : writeAll(fd, bytes);
    if (fd >= 0 && ::close(fd) != 0 && !failure)
        failure = errno;
    if (failure) {
        fail(failure);
        error = std::strerror(failure);
        return false;
    }
    return true;
}

bool OutputFile::sync(std::string& error) {
    if (m_temporary.empty() || m_isFolder) {
        error = "no output file was created";
        return false;
    }
    if (const int failure = syncFile(m_temporary)) {
        fail(failure);
        error = std::strerror(failure);
        return false;
    }
    return true;
}

bool OutputFile::replace(const std::filesystem::path& target, std::string& error) {
    if (m_temporary.empty()) {
        error = "no output was created";
        return false;
    }
    int failure = m_isFolder ? 0 : syncFile(m_temporary);
    if (!failure && ::rename(m_temporary.c_str(), target.c_str()) != 0)
        failure = errno;
    if (failure) {
        fail(failure);
        error = describe(target, failure);
        abandon();
        return false;
    }
    m_temporary.clear();
    closeClaim(m_claim);
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
        const std::filesystem::path candidate = folder / numberedFileName(name, extension, number);
        const int result = renameWithoutReplacing(m_temporary, candidate, m_isFolder);
        if (result == 0) {
            placed = candidate;
            m_temporary.clear();
            closeClaim(m_claim);
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

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::string numberedFileName(const std::string& name, const std::string& extension, int number) {
    std::string fileName = name;
    if (number > 0)
        fileName += " " + std::to_string(number);
    if (!extension.empty())
        fileName += "." + extension;
    return fileName;
}

RemoveOnExit claimTemporaryIn(const std::filesystem::path& folder) {
    std::string path;
    const int fd = createTemporaryFile(folder, path);
    if (fd < 0)
        return RemoveOnExit(folderOrCurrent(folder) / temporaryName());
    return RemoveOnExit(path, fd);
}

namespace {

// The folders this process made temporary files in (every such folder is swept first).
struct SweptFolders {
    std::mutex lock;
    std::set<std::string> names;
};

SweptFolders& sweptFolders() {
    static SweptFolders* made = new SweptFolders; // never destroyed: see removeOwnTemporaries
    return *made;
}

// Removes the temporary files in `folder` whose pid `remove` picks; with `onlyUnclaimed`, only
// those no one holds a lock on (another PID namespace's live run holds its own).
template <class Pick>
void removeTemporariesIn(const std::filesystem::path& folder, bool onlyUnclaimed, Pick remove) {
    DIR* listing = ::opendir(folderOrCurrent(folder).c_str());
    if (!listing)
        return;
    std::vector<std::string> picked;
    while (const dirent* entry = ::readdir(listing)) {
        const long pid = pidOfTemporary(entry->d_name);
        if (pid > 0 && remove(pid))
            picked.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    for (const std::string& name : picked) {
        const std::filesystem::path path = folderOrCurrent(folder) / name;
        if (!onlyUnclaimed) {
            removeCompletely(path);
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Removed while locked here, so that its maker, if it locks it after all, sees it gone.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeCompletely(path);
        ::close(fd);
    }
}

} // namespace

void removeAbandonedTemporaries(const std::filesystem::path& folder) {
    SweptFolders& swept = sweptFolders();
    std::error_code ec;
    const std::filesystem::path canonical =
        std::filesystem::weakly_canonical(folderOrCurrent(folder), ec);
    {
        const std::lock_guard<std::mutex> guard(swept.lock);
        if (!swept.names.insert(ec ? folderOrCurrent(folder).string() : canonical.string()).second)
            return;
    }
    // A process that exists but is not ours answers EPERM: it is still at work. One that does
    // not exist here may still be at work in another PID namespace: its lock says.
    removeTemporariesIn(folder, true, [](long pid) {
        return pid != long(::getpid()) && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
    });
}

void removeOwnTemporaries() {
    SweptFolders& swept = sweptFolders();
    std::vector<std::string> folders;
    {
        const std::lock_guard<std::mutex> guard(swept.lock);
        folders.assign(swept.names.begin(), swept.names.end());
    }
    for (const std::string& folder : folders)
        removeTemporariesIn(folder, false, [](long pid) { return pid == long(::getpid()); });
}

int syncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int failure = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && !failure)
        failure = errno;
    return failure;
}

bool TemporaryFolder::create(const std::string& name, const std::string& purpose,
                             std::string& error) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / ("lumeno-" + name + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make a temporary folder for " + purpose + ": " + std::strerror(errno);
        return false;
    }
    m_path = pattern;
    m_ticket = removeIfRunEnds(m_path);
    return true;
}

void removeCompletely(const std::filesystem::path& path) {
    // remove_all stops at an entry that is gone by the time it gets there.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (!ec || !std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
            return;
    }
}

TemporaryFolder::~TemporaryFolder() {
    if (!m_path.empty())
        removeCompletely(m_path);
    if (m_ticket)
        forgetIfRunEnds(m_ticket);
}

RemoveOnExit::RemoveOnExit(std::filesystem::path p, int claimed)
    : path(std::move(p)), claim(claimed) {
    if (!path.empty())
        m_ticket = removeIfRunEnds(path);
}

RemoveOnExit::RemoveOnExit(RemoveOnExit&& other) noexcept
    : path(std::exchange(other.path, {})), claim(std::exchange(other.claim, -1)),
      m_ticket(std::exchange(other.m_ticket, 0)) {}

RemoveOnExit::~RemoveOnExit() {
    if (!path.empty())
        removeCompletely(path);
    closeClaim(claim);
    if (m_ticket)
        forgetIfRunEnds(m_ticket);
}

bool applyFileAttributes(const std::filesystem::path& path, const FileAttributes& attributes) {
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

bool writeFileAtomically(const std::filesystem::path& target,
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
        applyFileAttributes(output.path(), *attributes);
    if (!output.replace(target, error)) {
        error = "cannot write " + error;
        return false;
    }
    return true;
}

} // namespace conversion
