#include "HelperPrograms.h"

#include <QDir>
#include <QFileInfo>

QStringList helperProgramFolders() {
    const QString folder =
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    return {folder, QDir::cleanPath(folder + QStringLiteral("/../libexec/lumeno"))};
}

QString findHelperProgram(const QString& name) {
    for (const QString& folder : helperProgramFolders()) {
        const QFileInfo candidate(folder + QLatin1Char('/') + name);
        if (candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return {};
}
