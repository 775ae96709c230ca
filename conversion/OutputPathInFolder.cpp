// Naming an output through the shared unique-name rule, which is Qt's (VNTUtil); on its own so
// that programs writing outputs without it do not load Qt.
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
