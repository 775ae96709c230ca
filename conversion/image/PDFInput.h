// A PDF given as an image input, through Poppler: opening with the password rules and drawing a
// page into a bitmap.
#pragma once

#include "Bitmap.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace poppler {
class document;
}

namespace conversion {

class PDFInput {
public:
    PDFInput();
    ~PDFInput();
    PDFInput(const PDFInput&) = delete;
    PDFInput& operator=(const PDFInput&) = delete;

    // False when the file is no PDF Poppler can open.
    bool open(const std::filesystem::path& path);
    bool isOpen() const { return m_document != nullptr; }
    bool isEncrypted() const;
    // True when the pages can be read: the document was not locked, or the password opens it
    // as owner or user. Without a password the empty one is tried, which opens the common files
    // that only restrict printing or copying.
    bool unlock(const std::optional<std::string>& password);
    bool isLocked() const;
    int pageCount() const;
    // Page `index` (0-based) drawn on white at `dpi`; false with a message on failure.
    bool renderPage(int index, double dpi, Bitmap& out, std::string& error) const;

    // The page's crop box (its media box when the crop box is empty) in points, sides exchanged
    // for pages turned a quarter; false when the page is missing or both boxes are empty.
    bool pageSize(int index, double* width, double* height) const;
    // Page `index` drawn on white at `scale` pixels a point into exactly width x height pixels,
    // in grey or RGB; false with a message on failure.
    bool renderPageSized(int index, double scale, std::int64_t width, std::int64_t height,
                         bool gray, Bitmap& out, std::string& error) const;

    // False with a message when the page holds what would make Poppler fail to draw it safely
    // (see PageFunctionCheck.h). The file is read for it with qpdf once, on first use.
    bool pageIsSafeToDraw(int index, std::string& error) const;

    // The file, and the password that opened it (empty: none), for opening it again.
    const std::filesystem::path& path() const { return m_path; }
    const std::string& password() const { return m_password; }

private:
    std::unique_ptr<poppler::document> m_document;
    std::filesystem::path m_path;
    std::string m_password;
    struct PageChecker;
    mutable std::unique_ptr<PageChecker> m_checker;
    mutable bool m_checkerTried = false;
};

} // namespace conversion
