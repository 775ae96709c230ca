#include "VNTUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// There is no system version to ask for here; the program stands on a system newer than any
// version its callers gate features on.
constexpr int kRunningMajor = 99;
constexpr int kRunningMinor = 0;
constexpr int kRunningPatch = 0;

int clampedDifference(int running, int asked) {
    const long long d = static_cast<long long>(running) - asked;
    return static_cast<int>(std::clamp<long long>(d, INT_MIN, INT_MAX));
}

QString newUuidString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString appendComponent(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

// The URL's path as the file system spells it, without a trailing separator (except for the root);
// a null string for a null URL.
QString urlPath(const QUrl& url) {
    if (!url.isValid() || url.isEmpty())
        return {};
    QString path = url.isLocalFile() ? url.toLocalFile() : url.path(QUrl::FullyDecoded);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isNull())
        path = QLatin1String("");
    return path;
}

QString lastComponentWithoutExtension(const QString& path) {
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file rather than starting an extension.
    if (dot > 0)
        name.truncate(dot);
    return name;
}

QUrl urlInFolder(const QUrl& folder, const QString& name) {
    if (folder.isLocalFile())
        return QUrl::fromLocalFile(appendComponent(folder.toLocalFile(), name));
    QUrl url = folder;
    url.setPath(appendComponent(folder.path(QUrl::FullyDecoded), name), QUrl::DecodedMode);
    return url;
}

// Anything at the path, a dangling symbolic link included: writing through such a link would
// create a file elsewhere.
bool itemExists(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool isRegularFile(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool onSameFileSystem(const QString& a, const QString& b) {
    struct stat sa;
    struct stat sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return true; // unknown: the temporary folder is as good as any
    return sa.st_dev == sb.st_dev;
}

// "name 3". Plain concatenation: a name may itself contain "%1".
QString numbered(const QString& name, long n) {
    return name + QLatin1Char(' ') + QString::number(n);
}

char* duplicate(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return nullptr;
    return ::strdup(bytes.constData());
}

} // namespace

int CompareSystemVersion(int majorVersion, int minorVersion, int patchVersion) {
    return CompareSystemVersion(majorVersion, minorVersion, patchVersion, kRunningMajor,
                                kRunningMinor, kRunningPatch);
}

int CompareSystemVersion(int majorVersion, int minorVersion, int patchVersion, int runningMajor,
                         int runningMinor, int runningPatch) {
    if (const int d = clampedDifference(runningMajor, majorVersion); d != 0)
        return d;
    if (const int d = clampedDifference(runningMinor, minorVersion); d != 0)
        return d;
    return clampedDifference(runningPatch, patchVersion);
}

QUrl GetTemporaryURL() {
    return QUrl::fromLocalFile(appendComponent(QDir::tempPath(), newUuidString()));
}

QUrl GetTemporaryURLForDestination(const QUrl& destination) {
    const QString temporaryFolder = QDir::tempPath();
    QString folder = temporaryFolder;
    if (destination.isLocalFile()) {
        // A file on the destination's own file system can be renamed onto it instead of copied.
        const QFileInfo target(destination.toLocalFile());
        const QFileInfo targetFolder(target.absolutePath());
        if (targetFolder.isDir() && targetFolder.isWritable() &&
            !onSameFileSystem(targetFolder.absoluteFilePath(), temporaryFolder))
            folder = targetFolder.absoluteFilePath();
    }
    return QUrl::fromLocalFile(appendComponent(folder, newUuidString()));
}

QUrl GetTemporaryURLWithPrefix(const QString& prefix) {
    return QUrl::fromLocalFile(
        appendComponent(QDir::tempPath(), prefix + QLatin1Char('-') + newUuidString()));
}

QUrl GetUniqueURLInFolder(const QUrl& folder, const QString& baseName, const QString& extension,
                          bool replaceExisting) {
    if (!folder.isValid() || folder.isEmpty())
        return {};
    const bool hasExtension = !extension.isEmpty();
    const QString name = hasExtension ? baseName + QLatin1Char('.') + extension : baseName;
    QUrl url = urlInFolder(folder, name);
    if (!url.isLocalFile())
        return url; // no file system to consult
    if (!itemExists(url.toLocalFile()))
        return url;

    // Only the name asked for may be given up, and only when it is a plain file: a numbered
    // sibling or a folder belongs to something else.
    if (replaceExisting && isRegularFile(url.toLocalFile()) && QFile::remove(url.toLocalFile()))
        return url;

    for (long n = 1;; ++n) {
        QString candidate = numbered(baseName, n);
        if (hasExtension)
            candidate += QLatin1Char('.') + extension;
        url = urlInFolder(folder, candidate);
        if (!itemExists(url.toLocalFile()))
            return url;
    }
}

QUrl GetUniqueURLForFileInFolder(const QUrl& folder, const QUrl& file, const QString& extension,
                                 bool replaceExisting) {
    return GetUniqueURLInFolder(folder, lastComponentWithoutExtension(urlPath(file)), extension,
                                replaceExisting);
}

QUrl GetUniqueFolderURL(const QUrl& parent, const QString& name, bool create) {
    if (!parent.isValid() || parent.isEmpty())
        return {};
    QUrl url = urlInFolder(parent, name);
    if (!url.isLocalFile())
        return url;
    // Only a directory takes the name: a plain file of that name makes creation fail instead.
    for (long n = 1; QFileInfo(url.toLocalFile()).isDir(); ++n)
        url = urlInFolder(parent, numbered(name, n));
    if (create && !QDir().mkpath(url.toLocalFile()))
        return {};
    return url;
}

QUrl GetUniqueFolderURLForFile(const QUrl& parent, const QUrl& file, bool create) {
    return GetUniqueFolderURL(parent, lastComponentWithoutExtension(urlPath(file)), create);
}

std::string GetFileBaseName(const QUrl& url, bool* ok) {
    const QString path = urlPath(url);
    if (ok)
        *ok = !path.isNull();
    if (path.isNull())
        return {};
    return lastComponentWithoutExtension(path).toUtf8().toStdString();
}

std::string ToStdString(const QString& string) {
    return string.toUtf8().toStdString();
}

std::string URLPathToStdString(const QUrl& url, bool* ok) {
    const QString path = urlPath(url);
    if (ok)
        *ok = !path.isNull();
    return path.toUtf8().toStdString();
}

char* CopyURLPathCString(const QUrl& url) {
    return duplicate(urlPath(url).toUtf8());
}

char* CopyCString(const QString& string) {
    return duplicate(string.toUtf8());
}

QString FormatByteSize(double bytes) {
    // Single precision on purpose: the shown figures are those of a float.
    float value = static_cast<float>(bytes);
    constexpr float kStep = 1.0f / 1024.0f;
    if (value < 1023.0f)
        return QString::asprintf("%1.0f B", static_cast<double>(value));
    static const char* const kUnits[] = {"%1.1f KB", "%1.1f MB", "%1.1f GB"};
    for (const char* format : kUnits) {
        value *= kStep;
        if (value < 1023.0f)
            return QString::asprintf(format, static_cast<double>(value));
    }
    value *= kStep;
    return QString::asprintf("%1.1f TB", static_cast<double>(value));
}

bool isEqualToURL(const QUrl& url, const QUrl& other) {
    if (url.isEmpty() || other.isEmpty())
        return false;
    if (url == other)
        return true;
    return url.isLocalFile() && other.isLocalFile() && urlPath(url) == urlPath(other);
}
