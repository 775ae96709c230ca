// The data kept to find a bookmarked .chm file again in a later run: its absolute path with its
// identity then (device, inode, size, modification time), as a small JSON object. Resolving
// answers the path when a file still exists there, and says whether it is still the same file
// (stale when not). A file renamed within its folder is found again there by its device, inode
// and size. Pure functions over the file system; any thread.
#pragma once

#include <QByteArray>
#include <QString>

namespace FileIdentity {

// Empty when the path names no existing regular file.
QByteArray bookmarkData(const QString& path);

// The path the data names when a file that is no folder exists there. When nothing is there any
// more, the file of the recorded device, inode and size in the same folder, if there is one
// (*moved then true): a book renamed where it lies. Empty otherwise, and for data that does not
// read. *stale is true when the file at the recorded path is no longer the one recorded.
QString resolve(const QByteArray& data, bool* stale = nullptr, bool* moved = nullptr);

} // namespace FileIdentity
