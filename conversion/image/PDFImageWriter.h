// One PDF holding pictures, a page each, through qpdf: the page is the picture's size at its
// resolution (72 dpi when it records none); samples are kept losslessly (Flate), alpha as a soft
// mask, the ICC profile as the colour space.
#pragma once

#include "Bitmap.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <string>
#include <vector>

class QPDF;

namespace conversion {

// The colour space of image samples with `components` colour channels: ICCBased on `profile`
// when the profile describes that many (its /N is read from the profile's own colour space),
// else the device space of that many channels.
QPDFObjectHandle imageColorSpace(QPDF& pdf, int components,
                                 const std::vector<std::uint8_t>& profile);

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
