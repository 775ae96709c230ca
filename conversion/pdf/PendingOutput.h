// A new output file or folder that appears under its final name only when complete. It is
// written under a hidden temporary name in the target folder, then renamed, without replacing
// anything, to the first free name of "Name.ext", "Name 1.ext", "Name 2.ext", ... An output that
// is not placed is removed by the destructor, so a failed run leaves nothing behind. One thread
// per object.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace conversion {

class PendingOutput {
public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput();

    // Creates the temporary file (empty) or folder in `folder`. False with `error` set on failure.
    bool create(const std::filesystem::path& folder, bool isFolder, std::string& error);
    const std::filesystem::path& path() const { return m_temporary; }

    // Writes `bytes` to the temporary file, or to `relativePath` inside the temporary folder,
    // checking every write and the close (where a full disk shows at the latest).
    bool write(std::string_view bytes, std::string& error,
               const std::filesystem::path& relativePath = {});

    // Renames the output to the first free name; `placed` receives it. An empty `extension`
    // gives names without one.
    bool place(const std::string& name, const std::string& extension, std::filesystem::path& placed,
               std::string& error);

private:
    void discard();

    std::filesystem::path m_temporary;
    bool m_isFolder = false;
};

// The name "Name.ext" or, for a number above 0, "Name N.ext" (no dot without an extension).
std::string NumberedFileName(const std::string& name, const std::string& extension, int number);

} // namespace conversion
