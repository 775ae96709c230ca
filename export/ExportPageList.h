// The HTML pages an export prints, in order: the book's home page (unless the contents already
// list it), the pages of the contents in reading order, then every other .htm/.html file of the
// container, so that pages reached only by links reach the PDF too. Each page once.
//
// Built on the exporter's thread; the container walk holds the document's lock. Fixed after
// building.
#pragma once

#include "LinkItem.h"

#include <QString>
#include <vector>

class CHMDocument;

class ExportPageList {
public:
    ExportPageList() = default;
    explicit ExportPageList(const std::vector<LinkItemPtr>& contentsPages);

    // Home page first, then the container's HTML files, each added unless already covered.
    void addDocumentPages(CHMDocument& document);

    // Whether a listed page already covers the path: the listed path, ignoring case and
    // compared percent-escaped, is the path itself or the path followed by "#", "?" or ";".
    // "page.htm" is not covered by "page.html".
    bool FindPageInsidePageList(const QString& path) const;
    // Appends the path, named by its last component, unless it is empty or covered.
    void CheckNInsertPath(const QString& path);
    void insertHome(const QString& homePath);

    // The page a listed path names: the path without its fragment, query or ";" parameters.
    static QString pageOfPath(const QString& path);

    const std::vector<LinkItemPtr>& items() const { return m_items; }
    std::size_t size() const { return m_items.size(); }
    const LinkItem& at(std::size_t index) const { return *m_items[index]; }

private:
    std::vector<LinkItemPtr> m_items;
    std::vector<QString> m_keys; // escaped, lower-cased paths of m_items
};
