// What the source files of CHMDocumentWindow share (the window is one class written in several
// files, by concern); nothing else includes this.
#pragma once

#include <QString>

class CHMTableOfContent;
class LinkItem;
class QUrl;

namespace documentwindow {

// The global default that holds the zoom factor of the last zoomed page; new tabs start with it.
inline const QString kZoomFactorKey = QStringLiteral("zoom factor");

// The contents entry of a page: the entry of the page's anchor when the contents have one, else
// the page's first entry. Null without contents or for a URL outside the book.
const LinkItem* tocItemForUrl(const CHMTableOfContent* toc, const QUrl& url);

} // namespace documentwindow
