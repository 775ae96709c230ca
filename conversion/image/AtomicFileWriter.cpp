#include "AtomicFileWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace conversion {

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
    const std::filesystem::path temporary = TemporaryPathIn(target.parent_path(), "lumeno");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "cannot create a file in " + target.parent_path().string() + ": " +
                std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot write " + target.string() + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0) {
        error = "cannot write " + target.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (attributes)
        ApplyFileAttributes(temporary, *attributes);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot write " + target.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace conversion
