#include "BookmarkFetchRequest.h"

#include "CHMBookmark.h"
#include "SqlStatement.h"

QList<CHMBookmark> BookmarkFetchRequest::execute(BookmarkStore* context, bool* ok) const {
    switch (m_kind) {
    case Kind::Tag:
        return CHMBookmark::select(
            context,
            "WHERE b.id IN (SELECT bt.bookmark_id FROM bookmark_tag bt JOIN tag t "
            "ON t.id = bt.tag_id WHERE t.tag = ?1) ORDER BY b.title, b.id",
            [this](SqlStatement& q) { q.bind(1, m_tag); }, ok);
    case Kind::File:
        return CHMBookmark::select(
            context, "WHERE b.file_id = ?1 ORDER BY b.title, b.id",
            [this](SqlStatement& q) { q.bind(1, m_fileId); }, ok);
    case Kind::All:
        break;
    }
    return CHMBookmark::allBookmarks(context, ok);
}
