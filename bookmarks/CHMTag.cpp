#include "CHMTag.h"

#include "BookmarkStore.h"
#include "CHMBookmark.h"
#include "SqlStatement.h"

std::optional<CHMTag> CHMTag::getTagByString(const QString& name, bool create,
                                             BookmarkStore* context) {
    if (name.isEmpty() || !context)
        return std::nullopt;
    auto lookup = [&]() -> std::optional<CHMTag> {
        SqlStatement query(context->handle(), "SELECT id, tag FROM tag WHERE tag = ?1");
        query.bind(1, name);
        if (!query.next())
            return std::nullopt;
        CHMTag tag;
        tag.m_context = context;
        tag.m_id = query.integer(0);
        tag.m_tag = query.text(1);
        return tag;
    };
    if (auto found = lookup())
        return found;
    if (!create)
        return std::nullopt;
    const bool stored = context->transaction([&] {
        SqlStatement insert(context->handle(), "INSERT INTO tag (tag) VALUES (?1)");
        if (!insert.bind(1, name).exec()) {
            context->setLastError(insert.error());
            return false;
        }
        return true;
    });
    return stored ? lookup() : std::nullopt;
}

QList<CHMTag> CHMTag::allTagswithContext(BookmarkStore* context, bool* ok) {
    QList<CHMTag> tags;
    if (!context) {
        if (ok)
            *ok = false;
        return tags;
    }
    SqlStatement query(context->handle(), "SELECT id, tag FROM tag ORDER BY tag, id");
    while (query.next()) {
        CHMTag tag;
        tag.m_context = context;
        tag.m_id = query.integer(0);
        tag.m_tag = query.text(1);
        tags << tag;
    }
    if (ok)
        *ok = query.ok();
    return query.ok() ? tags : QList<CHMTag>();
}

QList<CHMBookmark> CHMTag::bookmarks() const {
    return CHMBookmark::select(
        m_context,
        "JOIN bookmark_tag bt ON bt.bookmark_id = b.id WHERE bt.tag_id = ?1 "
        "ORDER BY b.title, b.id",
        [this](SqlStatement& q) { q.bind(1, m_id); }, nullptr);
}

int CHMTag::bookmarkCount() const {
    if (!m_context)
        return 0;
    SqlStatement count(m_context->handle(), "SELECT count(*) FROM bookmark_tag WHERE tag_id = ?1");
    count.bind(1, m_id);
    return count.next() ? static_cast<int>(count.integer(0)) : 0;
}
