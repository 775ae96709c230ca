// Helpers of the bookmark tests: a fresh library folder per test, raw SQL on the store's file
// through a connection of its own, and copies of the compiled books to bookmark.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>

// Readable strings in the failure messages of GoogleTest.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace bookmarktest {

// A new empty folder under the scratch folder.
QString freshFolder();
// Runs the statements on the database file through a separate connection; false on failure.
bool execSql(const QString& databasePath, const QString& sql);
// The rows of a query, each row's columns joined by "|".
QStringList querySql(const QString& databasePath, const QString& sql);
// A copy of the compiled fixture under a new name in folder; answers its path.
QString copyFixture(const QString& fixture, const QString& folder, const QString& fileName);
// The RefCount and whether URLData is there, read from BookmarkURL.plist; -1 without entry.
int plistRefCount(const QString& plistPath, const QString& path, bool* hasData = nullptr);

// While one lives, the calling thread is held to permission bits like any user. The tests run as
// root, whom CAP_DAC_OVERRIDE lets write read-only files and folders; the guard takes that
// capability out of the thread's effective set and puts it back when it goes. Without the
// capability (an ordinary user) it does nothing. active() is false when it could not be dropped.
class PermissionBitsApply {
public:
    PermissionBitsApply();
    ~PermissionBitsApply();
    PermissionBitsApply(const PermissionBitsApply&) = delete;
    PermissionBitsApply& operator=(const PermissionBitsApply&) = delete;
    bool active() const { return m_active; }

private:
    bool m_active = false;
    bool m_restore = false;
};

} // namespace bookmarktest
