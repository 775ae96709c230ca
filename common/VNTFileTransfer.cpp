// Whole-file read, write, copy and move for VNTUtil.h.
#include "VNTUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNoStatus = -1;
constexpr int kNoMemory = 12;
constexpr int kTransferFailed = 5;
constexpr size_t kCopyChunk = 20'000'000;
// Linux moves at most about 2 GiB per call; asking for less keeps every call's count exact.
constexpr size_t kMaxCall = size_t{1} << 30;

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Closes on every path out; close() answers whether buffered data reached the file.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        // Linux releases the descriptor even when close() reports EINTR: never retry.
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int fd_;
};

struct FreeBuffer {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeBuffer>;

// Repeats `call` (read or write) over the whole buffer; false on a failed call, or when a read
// finds the file ending before `length` bytes.
template <typename Buffer, typename Call>
bool transferFully(int fd, Buffer* data, size_t length, Call call) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = call(fd, data + done, std::min(length - done, kMaxCall));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readFully(int fd, char* out, size_t length) {
    return transferFully(fd, out, length, ::read);
}

bool writeFully(int fd, const char* in, size_t length) {
    return transferFully(fd, in, length, ::write);
}

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

bool itemExists(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

bool removeItem(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return ::unlink(encoded(path).constData()) == 0;
}

bool copyItem(const QString& source, const QString& destination) {
    const QFileInfo info(source);
    if (info.isSymLink())
        return QFile::link(info.symLinkTarget(), destination);
    if (!info.isDir())
        return QFile::copy(source, destination);
    if (!QDir().mkdir(destination))
        return false;
    const QDir folder(source);
    const auto entries =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (!copyItem(folder.filePath(entry), QDir(destination).filePath(entry)))
            return false;
    }
    return true;
}

} // namespace

int writeFile(const char* path, const void* buffer, size_t length) {
    if (!path || (!buffer && length > 0))
        return EINVAL;
    Descriptor file(openRetrying(path, O_RDWR | O_CREAT | O_TRUNC, 0600));
    if (file.get() < 0)
        return errno;
    if (::lseek(file.get(), 0, SEEK_SET) < 0)
        return errno;
    if (!writeFully(file.get(), static_cast<const char*>(buffer), length))
        return kTransferFailed;
    // A failing close can be the first report of a write that never reached the disk.
    if (!file.close())
        return kTransferFailed;
    return 0;
}

int readFile(const char* path, void** buffer, size_t* length) {
    if (buffer)
        *buffer = nullptr;
    if (length)
        *length = 0;
    if (!path || !buffer || !length)
        return EINVAL;
    Descriptor file(openRetrying(path, O_RDONLY));
    if (file.get() < 0)
        return errno;
    struct stat st;
    if (::fstat(file.get(), &st) != 0)
        return kNoStatus;
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) >= SIZE_MAX)
        return kNoMemory;
    const size_t size = static_cast<size_t>(st.st_size);
    // One byte at least: an empty file still hands out a buffer to free.
    Buffer data(static_cast<char*>(std::malloc(std::max<size_t>(size, 1))));
    if (!data)
        return kNoMemory;
    if (::lseek(file.get(), 0, SEEK_SET) < 0)
        return kNoStatus;
    // A file that shrank since fstat() ends early and fails here, so no unread bytes go out.
    if (!readFully(file.get(), data.get(), size))
        return kTransferFailed;
    *buffer = data.release();
    *length = size;
    return 0;
}

int copyFile(const char* source, const char* destination) {
    return copyFileInChunks(source, destination, kCopyChunk);
}

