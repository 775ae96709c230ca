// An output file that replaces its target only once it is complete. Data go to a temporary file
// in the target's folder, which commit() renames over the target; a failed or abandoned write
// removes the temporary file and leaves an existing target as it was. Targets that are no
// regular file (standard output as "-", devices, pipes) are written in place, since they cannot
// be renamed over; a symbolic link stays, and the file it points to is replaced. Not
// thread-safe; one writer per object.
#pragma once

#include <cstdio>
#include <string>

class ReplacingOutputFile {
public:
    ReplacingOutputFile() = default;
    ReplacingOutputFile(const ReplacingOutputFile&) = delete;
    ReplacingOutputFile& operator=(const ReplacingOutputFile&) = delete;
    // An open file that was not committed is abandoned.
    ~ReplacingOutputFile();

    // Answers the stream to write to, or null (errno set) when it cannot be created.
    FILE* open(const char* targetPath);
    // Flushes and closes the stream and puts the data at the target. Answers false (and removes
    // the temporary file) when any of that failed: a full disk shows here at the latest.
    bool commit();
    // Closes the stream and removes the temporary file.
    void abandon();

    bool writesToStandardOutput() const { return m_file == stdout; }

private:
    FILE* m_file = nullptr;
    std::string m_target;
    std::string m_temporary; // empty when writing in place
};
