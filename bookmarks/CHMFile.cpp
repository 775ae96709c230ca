#include "CHMFile.h"

#include "BookmarkStore.h"
#include "CHMBookmark.h"
#include "SqlStatement.h"

#include <QFileInfo>
#include <sqlite3.h>
#include <utility>

namespace {

constexpr const char* kColumns = "SELECT id, path, title, is_valid FROM file ";

bool isBookAt(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool storeValidity(BookmarkStore* context, qint64 id, bool valid) {
    SqlStatement update(context->handle(), "UPDATE file SET is_valid = ?1 WHERE id = ?2");
    if (!update.bind(1, qint64(valid ? 1 : 0)).bind(2, id).exec()) {
        context->setLastError(update.error());
        return false;
    }
    return true;
}

} // namespace

QList<CHMFile> CHMFile::select(BookmarkStore* context, const char* where,
                               const std::function<void(SqlStatement&)>& bind, bool* ok) {
    QList<CHMFile> files;
    if (!context) {
        if (ok)
            *ok = false;
        return files;
    }
    const QByteArray sql = QByteArray(kColumns) + where;
    SqlStatement query(context->handle(), sql.constData());
    if (bind)
        bind(query);
    while (query.next()) {
        CHMFile file;
        file.m_context = context;
        file.m_id = query.integer(0);
        file.m_path = query.text(1);
        file.m_title = query.text(2);
        file.m_isValid = query.integer(3) != 0;
        files << file;
    }
    if (!query.ok())
        context->setLastError(query.error());
    if (ok)
        *ok = query.ok();
    return query.ok() ? files : QList<CHMFile>();
}

std::optional<CHMFile> CHMFile::fileByPath(const QString& path, BookmarkStore* context) {
    if (path.isEmpty())
        return std::nullopt;
    const QList<CHMFile> found = select(
        context, "WHERE path = ?1", [&](SqlStatement& q) { q.bind(1, path); }, nullptr);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

std::optional<CHMFile> CHMFile::fileById(qint64 id, BookmarkStore* context) {
    const QList<CHMFile> found = select(
        context, "WHERE id = ?1", [&](SqlStatement& q) { q.bind(1, id); }, nullptr);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

std::optional<CHMFile> CHMFile::fileForPath(const QString& path, const QString& title,
                                            BookmarkStore* context) {
    if (path.isEmpty() || !context)
        return std::nullopt;
    if (auto existing = fileByPath(path, context))
        return existing;
    const bool stored = context->transaction([&] {
        SqlStatement insert(context->handle(),
                            "INSERT INTO file (path, title, is_valid) VALUES (?1, ?2, 1)");
        insert.bind(1, path).bind(2, title.isNull() ? QString(QLatin1String("")) : title);
        if (!insert.exec()) {
            context->setLastError(insert.error());
            return false;
        }
        return true;
    });
    return stored ? fileByPath(path, context) : std::nullopt;
}

QList<CHMFile> CHMFile::allFileswithContext(BookmarkStore* context, bool* ok) {
    return select(context, "ORDER BY title, id", nullptr, ok);
}

bool CHMFile::purgeWithContext(BookmarkStore* context) {
    bool ok = false;
    const QList<CHMFile> files = allFileswithContext(context, &ok);
    if (!ok)
        return false;
    return context->transaction([&] {
        for (const CHMFile& file : files) {
            if (file.bookmarkCount() == 0) {
                SqlStatement remove(context->handle(), "DELETE FROM file WHERE id = ?1");
                if (!remove.bind(1, file.id()).exec()) {
                    context->setLastError(remove.error());
                    return false;
                }
                continue;
            }
            if (!storeValidity(context, file.id(), isBookAt(file.path())))
                return false;
        }
        return true;
    });
}

bool CHMFile::refreshValidityWithContext(BookmarkStore* context) {
    bool ok = false;
    const QList<CHMFile> files = allFileswithContext(context, &ok);
    if (!ok)
        return false;
    QList<std::pair<qint64, bool>> changed;
    for (const CHMFile& file : files) {
        const bool valid = isBookAt(file.path());
        if (valid != file.isValid() && file.bookmarkCount() > 0)
            changed.append({file.id(), valid});
    }
    if (changed.isEmpty())
        return true;
    return context->transaction([&] {
        for (const auto& [id, valid] : changed) {
            if (!storeValidity(context, id, valid))
                return false;
        }
        return true;
    });
}

bool CHMFile::setPath(const QString& path) {
    if (!m_context || path.isEmpty())
        return false;
    const bool stored = m_context->transaction([&] {
        SqlStatement update(m_context->handle(),
                            "UPDATE file SET path = ?1, is_valid = 1 WHERE id = ?2");
        if (!update.bind(1, path).bind(2, m_id).exec()) {
            m_context->setLastError(update.error());
            return false;
        }
        return true;
    });
    if (stored) {
        m_path = path;
        m_isValid = true;
    }
    return stored;
}

QList<CHMBookmark> CHMFile::bookmarks() const {
    return CHMBookmark::select(
        m_context, "WHERE b.file_id = ?1 ORDER BY b.title, b.id",
        [this](SqlStatement& q) { q.bind(1, m_id); }, nullptr);
}

int CHMFile::bookmarkCount() const {
    if (!m_context)
        return 0;
    SqlStatement count(m_context->handle(), "SELECT count(*) FROM bookmark WHERE file_id = ?1");
    count.bind(1, m_id);
    return count.next() ? static_cast<int>(count.integer(0)) : 0;
}
