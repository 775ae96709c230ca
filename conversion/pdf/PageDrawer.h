// Draws the pages of one PDF into bitmaps with Poppler's rasteriser, keeping the document, the
// font engine with its glyph cache and the bitmap from page to page: a worker of the
// PDF-to-images run holds one, since a Poppler document is used by one thread at a time.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

class PDFDoc;
class SplashOutputDev;

namespace conversion {

class PageDrawer {
public:
    PageDrawer();
    ~PageDrawer();
    PageDrawer(const PageDrawer&) = delete;
    PageDrawer& operator=(const PageDrawer&) = delete;

    // Opens the file with the password as owner and user password (empty: none); false with a
    // message when it cannot be opened or stays locked.
    bool open(const std::filesystem::path& path, const std::string& password, std::string& error);
    // Page `index` (0-based) drawn on white at `scale` pixels a point into exactly width x height
    // pixels, in grey or RGB, antialiased, as PDFInput::renderPageSized draws it. `out` keeps its
    // buffer from call to call. False with a message on failure.
    bool draw(int index, double scale, std::int64_t width, std::int64_t height, bool gray,
              Bitmap& out, std::string& error);

private:
    std::unique_ptr<PDFDoc> m_document;
    std::unique_ptr<SplashOutputDev> m_rgb;
    std::unique_ptr<SplashOutputDev> m_gray;
};

} // namespace conversion
