#include "ResourceLocator.h"

#include "LumenoLogging.h"

#include <QFile>

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

QString ResourceLocator::readText(const QString& name, const char* missingMeans) {
    const QString path = resourcePath(name);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qCWarning(lcWindow).noquote() << "the resource" << name << "is missing;" << missingMeans;
        return {};
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}
