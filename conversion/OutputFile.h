// An output that appears at its final name only once it is complete. Data go to a hidden
// temporary file (or folder) in the target's folder, which is then either renamed over a target
// (commit(), replace()) or renamed, without replacing anything, to the first free name of
// "Name.ext", "Name 1.ext", "Name 2.ext", ... (place()). An output that is not put in place is
// removed, so a failed or abandoned write leaves nothing behind and an existing target as it
// was. For open(), targets that are no regular file (standard output as "-", devices, pipes)
// are written in place, since they cannot be renamed over; a symbolic link stays, and the file
// it points to is replaced. Every write, flush, fsync and close is checked, and the data reach
// the disk before the rename, so a full disk fails the write and keeps the old file.
//
// Temporary files and folders are named ".lumeno-PID-RANDOM.part", and the run that makes one
// holds a lock (flock) on it until it is renamed or removed. A run that is killed cannot remove
// its own; the next writer into the same folder removes those that no one holds and whose
// process is gone. The lock, not the process id, tells a live run: a run in another PID
// namespace sharing the folder has an id that means nothing here.
// Not thread-safe; one writer per object.
#pragma once

#include "ConversionEntries.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace conversion {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // An output that was not put in place is abandoned.
    ~OutputFile();

    // Stream output that replaces `targetPath`: answers the stream to write to, or null (errno
    // set) when it cannot be created.
    FILE* open(const char* targetPath);
    // Flushes, syncs and closes the stream and puts the data at the target. Answers false (and
    // removes the temporary file, errno and errorText() set) when any of that failed: a full disk
    // shows here at the latest.
    bool commit();
    bool writesToStandardOutput() const { return m_file == stdout; }
    // The cause of the last failure, as strerror gives it ("No space left on device").
    const char* errorText() const;

    // Creates an empty temporary file or folder in `folder`. False with `error` set on failure.
    bool create(const std::filesystem::path& folder, bool isFolder, std::string& error);
    const std::filesystem::path& path() const { return m_temporary; }
    // Writes `bytes` to the temporary file, or to `relativePath` inside the temporary folder,
    // checking every write, the sync and the close (where a full disk shows at the latest).
    // `error` receives the cause alone.
    bool write(std::string_view bytes, std::string& error,
               const std::filesystem::path& relativePath = {});
    // Adds `bytes` at the end of the temporary file, for output written piece by piece; checks
    // the writes and the close but does not sync: call sync() after the last piece.
    bool append(std::string_view bytes, std::string& error);
    // Syncs the temporary file, so that a full disk shows before it is put in place.
    bool sync(std::string& error);
    // Syncs the temporary file (written by name, by another library) and renames it over
    // `target`. Folders are synced file by file as they are written.
    bool replace(const std::filesystem::path& target, std::string& error);
    // Renames the temporary output to the first free name; `placed` receives it. An empty
    // `extension` gives names without one.
    bool place(const std::string& name, const std::string& extension, std::filesystem::path& placed,
               std::string& error);

    // Closes any stream and removes the temporary output.
    void abandon();

private:
    bool fail(int error);

    FILE* m_file = nullptr;
    // The descriptor whose lock claims the temporary output; -1 without one.
    int m_claim = -1;
    int m_error = 0;
    std::string m_target;
    std::filesystem::path m_temporary; // empty when writing in place or when done
    bool m_isFolder = false;
};

// Writes a whole file the safe way, then gives it the attributes.
bool writeFileAtomically(const std::filesystem::path& target,
                         const std::vector<std::uint8_t>& bytes,
                         const std::optional<FileAttributes>& attributes, std::string& error);
struct RemoveOnExit;
// A temporary file in `folder` for other code (a library, a child program) to write by name:
// made empty and claimed, so that no other run's sweep takes it while the answer lives, and
// removed, with what was written to it, when the answer goes. A writer that truncates the file
// keeps the claim; one that renames another file over it does not. When the file cannot be
// made, the answer only names a free file, and the writer meets the cause.
RemoveOnExit claimTemporaryIn(const std::filesystem::path& folder);
// Removes the temporary files and folders that killed runs left in `folder`: those no one holds
// a lock on and whose process is gone. Done once per folder and process, and by every OutputFile
// before it creates one.
void removeAbandonedTemporaries(const std::filesystem::path& folder);
// Removes this process's own temporary files and folders from every folder it made one in: what
// a run ended from outside would otherwise leave until the next writer came.
void removeOwnTemporaries();
// Flushes a file's data to the disk; 0 or the error.
int syncFile(const std::filesystem::path& path);
// Gives an existing file the attributes; false when they cannot be set.
bool applyFileAttributes(const std::filesystem::path& path, const FileAttributes& attributes);
// The file for an output "name.extension" in `folder`: that name when it is free or, with
// `replace`, when it is a plain file, which the finished output then replaces; otherwise the
// first free numbered name ("name 1.extension" ...). Nothing is removed here, so an earlier file
// stays until the output that replaces it is complete. Empty when no name can be made.
std::filesystem::path outputPathInFolder(const std::filesystem::path& folder,
                                         const std::string& name, const std::string& extension,
                                         bool replace);
// Whether a base name for output files names a file in the output folder: not empty, not "."
// or "..", and without a slash that would lead out of it.
bool isPlainFileName(const std::string& name);
// The name "Name.ext" or, for a number above 0, "Name N.ext" (no dot without an extension).
std::string numberedFileName(const std::string& name, const std::string& extension, int number);

// A fresh private folder under the temporary directory ("lumeno-NAME-XXXXXX"), removed with
// everything in it when this goes out of scope, or when the run is ended from outside
// (RunCleanup.h): the working folder of a helper program.
class TemporaryFolder {
public:
    TemporaryFolder() = default;
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();
    // False with the cause in `error`; `purpose` says in it what the folder was for.
    bool create(const std::string& name, const std::string& purpose, std::string& error);
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::uint64_t m_ticket = 0;
};

// Removes a file or a folder with all it holds. Another thread may be removing it at the same
// time (a run ended from outside cleans up while its own thread does): where that one took an
// entry away first, this goes on with the rest.
void removeCompletely(const std::filesystem::path& path);

// Removes a file or a folder with what it holds when it goes out of scope: the temporary files
// and folders that other libraries and programs write by name. A claim (claimTemporaryIn) is
// let go only once the file is gone. The path given to the constructor is also removed when the
// run is ended from outside (RunCleanup.h).
struct RemoveOnExit {
    std::filesystem::path path;
    int claim = -1;
    RemoveOnExit() = default;
    explicit RemoveOnExit(std::filesystem::path p, int claimed = -1);
    RemoveOnExit(RemoveOnExit&& other) noexcept;
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;
    ~RemoveOnExit();

private:
    std::uint64_t m_ticket = 0;
};

} // namespace conversion
