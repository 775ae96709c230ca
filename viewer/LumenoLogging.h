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
Q_DECLARE_LOGGING_CATEGORY(lcEngine)    // "lumeno.engine": notes of the web engine and the platform
Q_DECLARE_LOGGING_CATEGORY(lcStartup)   // "lumeno.startup": the steps from start to the first page

// For the program (not the tests): standard error is kept for what a user must act on. The
// categories above keep their warnings but their debug and info notes are turned off
// (QT_LOGGING_RULES, read later, still turns them on), and the notes that the web engine and
// the display write through Qt at every start go to lcEngine (debug) instead. Call before
// QApplication is made.
void keepStandardErrorForTheUser();

// The text with control characters escaped ("\n", "\x1b", ...) and cut at 200 characters, so
// a hostile name cannot forge log lines or drive a terminal.
QString logSafe(const QString& untrusted);
