// One label that bookmarks carry. Its text is compared exactly (case and spaces count). A Tag
// whose bookmarks were all removed stays stored; readers skip it by its bookmark count. A value
// holding the row's id and its store, which must outlive it. GUI thread only.
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

class BookmarkStore;
class CHMBookmark;

class CHMTag {
public:
    qint64 id() const { return m_id; }
    const QString& tag() const { return m_tag; }

    // Its bookmarks, by title.
    QList<CHMBookmark> bookmarks() const;
    int bookmarkCount() const;

    // The Tag of that text. When there is none and create is true, a new Tag is stored (in its
    // own transaction, or a savepoint of the caller's); when that fails it is rolled back and
    // nothing is answered. Nothing for an empty name.
    static std::optional<CHMTag> getTagByString(const QString& name, bool create,
                                                BookmarkStore* context);
    // Every Tag, by text; *ok false when they cannot be read (the list is then empty).
    static QList<CHMTag> allTagswithContext(BookmarkStore* context, bool* ok = nullptr);

private:
    friend class CHMBookmark;
    BookmarkStore* m_context = nullptr;
    qint64 m_id = 0;
    QString m_tag;
};
