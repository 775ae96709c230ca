#include "CHMBookmark.h"

#include "BookmarkStore.h"
#include "CHMFile.h"
#include "CHMTag.h"
#include "LumenoLogging.h"
#include "SqlStatement.h"

#include <QSet>
#include <QStringList>
#include <algorithm>
#include <sqlite3.h>

namespace {

constexpr const char* kColumns =
    "SELECT b.id, b.url, b.title, b.created_at, b.file_id FROM bookmark b ";

bool execOrRecord(SqlStatement& statement, BookmarkStore* context) {
    if (statement.exec())
        return true;
    context->setLastError(statement.error());
    return false;
}

} // namespace

QList<CHMBookmark> CHMBookmark::select(BookmarkStore* context, const char* where,
                                       const std::function<void(SqlStatement&)>& bind, bool* ok) {
    QList<CHMBookmark> found;
    if (!context) {
        if (ok)
            *ok = false;
        return found;
    }
    const QByteArray sql = QByteArray(kColumns) + where;
    SqlStatement query(context->handle(), sql.constData());
    if (bind)
        bind(query);
    while (query.next()) {
        CHMBookmark bookmark;
        bookmark.m_context = context;
        bookmark.m_id = query.integer(0);
        bookmark.m_url = query.text(1);
        bookmark.m_title = query.text(2);
        bookmark.m_createdAt = QDateTime::fromMSecsSinceEpoch(query.integer(3), Qt::UTC);
        bookmark.m_fileId = query.isNull(4) ? 0 : query.integer(4);
        found << bookmark;
    }
    if (!query.ok())
        context->setLastError(query.error());
    if (ok)
        *ok = query.ok();
    return query.ok() ? found : QList<CHMBookmark>();
}

std::optional<CHMFile> CHMBookmark::file() const {
    if (m_fileId == 0)
        return std::nullopt;
    return CHMFile::fileById(m_fileId, m_context);
}

QList<CHMTag> CHMBookmark::tags() const {
    QList<CHMTag> tags;
    if (!m_context)
        return tags;
    SqlStatement query(m_context->handle(),
                       "SELECT t.id, t.tag FROM tag t JOIN bookmark_tag bt ON bt.tag_id = t.id "
                       "WHERE bt.bookmark_id = ?1 ORDER BY t.tag, t.id");
    query.bind(1, m_id);
    while (query.next()) {
        CHMTag tag;
        tag.m_context = m_context;
        tag.m_id = query.integer(0);
        tag.m_tag = query.text(1);
        tags << tag;
    }
    return tags;
}

QString CHMBookmark::tagsString() const {
    QStringList names;
    for (const CHMTag& tag : tags())
        names << tag.tag();
    return names.join(QStringLiteral(", "));
}

bool CHMBookmark::setTagsString(const QString& text) {
    if (text.isEmpty() || !m_context)
        return true;
    QSet<qint64> attached;
    for (const CHMTag& tag : tags())
        attached.insert(tag.id());
    bool everyLabel = true;
    const bool stored = m_context->transaction([&] {
        for (const QString& part : text.split(QLatin1Char(','))) {
            const QString name = part.trimmed();
            if (name.isEmpty())
                continue;
            // A label that cannot be had is left off; its savepoint is rolled back whole.
            const bool labelled = m_context->transaction([&] {
                const std::optional<CHMTag> tag = CHMTag::getTagByString(name, true, m_context);
                if (!tag)
                    return false;
                if (attached.contains(tag->id()))
                    return true;
                SqlStatement link(m_context->handle(),
                                  "INSERT INTO bookmark_tag (bookmark_id, tag_id) VALUES (?1, ?2)");
                link.bind(1, m_id).bind(2, tag->id());
                if (!execOrRecord(link, m_context))
                    return false;
                attached.insert(tag->id());
                return true;
            });
            if (!labelled)
                qCWarning(lcBookmarks)
                    << "tag left off:" << logSafe(name) << m_context->lastError();
            everyLabel = everyLabel && labelled;
        }
        return true;
    });
    return stored && everyLabel;
}

