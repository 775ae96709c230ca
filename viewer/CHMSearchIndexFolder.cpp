#include "CHMSearchIndexFolder.h"

#include "LumenoLogging.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

constexpr long kTmpfsMagic = 0x01021994;
constexpr long kRamfsMagic = 0x858458f6;

} // namespace

bool CHMSearchIndexFolder::isMemoryBacked(const QString& folder) {
    struct statfs fs {};
    if (folder.isEmpty() || statfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return false;
    return static_cast<long>(fs.f_type) == kTmpfsMagic ||
           static_cast<long>(fs.f_type) == kRamfsMagic;
}

std::unique_ptr<CHMSearchIndexFolder> CHMSearchIndexFolder::create() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        qCDebug(lcSearch) << "No runtime folder: the search index stays on the heap";
        return nullptr;
    }
    if (!isMemoryBacked(runtime)) {
        qCInfo(lcSearch) << "The runtime folder" << runtime
                         << "is not memory-backed: the search index stays on the heap";
        return nullptr;
    }
    QByteArray pattern = QFile::encodeName(runtime + QStringLiteral("/lumeno-search-XXXXXX"));
    // mkdtemp gives the folder mode 0700 and a name nobody else holds.
    if (!mkdtemp(pattern.data())) {
        qCWarning(lcSearch) << "No folder for the search index in" << runtime << ":"
                            << std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<CHMSearchIndexFolder>(
        new CHMSearchIndexFolder(QFile::decodeName(pattern)));
}

CHMSearchIndexFolder::~CHMSearchIndexFolder() {
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(m_path).toStdString()),
                                error);
    if (error)
        qCWarning(lcSearch) << "The search index folder" << m_path
                            << "was not removed:" << error.message().c_str();
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
