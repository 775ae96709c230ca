// Logging categories of the reader, one per layer, so a user can turn each on or off with
// QT_LOGGING_RULES ("lumeno.search.debug=true"). Names that come from a book (paths, titles,
// sitemap names) are untrusted: pass them through `logSafe` before they reach a log line.
#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcContainer) // "lumeno.container": opening and reading .chm files
Q_DECLARE_LOGGING_CATEGORY(lcSitemap)   // "lumeno.sitemap": contents and index sitemaps
Q_DECLARE_LOGGING_CATEGORY(lcSearch)    // "lumeno.search": the full-text index
Q_DECLARE_LOGGING_CATEGORY(lcItss)      // "lumeno.itss": serving pages
Q_DECLARE_LOGGING_CATEGORY(lcEncoding)  // "lumeno.encoding": text encodings
Q_DECLARE_LOGGING_CATEGORY(lcWindow)    // "lumeno.window": the document window
Q_DECLARE_LOGGING_CATEGORY(lcPage)      // "lumeno.page": web pages and their console
Q_DECLARE_LOGGING_CATEGORY(lcExport)    // "lumeno.export": PDF export
Q_DECLARE_LOGGING_CATEGORY(lcBookmarks) // "lumeno.bookmarks": the bookmark library

// The text with control characters escaped ("\n", "\x1b", ...) and cut at 200 characters, so
// a hostile name cannot forge log lines or drive a terminal.
QString logSafe(const QString& untrusted);
