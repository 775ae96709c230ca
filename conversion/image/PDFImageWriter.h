// One PDF holding pictures, a page each, through qpdf: the page is the picture's size at its
// resolution (72 dpi when it records none); samples are kept losslessly (Flate), alpha as a soft
// mask, the ICC profile as the colour space.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace conversion {

class PDFImageWriter {
public:
    // dpi of 0 takes the page's own.
    void addPage(const Bitmap& bitmap, double dpiX, double dpiY);
    std::size_t pageCount() const { return m_pages.size(); }
    bool write(std::vector<std::uint8_t>& out, std::string& error) const;

private:
    struct Page {
        const Bitmap* bitmap;
        double dpiX;
        double dpiY;
    };
    std::vector<Page> m_pages;
};

} // namespace conversion