std::optional<CHMBookmark> CHMBookmark::bookmarkByURL(const QString& url, const QString& filePath,
                                                      BookmarkStore* context) {
    if (url.isEmpty() || filePath.isEmpty())
        return std::nullopt;
    const QList<CHMBookmark> found = select(
        context, "JOIN file f ON f.id = b.file_id WHERE b.url = ?1 AND f.path = ?2",
        [&](SqlStatement& q) { q.bind(1, url).bind(2, filePath); }, nullptr);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

std::optional<CHMBookmark> CHMBookmark::bookmarkById(qint64 id, BookmarkStore* context) {
    const QList<CHMBookmark> found = select(
        context, "WHERE b.id = ?1", [&](SqlStatement& q) { q.bind(1, id); }, nullptr);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

QList<CHMBookmark> CHMBookmark::newestBookmarks(int limit, BookmarkStore* context, bool* ok) {
    return select(
        context, "ORDER BY b.created_at DESC, b.id DESC LIMIT ?1",
        [&](SqlStatement& q) { q.bind(1, qint64(limit)); }, ok);
}

QList<CHMBookmark> CHMBookmark::allBookmarks(BookmarkStore* context, bool* ok) {
    return select(context, "ORDER BY b.title, b.id", nullptr, ok);
}

std::optional<CHMBookmark> CHMBookmark::save(const QString& filePath, const QString& fileTitle,
                                             const QString& url, const QString& title,
                                             const QString& tagsText, BookmarkStore* context,
                                             bool* everyTag) {
    if (!context || filePath.isEmpty() || url.isEmpty())
        return std::nullopt;
    qint64 bookmarkId = 0;
    const bool stored = context->transaction([&] {
        const std::optional<CHMFile> file = CHMFile::fileForPath(filePath, fileTitle, context);
        if (!file)
            return false;
        // The newest save is always the newest in the list, even within one millisecond.
        SqlStatement latest(context->handle(), "SELECT max(created_at) FROM bookmark");
        qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (latest.next() && !latest.isNull(0))
            now = std::max(now, latest.integer(0) + 1);
        const QString name = title.isNull() ? QString(QLatin1String("")) : title;
        if (const auto existing = bookmarkByURL(url, filePath, context)) {
            bookmarkId = existing->id();
            SqlStatement update(context->handle(),
                                "UPDATE bookmark SET title = ?1, created_at = ?2 WHERE id = ?3");
            update.bind(1, name).bind(2, now).bind(3, bookmarkId);
            if (!execOrRecord(update, context))
                return false;
        } else {
            SqlStatement insert(context->handle(),
                                "INSERT INTO bookmark (url, title, created_at, file_id) "
                                "VALUES (?1, ?2, ?3, ?4)");
            insert.bind(1, url).bind(2, name).bind(3, now).bind(4, file->id());
            if (!execOrRecord(insert, context))
                return false;
            bookmarkId = sqlite3_last_insert_rowid(context->handle());
        }
        std::optional<CHMBookmark> bookmark = bookmarkById(bookmarkId, context);
        if (!bookmark)
            return false;
        const bool tagged = bookmark->setTagsString(tagsText);
        if (everyTag)
            *everyTag = tagged;
        return true;
    });
    return stored ? bookmarkById(bookmarkId, context) : std::nullopt;
}

bool CHMBookmark::remove(const QList<qint64>& ids, BookmarkStore* context) {
    if (!context)
        return false;
    return context->transaction([&] {
        for (qint64 id : ids) {
            SqlStatement remove(context->handle(), "DELETE FROM bookmark WHERE id = ?1");
            if (!execOrRecord(remove.bind(1, id), context))
                return false;
        }
        return true;
    });
}
