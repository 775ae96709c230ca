#include "IsPDFPageBlank.h"

#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cstring>

namespace {

constexpr int kMaxTextCharacters = 5;

int visibleCharacterCount(const poppler::ustring& text) {
    int count = 0;
    for (const auto c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r' && c != u'\f' && c != 0xA0)
            ++count;
    }
    return count;
}

} // namespace

bool IsPDFPageBlank(const poppler::page* page) {
    if (!page)
        return false;
    if (visibleCharacterCount(page->text()) > kMaxTextCharacters)
        return false;
    poppler::rectf box = page->page_rect(poppler::crop_box);
    if (box.width() <= 0 || box.height() <= 0)
        box = page->page_rect(poppler::media_box);
    // Half size: a quarter of the pixels is enough to see any mark.
    if (static_cast<long long>(box.width() * 0.5) < 1 ||
        static_cast<long long>(box.height() * 0.5) < 1)
        return false;
    poppler::page_renderer renderer;
    renderer.set_paper_color(0xFFFFFFFF);
    renderer.set_image_format(poppler::image::format_argb32);
    const poppler::image image = renderer.render_page(page, 36.0, 36.0);
    if (!image.is_valid() || image.width() <= 0 || image.height() <= 0)
        return false;
    const char* data = image.const_data();
    const int rowBytes = image.bytes_per_row();
    const int usedBytes = image.width() * 4;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const unsigned char*>(data) +
                          static_cast<std::ptrdiff_t>(y) * rowBytes;
        for (int i = 0; i < usedBytes; ++i) {
            if (row[i] != 0xFF)
                return false;
        }
    }
    return true;
}
