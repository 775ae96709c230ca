// Files, folders, shell commands and PNG read-back shared by every conversion test program.
#pragma once

#include "ConversionEntries.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testfiles {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A fresh empty folder of this name in the program's scratch folder, removed when it ends.
fs::path freshDir(const std::string& name);

Bytes readBytes(const fs::path& path);
std::string readText(const fs::path& path);
void writeBytes(const fs::path& path, const Bytes& bytes);
// Names directly in the folder, sorted.
std::vector<std::string> listFolder(const fs::path& folder);

std::string shellQuote(const fs::path& path);
// Standard output of a shell command, and its exit status in `status` when given.
std::string capture(const std::string& command, int* status = nullptr);
// Exit status of a shell command.
int run(const std::string& command);

// Copies of a valid file for the decoders to survive: cut short at about `cuts` points, and with
// single bytes flipped (x ^ 0xFF) or set to 0xFF (large lengths, counts, offsets) at about `flips`.
std::vector<Bytes> damagedCopies(const Bytes& original, std::size_t cuts, std::size_t flips);

// Options of the image job that convert `in` into `out` in the format `code`.
ImageJobOptions jobOptions(const fs::path& in, const fs::path& out, std::int32_t code);

struct PNGPicture {
    int width = 0, height = 0;
    Bytes rgba; // 8-bit RGBA; 16-bit files keep their high bytes, without gamma
    bool ok = false;
};
PNGPicture readPNG(const fs::path& path);

// Records the progress reported, and asks to cancel from its `cancelAt`-th question on (0: never)
// or once `cancelAfterReports` reports have come (-1: never).
class ProgressRecorder : public ConversionProgress {
public:
    explicit ProgressRecorder(std::int64_t cancelAt = 0) : m_cancelAt(cancelAt) {}
    bool isConversionCancelled() override {
        ++asked;
        return (m_cancelAt > 0 && asked >= m_cancelAt) ||
               (cancelAfterReports >= 0 && std::int64_t(reports.size()) >= cancelAfterReports);
    }
    void progress(std::int64_t value) override { reports.push_back(value); }

    std::vector<std::int64_t> reports;
    std::int64_t asked = 0;
    std::int64_t cancelAfterReports = -1;

private:
    std::int64_t m_cancelAt;
};

} // namespace testfiles
