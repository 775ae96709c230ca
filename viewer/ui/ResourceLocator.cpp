#include "ResourceLocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString ResourceLocator::resourcesDir() {
    const QString fromEnvironment = qEnvironmentVariable("LUMENO_RESOURCES");
    if (!fromEnvironment.isEmpty())
        return QFileInfo(fromEnvironment).isDir() ? QDir(fromEnvironment).absolutePath()
                                                  : QString();
    if (QCoreApplication::instance()) {
        const QString installed =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../share/lumeno");
        if (QFileInfo(installed).isDir())
            return QDir(installed).absolutePath();
    }
    const QString sourceTree = QStringLiteral(LUMENO_SOURCE_RESOURCES);
    return QFileInfo(sourceTree).isDir() ? sourceTree : QString();
}

QString ResourceLocator::resourcePath(const QString& name) {
    const QString dir = resourcesDir();
    if (dir.isEmpty() || name.isEmpty())
        return {};
    const QString path = QDir(dir).filePath(name);
    return QFileInfo(path).isFile() ? path : QString();
}
