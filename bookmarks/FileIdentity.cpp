#include "FileIdentity.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
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

// A folder as large as this is not searched further: the search runs on the GUI thread.
constexpr int kMaxFolderEntries = 20000;

// The regular file in folder with exactly that device, inode and size; empty when none is.
QString findInFolder(const QString& folder, const QJsonObject& recorded) {
    bool ok = false;
    const qint64 device = recorded.value(QStringLiteral("device")).toString().toLongLong(&ok);
    if (!ok)
        return QString();
    const qint64 inode = recorded.value(QStringLiteral("inode")).toString().toLongLong(&ok);
    if (!ok)
        return QString();
    const qint64 size = recorded.value(QStringLiteral("size")).toString().toLongLong(&ok);
    if (!ok)
        return QString();
    QDirIterator entries(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (int seen = 0; entries.hasNext() && seen < kMaxFolderEntries; ++seen) {
        const QString candidate = entries.next();
        struct stat info {};
        if (statPath(candidate, &info) && S_ISREG(info.st_mode) &&
            static_cast<qint64>(info.st_dev) == device &&
            static_cast<qint64>(info.st_ino) == inode && static_cast<qint64>(info.st_size) == size)
            return candidate;
    }
    return QString();
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

QString resolve(const QByteArray& data, bool* stale, bool* moved) {
    if (stale)
        *stale = false;
    if (moved)
        *moved = false;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QString();
    const QJsonObject object = document.object();
    const QString path = object.value(QStringLiteral("path")).toString();
    struct stat info {};
    if (!statPath(path, &info)) {
        if (path.isEmpty())
            return QString();
        const QString found = findInFolder(QFileInfo(path).absolutePath(), object);
        if (moved)
            *moved = !found.isEmpty();
        return found;
    }
    if (S_ISDIR(info.st_mode))
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
