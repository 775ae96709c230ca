#include "BookmarkLibrary.h"

#include "CHMBookmark.h"
#include "CHMFile.h"
#include "LumenoLogging.h"

#include <QFileInfo>
#include <QObject>

BookmarkLibrary::BookmarkLibrary(QString folder, ErrorSink presentError)
    : m_folder(std::move(folder)), m_presentError(std::move(presentError)), m_urlStore(m_folder) {}

BookmarkLibrary::~BookmarkLibrary() = default;

BookmarkStore* BookmarkLibrary::managedObjectContext() {
    return openStore(false);
}

BookmarkStore* BookmarkLibrary::contextForReading() {
    return openStore(true);
}

BookmarkStore* BookmarkLibrary::openStore(bool quietIfRepeated) {
    if (m_store)
        return m_store.get();
    QString error;
    if (m_folder.isEmpty())
        error = QObject::tr("Can't find application support folder");
    else
        m_store = BookmarkStore::open(m_folder + QLatin1Char('/') + BookmarkStore::storeFileName(),
                                      &error);
    if (m_store) {
        m_lastOpenError.clear();
        return m_store.get();
    }
    if (!quietIfRepeated || error != m_lastOpenError)
        m_presentError(error);
    m_lastOpenError = error;
    return nullptr;
}

std::optional<CHMBookmark> BookmarkLibrary::addBookmark(const BookmarkPage& page,
                                                        const QString& title, const QString& tags) {
    BookmarkStore* context = managedObjectContext();
    if (!context)
        return std::nullopt;
    if (context->isReadOnly()) {
        m_presentError(context->readOnlyMessage());
        return std::nullopt;
    }
    const QString fileTitle =
        page.documentTitle.isEmpty() ? QFileInfo(page.filePath).fileName() : page.documentTitle;
    bool everyTag = true;
    std::optional<CHMBookmark> saved =
        CHMBookmark::save(page.filePath, fileTitle, page.url, title, tags, context, &everyTag);
    if (!saved) {
        m_presentError(
            QObject::tr("The bookmark could not be saved: %1").arg(context->lastError()));
        return std::nullopt;
    }
    m_urlStore.AddURLSecurity(page.filePath);
    if (!everyTag)
        m_presentError(QObject::tr("The bookmark was saved, but not all of its tags could be: %1")
                           .arg(context->lastError()));
    return saved;
}

bool BookmarkLibrary::removeBookmarks(const QList<qint64>& ids) {
    BookmarkStore* context = managedObjectContext();
    if (!context || ids.isEmpty())
        return false;
    if (context->isReadOnly()) {
        m_presentError(context->readOnlyMessage());
        return false;
    }
    QStringList paths;
    for (qint64 id : ids) {
        const std::optional<CHMBookmark> bookmark = CHMBookmark::bookmarkById(id, context);
        const std::optional<CHMFile> file = bookmark ? bookmark->file() : std::nullopt;
        if (file)
            paths << file->path();
    }
    // Deleted first: the counts only ever follow a removal that is stored.
    if (!CHMBookmark::remove(ids, context)) {
        m_presentError(
            QObject::tr("The bookmarks could not be removed: %1").arg(context->lastError()));
        return false;
    }
    for (const QString& path : paths)
        m_urlStore.RemoveURLSecurity(path);
    return true;
}

QString BookmarkLibrary::relocate(CHMFile& file) {
    QString path = m_urlStore.GetURLSecurity(file.path());
    if (path.isEmpty())
        return file.path();
    if (path != file.path() && !QFileInfo::exists(file.path()) && !file.setPath(path))
        qCWarning(lcBookmarks) << "renamed book's new path not stored:" << logSafe(path)
                               << (m_store ? m_store->lastError() : QString());
    return path;
}

BookmarkStore* BookmarkLibrary::relocateMissingBooks(bool quietIfRepeated) {
    BookmarkStore* context = openStore(quietIfRepeated);
    // A read-only store keeps the validity it last stored.
    if (!context || context->isReadOnly())
        return nullptr;
    QList<CHMFile> files = CHMFile::allFileswithContext(context);
    for (CHMFile& file : files) {
        if (!QFileInfo::exists(file.path()) && file.bookmarkCount() > 0)
            relocate(file);
    }
    return context;
}

bool BookmarkLibrary::purge() {
    BookmarkStore* context = relocateMissingBooks(false);
    return context && CHMFile::purgeWithContext(context);
}

bool BookmarkLibrary::refreshValidity() {
    BookmarkStore* context = relocateMissingBooks(true);
    return context && CHMFile::refreshValidityWithContext(context);
}

std::optional<BookmarkLibrary::Target> BookmarkLibrary::targetOf(const CHMBookmark& bookmark) {
    std::optional<CHMFile> file = bookmark.file();
    if (!file)
        return std::nullopt;
    const QString path = relocate(*file);
    // Stored as the reader shows URLs (spaces and letters decoded), so read tolerantly.
    const QUrl url(bookmark.url(), QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    return Target{path, url};
}
