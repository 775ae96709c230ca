#include "CHMSearchIndexFolder.h"

#include "LumenoLogging.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr long kTmpfsMagic = 0x01021994;
constexpr long kRamfsMagic = 0x858458f6;
constexpr char kNamePrefix[] = "lumeno-search-";
constexpr char kOwnerFile[] = "owner";
constexpr char kSharedMemoryFolder[] = "/dev/shm";

// The folders this process has made and not yet removed.
std::mutex g_liveMutex;
std::set<std::string>& liveFolders() {
    static std::set<std::string> folders;
    return folders;
}

void removeTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(path), error);
    if (error)
        qCWarning(lcSearch) << "The search index folder" << path.c_str()
                            << "was not removed:" << error.message().c_str();
}

int openFolder(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

CHMSearchIndexFolder::CHMSearchIndexFolder(QString path, int lockFd)
    : m_path(std::move(path)), m_lockFd(lockFd) {
    std::lock_guard guard(g_liveMutex);
    liveFolders().insert(QFile::encodeName(m_path).toStdString());
}

int CHMSearchIndexFolder::sweepStale(const QString& parent) {
    int removed = 0;
    const QStringList names = QDir(parent).entryList({QString::fromLatin1(kNamePrefix) + u'*'},
                                                     QDir::Dirs | QDir::Hidden);
    for (const QString& name : names) {
        const std::string path = QFile::encodeName(parent + u'/' + name).toStdString();
        const int fd = openFolder(path);
        if (fd < 0)
            continue;
        // A folder without its owner file is being made right now (or predates the lock):
        // it is left alone. One whose lock is free has lost its process.
        struct stat owner {};
        if (::fstatat(fd, kOwnerFile, &owner, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            removeTree(path);
            ++removed;
            qCInfo(lcSearch) << "Removed the search index folder of a process that is gone:"
                             << path.c_str();
        }
        ::close(fd);
    }
    return removed;
}

void CHMSearchIndexFolder::removeAllLive() {
    std::lock_guard guard(g_liveMutex);
    for (const std::string& path : liveFolders())
        removeTree(path);
    liveFolders().clear();
}

bool CHMSearchIndexFolder::isMemoryBacked(const QString& folder) {
    struct statfs fs {};
    if (folder.isEmpty() || statfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return false;
    return static_cast<long>(fs.f_type) == kTmpfsMagic ||
           static_cast<long>(fs.f_type) == kRamfsMagic;
}

QString CHMSearchIndexFolder::parentFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isMemoryBacked(runtime))
        return runtime;
    // Service managers and root sessions often have no runtime folder (or one on disk); the
    // shared memory folder is memory-backed on every Linux system that has one.
    const QString shared = QString::fromLatin1(kSharedMemoryFolder);
    if (isMemoryBacked(shared))
        return shared;
    return {};
}

std::unique_ptr<CHMSearchIndexFolder> CHMSearchIndexFolder::create() {
    const QString runtime = parentFolder();
    if (runtime.isEmpty()) {
        qCInfo(lcSearch) << "No memory-backed folder: the search index stays on the heap";
        return nullptr;
    }
    sweepStale(runtime);
    QByteArray pattern =
        QFile::encodeName(runtime + u'/' + QString::fromLatin1(kNamePrefix) + "XXXXXX");
    // mkdtemp gives the folder mode 0700 and a name nobody else holds.
    if (!mkdtemp(pattern.data())) {
        qCWarning(lcSearch) << "No folder for the search index in" << runtime << ":"
                            << std::strerror(errno);
        return nullptr;
    }
    const std::string path = pattern.toStdString();
    // The lock first, then the owner file: a sweep never sees the file without the lock held.
    const int fd = openFolder(path);
    int owner = -1;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        owner = ::openat(fd, kOwnerFile, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (owner < 0) {
        qCWarning(lcSearch) << "The search index folder" << path.c_str()
                            << "cannot be claimed:" << std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        removeTree(path);
        return nullptr;
    }
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    [[maybe_unused]] const ssize_t written = ::write(owner, pid.constData(), pid.size());
    ::close(owner);
    return std::unique_ptr<CHMSearchIndexFolder>(
        new CHMSearchIndexFolder(QFile::decodeName(pattern), fd));
}

CHMSearchIndexFolder::~CHMSearchIndexFolder() {
    {
        std::lock_guard guard(g_liveMutex);
        // Gone already when a signal's clean-up came first.
        if (liveFolders().erase(QFile::encodeName(m_path).toStdString()) != 0)
            removeTree(QFile::encodeName(m_path).toStdString());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

quint64 CHMSearchIndexFolder::sizeInBytes() const {
    quint64 total = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             std::filesystem::path(QFile::encodeName(m_path).toStdString()), error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        struct stat st {};
        // Blocks, not the apparent size: what the files really hold in memory.
        if (it->is_regular_file() && ::stat(it->path().c_str(), &st) == 0)
            total += static_cast<quint64>(st.st_blocks) * 512u;
    }
    return total;
}
