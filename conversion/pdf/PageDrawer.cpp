#include "PageDrawer.h"

#include "PixelLimits.h"
#include "PopplerMessages.h"

#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <algorithm>
#include <cstring>
#include <goo/GooString.h>
#include <splash/SplashBitmap.h>

namespace conversion {

PageDrawer::PageDrawer() = default;
PageDrawer::~PageDrawer() = default;

bool PageDrawer::open(const std::filesystem::path& path, const std::string& password,
                      std::string& error) {
    ensurePopplerWithConversionLog();
    m_rgb.reset();
    m_gray.reset();
    std::optional<GooString> secret;
    if (!password.empty())
        secret.emplace(password);
    m_document =
        std::make_unique<PDFDoc>(std::make_unique<GooString>(path.string()), secret, secret);
    if (!m_document->isOk()) {
        error = "the PDF document cannot be opened again for drawing";
        m_document.reset();
        return false;
    }
    return true;
}

bool PageDrawer::draw(int index, double scale, std::int64_t width, std::int64_t height, bool gray,
                      Bitmap& out, std::string& error) {
    if (!m_document || index < 0 || index >= m_document->getNumPages()) {
        error = "the PDF page cannot be read";
        return false;
    }
    if (!checkedPictureBytes(width, height, 4, nullptr, &error))
        return false;
    std::unique_ptr<SplashOutputDev>& device = gray ? m_gray : m_rgb;
    if (!device) {
        SplashColor white;
        std::memset(white, 255, sizeof white);
        device = std::make_unique<SplashOutputDev>(gray ? splashModeMono8 : splashModeRGB8, 4,
                                                   false, white);
        device->setFontAntialias(true);
        device->setVectorAntialias(true);
        device->setFreeTypeHinting(false, false);
        device->startDoc(m_document.get());
    }
    const double dpi = 72 * scale;
    m_document->displayPageSlice(device.get(), index + 1, dpi, dpi, 0, false, true, false, 0, 0,
                                 int(width), int(height));
    const SplashBitmap* image = device->getBitmap();
    if (!image || image->getWidth() <= 0 || image->getHeight() <= 0) {
        error = "the PDF page could not be drawn";
        return false;
    }
    const ColorModel model = gray ? ColorModel::Gray : ColorModel::RGB;
    // The buffer of the last page is taken again as it is when the size is the same: every row
    // is written below, so clearing it first would only cost time.
    const bool sameSize = out.width == width && out.height == height && out.model == model &&
                          !out.hasAlpha &&
                          out.pixels.size() == out.rowBytes() * std::size_t(height);
    if (!sameSize && !out.allocate(width, height, model, false, &error))
        return false;
    const std::int64_t rows = std::min<std::int64_t>(height, image->getHeight());
    const std::size_t bytes =
        std::min<std::size_t>(out.rowBytes(), std::size_t(image->getWidth()) * (gray ? 1 : 3));
    // Poppler may give a slice a pixel short at the page's edge: the rest stays white.
    if (rows < height || bytes < out.rowBytes())
        std::fill(out.pixels.begin(), out.pixels.end(), std::uint8_t(255));
    if (std::size_t(image->getRowSize()) < bytes) {
        error = "the PDF page could not be drawn";
        return false;
    }
    const unsigned char* data = image->getDataPtr();
    for (std::int64_t y = 0; y < rows; ++y)
        std::memcpy(out.row(y), data + std::size_t(y) * std::size_t(image->getRowSize()), bytes);
    return true;
}

} // namespace conversion
