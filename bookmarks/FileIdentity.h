// The data kept to find a bookmarked .chm file again in a later run: its absolute path with its
// identity then (device, inode, size, modification time), as a small JSON object. Resolving
// answers the path when a file still exists there, and says whether it is still the same file
// (stale when not). Pure functions over the file system; any thread.
#pragma once

#include <QByteArray>
#include <QString>

namespace FileIdentity {

// Empty when the path names no existing regular file.
QByteArray bookmarkData(const QString& path);

// The path the data names when a file that is no folder exists there; empty otherwise, and for
// data that does not read. *stale is true when the file there is no longer the one recorded.
QString resolve(const QByteArray& data, bool* stale = nullptr);

} // namespace FileIdentity
