#include "FileIdentity.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

namespace {

bool statPath(const QString& path, struct stat* info) {
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), info) == 0;
}

// Numbers travel as decimal text: JSON numbers are doubles and would round large inodes.
QString number(qint64 value) {
    return QString::number(value);
}

} // namespace

namespace FileIdentity {

QByteArray bookmarkData(const QString& path) {
    struct stat info {};
    if (!statPath(path, &info) || !S_ISREG(info.st_mode))
        return QByteArray();
    QJsonObject object;
    object.insert(QStringLiteral("path"), path);
    object.insert(QStringLiteral("device"), number(static_cast<qint64>(info.st_dev)));
    object.insert(QStringLiteral("inode"), number(static_cast<qint64>(info.st_ino)));
    object.insert(QStringLiteral("size"), number(static_cast<qint64>(info.st_size)));
    object.insert(QStringLiteral("mtime"), number(static_cast<qint64>(info.st_mtime)));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString resolve(const QByteArray& data, bool* stale) {
    if (stale)
        *stale = false;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QString();
    const QJsonObject object = document.object();
    const QString path = object.value(QStringLiteral("path")).toString();
    struct stat info {};
    if (!statPath(path, &info) || S_ISDIR(info.st_mode))
        return QString();
    if (stale) {
        auto differs = [&](const char* key, qint64 now) {
            return object.value(QLatin1String(key)).toString() != number(now);
        };
        *stale = differs("device", static_cast<qint64>(info.st_dev)) ||
                 differs("inode", static_cast<qint64>(info.st_ino)) ||
                 differs("size", static_cast<qint64>(info.st_size)) ||
                 differs("mtime", static_cast<qint64>(info.st_mtime));
    }
    return path;
}

} // namespace FileIdentity
