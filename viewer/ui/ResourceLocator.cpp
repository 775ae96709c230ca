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
    if (!QCoreApplication::instance())
        return {};
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/lumeno");
    return QFileInfo(beside).isDir() ? QDir(beside).absolutePath() : QString();
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
        qCWarning(lcWindow, "the resource %s is missing; %s", qUtf8Printable(name), missingMeans);
        return {};
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}
