// "BookmarkURL.plist" beside the bookmark database: for every bookmarked .chm file (by absolute
// path) the data that finds it again ("URLData", see FileIdentity) and how many bookmark saves of
// it are counted ("RefCount"; missing reads as 0). An XML property list, read and written whole
// on each call, written atomically (temporary file, then rename).
//
// Failures are quiet (logged): a missing or unreadable list, a path without entry, data that
// does not resolve. An unreadable list is kept aside as "BookmarkURL.plist.unreadable" before
// the next add replaces it, so nothing is lost unseen. Access needs no starting or stopping on
// Linux. GUI thread only.
#pragma once

#include <QString>

class BookmarkURLStore {
public:
    // folder: the library's folder (created when missing, on first write).
    explicit BookmarkURLStore(QString folder);

    static QString fileName() { return QStringLiteral("BookmarkURL.plist"); }
    QString plistPath() const;

    // One more counted save of the file; a new entry holds fresh data and the count 1.
    void AddURLSecurity(const QString& path);
    // One fewer; the entry goes at the last one.
    void RemoveURLSecurity(const QString& path);
    // The path the stored data resolves to; empty when there is no entry, no data, or the file
    // is no longer there. A file renamed in its folder is found again (see FileIdentity): its
    // entry then moves to the new path with fresh data and its count, and the new path is
    // answered.
    QString GetURLSecurity(const QString& path);

private:
    QString m_folder;
};