int copyFileInChunks(const char* source, const char* destination, size_t chunkSize) {
    if (!source || !destination)
        return EINVAL;
    if (chunkSize == 0)
        chunkSize = kCopyChunk;
    Descriptor in(openRetrying(source, O_RDONLY));
    if (in.get() < 0)
        return errno;
    struct stat sourceStatus;
    if (::fstat(in.get(), &sourceStatus) != 0)
        return kNoStatus;
    // Not truncated on opening: if both names lead to one file, truncating would destroy it.
    Descriptor out(openRetrying(destination, O_RDWR | O_CREAT, 0600));
    if (out.get() < 0)
        return errno;
    struct stat destinationStatus;
    if (::fstat(out.get(), &destinationStatus) != 0)
        return kNoStatus;
    if (destinationStatus.st_dev == sourceStatus.st_dev &&
        destinationStatus.st_ino == sourceStatus.st_ino)
        return 0; // the destination already holds the source's bytes
    if (S_ISREG(destinationStatus.st_mode) && ::ftruncate(out.get(), 0) != 0)
        return errno;
    if (::lseek(in.get(), 0, SEEK_SET) < 0)
        return kNoStatus;
    if (::lseek(out.get(), 0, SEEK_SET) < 0)
        return errno;

    const auto size = static_cast<unsigned long long>(std::max<off_t>(sourceStatus.st_size, 0));
    if (size > 0) {
        const size_t bufferSize =
            static_cast<size_t>(std::min<unsigned long long>(size, chunkSize));
        Buffer chunk(static_cast<char*>(std::malloc(bufferSize)));
        if (!chunk)
            return kNoMemory;
        for (unsigned long long offset = 0; offset < size;) {
            const size_t n =
                static_cast<size_t>(std::min<unsigned long long>(size - offset, bufferSize));
            if (!readFully(in.get(), chunk.get(), n) || !writeFully(out.get(), chunk.get(), n))
                return kTransferFailed;
            offset += n;
        }
    }
    if (!out.close())
        return kTransferFailed;
    return 0;
}

bool ReplaceFileAtURL(const QUrl& source, const QUrl& destination) {
    if (!source.isValid() || source.isEmpty() || !destination.isValid() || destination.isEmpty() ||
        isEqualToURL(destination, source))
        return true;
    if (!source.isLocalFile() || !destination.isLocalFile())
        return false;
    const QString sourcePath = source.toLocalFile();
    const QString destinationPath = destination.toLocalFile();
    const QByteArray from = encoded(sourcePath);
    const QByteArray to = encoded(destinationPath);

    // Two spellings of one file: moving it onto itself and then removing the source would
    // delete it.
    struct stat a;
    struct stat b;
    if (::stat(from.constData(), &a) == 0 && ::stat(to.constData(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return true;

    if (::rename(from.constData(), to.constData()) == 0)
        return true;
    if (copyFile(from.constData(), to.constData()) != 0) {
        if (!itemExists(from))
            return false;
        // The destination goes only once a full copy of the source stands beside it, so a source
        // that cannot be read never costs the destination.
        const QString staging = QFileInfo(destinationPath).absolutePath() + QStringLiteral("/.") +
                                QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!copyItem(sourcePath, staging)) {
            if (itemExists(encoded(staging)))
                removeItem(staging);
            return false;
        }
        const QByteArray staged = encoded(staging);
        if (::rename(staged.constData(), to.constData()) != 0) {
            // rename() will not put a file over a folder or a folder over a full one.
            if (itemExists(to))
                removeItem(destinationPath);
            if (::rename(staged.constData(), to.constData()) != 0) {
                removeItem(staging);
                return false;
            }
        }
    }
    removeItem(sourcePath);
    return true;
}

qint64 GetFileSizeOfURL(const QUrl& file, quint64* size) {
    if (!file.isLocalFile())
        return EINVAL;
    Descriptor handle(openRetrying(encoded(file.toLocalFile()).constData(), O_RDONLY));
    if (handle.get() < 0)
        return errno;
    const off_t end = ::lseek(handle.get(), 0, SEEK_END);
    if (end < 0)
        return errno;
    if (size)
        *size = static_cast<quint64>(end);
    return 0;
}
