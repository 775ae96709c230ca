// A run over several items (input files, pictures) goes on after one of them fails and writes
// what it can. Its entry must still answer false, so that no caller, and no exit status of
// convtool, takes a run that left something out for a success: whatever the last item did, one
// failed item makes the whole run fail.
//
// An entry opens an ItemFailures on its thread for the length of its job; the job notes each
// item that failed with NoteFailedItem on that same thread (the thread the entry runs on, not a
// worker's). A job that notes nothing is judged by its own result alone. Nested scopes are
// allowed: a note goes to the innermost.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

class ItemFailures {
public:
    // `command` prefixes the closing message ("merge").
    explicit ItemFailures(const char* command);
    ~ItemFailures();
    ItemFailures(const ItemFailures&) = delete;
    ItemFailures& operator=(const ItemFailures&) = delete;

    // The entry's answer: false when the job failed or any item failed. When items failed, one
    // closing message names them, so the failures stay visible after the lines that followed.
    bool result(bool jobResult) const;
    const std::vector<std::filesystem::path>& failed() const { return m_failed; }

private:
    friend void NoteFailedItem(const std::filesystem::path& item);
    const char* m_command;
    std::vector<std::filesystem::path> m_failed;
    ItemFailures* m_outer;
};

// Notes that `item` failed in the entry running on this thread; nothing outside an entry.
void NoteFailedItem(const std::filesystem::path& item);

} // namespace conversion
