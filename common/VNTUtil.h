// Shared helpers: the running system's version, temporary and collision-free file names,
// whole-file transfer, string and path conversions, and byte-size display.
//
// None of these functions keeps state, so any thread may call them. Names are never reserved:
// two callers asking for a unique name in the same folder at the same moment may get the same one.
// A null URL is an invalid (empty) QUrl; a null string is a null QString. File names are built only
// for local file URLs; byte strings and C strings hold UTF-8. Nothing here throws.
#pragma once

#include <QString>
#include <QUrl>
#include <cstddef>
#include <cstdint>
#include <string>

// ---- Version --------------------------------------------------------------------------------

// How the running system compares with the given version: negative when it is older, 0 when it is
// the same, positive when it is newer. Callers look at the sign only.
int CompareSystemVersion(int majorVersion, int minorVersion, int patchVersion);

// The same comparison against an explicit running version.
int CompareSystemVersion(int majorVersion, int minorVersion, int patchVersion, int runningMajor,
                         int runningMinor, int runningPatch);

// ---- Names ------------------------------------------------------------------------------------

// A path named by a new UUID in the temporary folder. Nothing is created there.
QUrl GetTemporaryURL();

// A path named by a new UUID in a scratch folder from which the file can later be moved onto
// `destination` cheaply: the temporary folder, or the destination's own folder when the temporary
// folder lies on another file system.
QUrl GetTemporaryURLForDestination(const QUrl& destination);

// "<prefix>-<UUID>" in the temporary folder.
QUrl GetTemporaryURLWithPrefix(const QString& prefix);

// A name in `folder` at which nothing exists: "base.ext", else "base 1.ext", "base 2.ext" ... (no
// dot when `extension` is null or empty). With `replaceExisting`, an existing regular file at
// "base.ext" is removed and that name returned; nothing else is ever removed. An invalid folder
// gives an invalid URL.
QUrl GetUniqueURLInFolder(const QUrl& folder, const QString& baseName, const QString& extension,
                          bool replaceExisting);

// GetUniqueURLInFolder with the base name of `file` (its last path component without extension).
QUrl GetUniqueURLForFileInFolder(const QUrl& folder, const QUrl& file, const QString& extension,
                                 bool replaceExisting);

// A folder name in `parent` that is no existing directory: "name", else "name 1", "name 2" ...
// With `create` the folder is made (with missing parents); an invalid URL when that fails, for
// instance because a plain file already has the name.
QUrl GetUniqueFolderURL(const QUrl& parent, const QString& name, bool create);

// GetUniqueFolderURL with the base name of `file`.
QUrl GetUniqueFolderURLForFile(const QUrl& parent, const QUrl& file, bool create);

// ---- Whole files ------------------------------------------------------------------------------
//
// Error codes: 0 success; errno when a file cannot be opened, and when a seek or truncation of the
// written file fails; -1 when the status of a file cannot be read or a seek on the read file fails;
// 12 when a buffer cannot be allocated; 5 when a transfer ends early or a read or write fails.

// Writes `length` bytes to `path`, created (mode 0600) or truncated.
int writeFile(const char* path, const void* buffer, size_t length);

// Reads the whole of `path` into a new buffer that the caller frees with free(). Both outputs are
// cleared first and set only on success.
int readFile(const char* path, void** buffer, size_t* length);

// Copies `source` to `destination`, created (mode 0600) or truncated.
int copyFile(const char* source, const char* destination);

// copyFile moving at most `chunkSize` bytes per step.
int copyFileInChunks(const char* source, const char* destination, size_t chunkSize);

// Moves `source` onto `destination`. True when the source now stands at the destination, or when
// nothing had to be done (a null URL, or both naming the same file).
bool ReplaceFileAtURL(const QUrl& source, const QUrl& destination);

// Stores the size of `file` in `size` when the file opens; answers 0 then, else the errno of the
// failure (leaving `size` untouched).
qint64 GetFileSizeOfURL(const QUrl& file, quint64* size);

// ---- Strings ----------------------------------------------------------------------------------

// Last path component of the URL's path without its extension. `ok` (may be null) is false, and
// the result empty, for a null URL.
std::string GetFileBaseName(const QUrl& url, bool* ok);

std::string ToStdString(const QString& string);

// The URL's path; `ok` as for GetFileBaseName.
std::string URLPathToStdString(const QUrl& url, bool* ok);

// Heap copies (free() them) of the URL's path or of the string; NULL when null or empty.
char* CopyURLPathCString(const QUrl& url);
char* CopyCString(const QString& string);

// "1022 B", "1.0 KB", "1.5 MB", "2.0 GB", "1024.0 TB": a unit is taken from 1023 of the one below.
QString FormatByteSize(double bytes);

// ---- URLs -------------------------------------------------------------------------------------

// True when the URLs are equal, or both are file URLs of the same path. Never true for a null URL.
bool isEqualToURL(const QUrl& url, const QUrl& other);
