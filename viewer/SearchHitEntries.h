// The entry each full-text hit is listed under, looked up in constant time.
//
// A hit is listed under the first item, in pre-order, of the table of contents whose path names
// its page (the page's path, or that path followed by "#", "?" or ";"), failing that under the
// same in the keyword index; each tree is also asked for the page's path percent-escaped. That
// is `CHMTableOfContent::itemForPath`, which walks the whole tree for every hit: a search with a
// thousand hits in a book of twenty thousand entries spent a tenth of a second in it. This table
// gives the same answers from one walk per tree. Paths that themselves hold "#", "?" or ";" are
// still looked up by walking the trees.
//
// Keeps the trees it was built from alive. Not thread-safe; build it on the thread that searches.
#pragma once

#include <QHash>
#include <QString>
#include <memory>

class CHMTableOfContent;
class LinkItem;

class SearchHitEntries {
public:
    SearchHitEntries(std::shared_ptr<const CHMTableOfContent> tableOfContent,
                     std::shared_ptr<const CHMTableOfContent> indexContent);

    // The item a hit for the page at `path` (with or without one leading "/") is listed under;
    // nullptr when neither tree names the page.
    const LinkItem* entryFor(const QString& path) const;

    // The same, with where the entry comes in reading order: its place in a pre-order walk of
    // the contents, then of the index (after every contents entry). Orders hits of equal score.
    const LinkItem* entryFor(const QString& path, qsizetype* readingOrder) const;

    bool isBuiltFrom(const CHMTableOfContent* tableOfContent,
                     const CHMTableOfContent* indexContent) const {
        return m_tableOfContent.get() == tableOfContent && m_indexContent.get() == indexContent;
    }

private:
    struct Entry {
        const LinkItem* item = nullptr;
        qsizetype order = 0; // in the pre-order walk of its tree
    };
    using PageTable = QHash<QString, Entry>;

    static PageTable pagesOf(const CHMTableOfContent* tree, qsizetype* count);
    static const Entry* find(const PageTable& pages, const QString& page);

    std::shared_ptr<const CHMTableOfContent> m_tableOfContent;
    std::shared_ptr<const CHMTableOfContent> m_indexContent;
    PageTable m_tocPages;
    PageTable m_indexPages;
    qsizetype m_tocCount = 0; // items walked in the contents
};
