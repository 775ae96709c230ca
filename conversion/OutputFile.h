// An output that appears at its final name only once it is complete. Data go to a hidden
// temporary file (or folder) in the target's folder, which is then either renamed over a target
// (commit(), replace()) or renamed, without replacing anything, to the first free name of
// "Name.ext", "Name 1.ext", "Name 2.ext", ... (place()). An output that is not put in place is
// removed, so a failed or abandoned write leaves nothing behind and an existing target as it
// was. For open(), targets that are no regular file (standard output as "-", devices, pipes)
// are written in place, since they cannot be renamed over; a symbolic link stays, and the file
// it points to is replaced. Not thread-safe; one writer per object.
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
    // Flushes and closes the stream and puts the data at the target. Answers false (and removes
    // the temporary file) when any of that failed: a full disk shows here at the latest.
    bool commit();
    bool writesToStandardOutput() const { return m_file == stdout; }

    // Creates an empty temporary file or folder in `folder`. False with `error` set on failure.
    bool create(const std::filesystem::path& folder, bool isFolder, std::string& error);
    const std::filesystem::path& path() const { return m_temporary; }
    // Writes `bytes` to the temporary file, or to `relativePath` inside the temporary folder,
    // checking every write and the close (where a full disk shows at the latest).
    bool write(std::string_view bytes, std::string& error,
               const std::filesystem::path& relativePath = {});
    // Renames the temporary output over `target`.
    bool replace(const std::filesystem::path& target, std::string& error);
    // Renames the temporary output to the first free name; `placed` receives it. An empty
    // `extension` gives names without one.
    bool place(const std::string& name, const std::string& extension, std::filesystem::path& placed,
               std::string& error);

    // Closes any stream and removes the temporary output.
    void abandon();

private:
    FILE* m_file = nullptr;
    std::string m_target;
    std::filesystem::path m_temporary; // empty when writing in place or when done
    bool m_isFolder = false;
};

// Writes a whole file the safe way, then gives it the attributes.
bool WriteFileAtomically(const std::filesystem::path& target,
                         const std::vector<std::uint8_t>& bytes,
                         const std::optional<FileAttributes>& attributes, std::string& error);
// A name for a temporary file in `folder` (nothing is created).
std::filesystem::path TemporaryPathIn(const std::filesystem::path& folder, const std::string& tag);
// Gives an existing file the attributes; false when they cannot be set.
bool ApplyFileAttributes(const std::filesystem::path& path, const FileAttributes& attributes);
// The name "Name.ext" or, for a number above 0, "Name N.ext" (no dot without an extension).
std::string NumberedFileName(const std::string& name, const std::string& extension, int number);

} // namespace conversion
