#include "PDFInput.h"

#include "PageFunctionCheck.h"
#include "PixelLimits.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <set>

namespace conversion {

// The file read with qpdf for the checks, and the objects found safe on pages already checked
// (resources shared by many pages are looked at once).
struct PDFInput::PageChecker {
    QPDF qpdf;
    std::set<QPDFObjGen> safe;
};

namespace {
void quietPoppler(const std::string&, void*) {}
} // namespace

PDFInput::PDFInput() = default;
PDFInput::~PDFInput() = default;

bool PDFInput::open(const std::filesystem::path& path) {
    poppler::set_debug_error_function(quietPoppler, nullptr);
    m_document.reset(poppler::document::load_from_file(path.string()));
    m_path = path;
    m_password.clear();
    m_checker.reset();
    m_checkerTried = false;
    return m_document != nullptr;
}

bool PDFInput::isEncrypted() const {
    // A document still locked has not told Poppler that it is encrypted.
    return m_document && (m_document->is_encrypted() || m_document->is_locked());
}

bool PDFInput::isLocked() const {
    return m_document && m_document->is_locked();
}

bool PDFInput::unlock(const std::optional<std::string>& password) {
    if (!m_document)
        return false;
    if (!m_document->is_locked())
        return true;
    const std::string given = password.value_or(std::string());
    // Poppler's unlock answers true while the document is still locked, so the state decides.
    m_document->unlock(given, given);
    m_password = given;
    m_checker.reset();
    m_checkerTried = false;
    return !m_document->is_locked();
}

int PDFInput::pageCount() const {
    return m_document ? m_document->pages() : 0;
}

bool PDFInput::pageIsSafeToDraw(int index, std::string& error) const {
    if (!m_checkerTried) {
        m_checkerTried = true;
        try {
            auto checker = std::make_unique<PageChecker>();
            checker->qpdf.setSuppressWarnings(true);
            checker->qpdf.processFile(m_path.c_str(),
                                      m_password.empty() ? nullptr : m_password.c_str());
            m_checker = std::move(checker);
        } catch (const std::exception&) {
            m_checker.reset(); // what qpdf cannot open is left to Poppler alone
        }
    }
    if (!m_checker)
        return true;
    try {
        const std::vector<QPDFPageObjectHelper> pages =
            QPDFPageDocumentHelper(m_checker->qpdf).getAllPages();
        if (index < 0 || std::size_t(index) >= pages.size())
            return true; // the two libraries count the pages differently: nothing to match
        return pageFunctionsAreSafeToDraw(pages[std::size_t(index)].getObjectHandle(), error,
                                          &m_checker->safe);
    } catch (const std::exception& e) {
        error = std::string("the PDF page cannot be checked: ") + e.what();
        return false;
    }
}

bool PDFInput::renderPage(int index, double dpi, Bitmap& out, std::string& error) const {
    if (!m_document || m_document->is_locked() || index < 0 || index >= m_document->pages()) {
        error = "the PDF page cannot be read";
        return false;
    }
    if (!pageIsSafeToDraw(index, error))
        return false;
    std::unique_ptr<poppler::page> page(m_document->create_page(index));
    if (!page) {
        error = "the PDF page cannot be read";
        return false;
    }
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    const bool turned = page->orientation() == poppler::page::landscape ||
                        page->orientation() == poppler::page::seascape;
    const double wPoints = turned ? box.height() : box.width();
    const double hPoints = turned ? box.width() : box.height();
    if (!(std::isfinite(dpi) && dpi > 0))
        dpi = 72;
    const double w = std::ceil(wPoints * dpi / 72.0);
    const double h = std::ceil(hPoints * dpi / 72.0);
    if (!(w >= 1 && h >= 1 && w < 1e9 && h < 1e9) ||
        !checkedPictureBytes(std::int64_t(w), std::int64_t(h), 4, nullptr, &error)) {
        if (error.empty())
            error = "the PDF page has no usable size";
        return false;
    }
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(poppler::image::format_rgb24);
    const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
    if (!image.is_valid() || image.width() <= 0 || image.height() <= 0) {
        error = "the PDF page could not be drawn";
        return false;
    }
    if (!out.allocate(image.width(), image.height(), ColorModel::RGB, false, &error))
        return false;
    out.dpiX = out.dpiY = dpi;
    // Poppler's RGB rows hold three bytes a pixel, red first, padded at the row's end.
    if (image.bytes_per_row() < image.width() * 3) {
        error = "the PDF page could not be drawn";
        return false;
    }
    const char* data = image.const_data();
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(out.row(y), data + std::size_t(y) * std::size_t(image.bytes_per_row()),
                    out.rowBytes());
    return true;
}

bool PDFInput::pageSize(int index, double* width, double* height) const {
    if (!m_document || m_document->is_locked() || index < 0 || index >= m_document->pages())
        return false;
    std::unique_ptr<poppler::page> page(m_document->create_page(index));
    if (!page)
        return false;
    poppler::rectf box = page->page_rect(poppler::crop_box);
    if (!(box.width() > 0 && box.height() > 0))
        box = page->page_rect(poppler::media_box);
    if (!(box.width() > 0 && box.height() > 0))
        return false;
    const bool turned = page->orientation() == poppler::page::landscape ||
                        page->orientation() == poppler::page::seascape;
    *width = turned ? box.height() : box.width();
    *height = turned ? box.width() : box.height();
    return true;
}

bool PDFInput::renderPageSized(int index, double scale, std::int64_t width, std::int64_t height,
                               bool gray, Bitmap& out, std::string& error) const {
    if (!m_document || m_document->is_locked() || index < 0 || index >= m_document->pages()) {
        error = "the PDF page cannot be read";
        return false;
    }
    if (!checkedPictureBytes(width, height, 4, nullptr, &error) || !pageIsSafeToDraw(index, error))
        return false;
    std::unique_ptr<poppler::page> page(m_document->create_page(index));
    if (!page) {
        error = "the PDF page cannot be read";
        return false;
    }
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(gray ? poppler::image::format_gray8 : poppler::image::format_rgb24);
    const double dpi = 72 * scale;
    const poppler::image image =
        renderer.render_page(page.get(), dpi, dpi, 0, 0, int(width), int(height));
    if (!image.is_valid() || image.width() <= 0 || image.height() <= 0) {
        error = "the PDF page could not be drawn";
        return false;
    }
    if (!out.allocate(width, height, gray ? ColorModel::Gray : ColorModel::RGB, false, &error))
        return false;
    // Poppler may give a slice a pixel short at the page's edge: the rest stays white.
    std::fill(out.pixels.begin(), out.pixels.end(), std::uint8_t(255));
    const std::int64_t rows = std::min<std::int64_t>(height, image.height());
    const std::size_t bytes =
        std::min<std::size_t>(out.rowBytes(), std::size_t(image.width()) * (gray ? 1 : 3));
    if (std::size_t(image.bytes_per_row()) < bytes) {
        error = "the PDF page could not be drawn";
        return false;
    }
    const char* data = image.const_data();
    for (std::int64_t y = 0; y < rows; ++y)
        std::memcpy(out.row(y), data + std::size_t(y) * std::size_t(image.bytes_per_row()), bytes);
    return true;
}

} // namespace conversion
