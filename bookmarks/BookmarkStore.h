// The bookmark library's SQLite database ("Bookmarks.sqlite"): the connection, its schema and its
// transactions. Bookmarks, files and tags (CHMBookmark, CHMFile, CHMTag) read and write through
// it; every change they make runs in one transaction, committed before the call returns.
//
// Opening never harms what is on disk: a file that is not a SQLite database, fails its integrity
// check, carries another schema or a newer schema version, holds any trigger, view, table or
// index beyond the ones below (or one of them altered), or cannot be written is refused with a
// message for the user and left exactly as it was. A new or empty file gets the schema. A store
// of ours that cannot be written (its file or its folder is read-only) opens read-only: its
// bookmarks can be read, every change is refused with readOnlyMessage(). The
// connection runs in SQLite's defensive mode with the schema untrusted, so SQL stored in a file
// can neither rewrite its structure nor call functions with side effects.
//
// Schema (PRAGMA user_version 1, foreign keys on):
//   file(id, path UNIQUE, title, is_valid)
//   bookmark(id, url, title, created_at ms since the epoch UTC,
//            file_id -> file ON DELETE CASCADE, UNIQUE(file_id, url))
//   tag(id, tag UNIQUE)  -- compared exactly: case and spaces count
//   bookmark_tag(bookmark_id -> bookmark, tag_id -> tag, both ON DELETE CASCADE)
//
// One connection, used on the GUI thread only (the whole bookmark library lives there).
#pragma once

#include <QString>
#include <functional>
#include <memory>

struct sqlite3;

class BookmarkStore {
public:
    static constexpr int kSchemaVersion = 1;

    // The folder of the library's files: "Lumeno" in the user's data folder. Not created here.
    static QString applicationSupportFolder();
    static QString storeFileName() { return QStringLiteral("Bookmarks.sqlite"); }

    // Opens (or creates) the database at path, creating its folder when needed. nullptr with a
    // message for the user in *error when it cannot be used.
    static std::unique_ptr<BookmarkStore> open(const QString& path, QString* error);
    ~BookmarkStore();
    BookmarkStore(const BookmarkStore&) = delete;
    BookmarkStore& operator=(const BookmarkStore&) = delete;

    const QString& path() const { return m_path; }
    sqlite3* handle() const { return m_db; }
    bool isReadOnly() const { return !m_readOnlyMessage.isEmpty(); }
    // Why nothing can be changed, for the user; empty when the store can be written.
    const QString& readOnlyMessage() const { return m_readOnlyMessage; }

    // Runs work inside a transaction (a savepoint when one is already open): commits when work
    // answers true, rolls everything back when it answers false or the commit fails. Answers
    // whether the change is now stored; the database's reason goes to lastError(). A read-only
    // store runs no work and answers false with readOnlyMessage() as the reason.
    bool transaction(const std::function<bool()>& work);
    // Work sets the reason of its failure here; the store sets it when SQLite fails.
    void setLastError(const QString& message) { m_lastError = message; }
    const QString& lastError() const { return m_lastError; }

private:
    BookmarkStore(sqlite3* db, QString path);
    bool run(const char* sql);
    bool prepareSchema(QString* reason);

    sqlite3* m_db;
    QString m_path;
    QString m_lastError;
    QString m_readOnlyMessage;
    int m_depth = 0;
};
