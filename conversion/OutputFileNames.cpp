// Free names for outputs in a folder, on the numbering the reader uses for its own files. Apart
// from OutputFile.cpp because it needs Qt, which the codec commands do without.
#include "OutputFile.h"

#include <QString>
#include <QUrl>
#include <VNTUtil.h>

#include <sys/stat.h>

namespace conversion {

std::filesystem::path outputPathInFolder(const std::filesystem::path& folder,
                                         const std::string& name, const std::string& extension,
                                         bool replace) {
    if (replace) {
        const std::filesystem::path wanted =
            (folder.empty() ? std::filesystem::path(".") : folder) /
            (extension.empty() ? name : name + "." + extension);
        struct stat info;
        if (::lstat(wanted.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            return wanted;
    }
    const QUrl url = GetUniqueURLInFolder(QUrl::fromLocalFile(QString::fromStdString(folder)),
                                          QString::fromStdString(name),
                                          QString::fromStdString(extension), false);
    return url.isValid() ? std::filesystem::path(url.toLocalFile().toStdString())
                         : std::filesystem::path();
}

} // namespace conversion
