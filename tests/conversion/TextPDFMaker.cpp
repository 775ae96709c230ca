#include "TextPDFMaker.h"

#include <cairo-pdf.h>
#include <cairo.h>

namespace {

const char* const kWords[] = {
    "the",    "document", "reader", "opens",    "every",    "page",      "with",
    "its",    "contents", "index",  "search",   "and",      "bookmarks", "café",
    "naïve",  "Größe",    "résumé", "export",   "to",       "a",         "single",
    "file",   "keeps",    "links",  "between",  "chapters", "—",         "“quoted”",
    "€12.50", "über",     "façade", "table",    "of",       "figures",   "while",
    "fonts",  "sizes",    "remain", "readable", "on",       "screen",    "paper",
};
constexpr unsigned kWordCount = sizeof kWords / sizeof kWords[0];

} // namespace

TextPDFPage ProsePage(int number, int bodyLines) {
    TextPDFPage page;
    page.push_back({"Chapter " + std::to_string(number), true, false, 16});
    unsigned state = 2654435761u * unsigned(number) + 12345u;
    for (int line = 0; line < bodyLines; ++line) {
        std::string text;
        for (int word = 0; word < 9; ++word) {
            state = state * 1103515245u + 12345u;
            if (!text.empty())
                text += ' ';
            text += kWords[(state >> 16) % kWordCount];
        }
        page.push_back({text, false, false, 11});
    }
    page.push_back({"End of page " + std::to_string(number) + " in italics", false, true, 10});
    return page;
}

bool WriteTextPDF(const std::string& path, const std::vector<TextPDFPage>& pages) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
    cairo_t* cr = cairo_create(surface);
    for (const TextPDFPage& page : pages) {
        double y = 72;
        for (const TextPDFLine& line : page) {
            cairo_select_font_face(cr, "DejaVu Sans",
                                   line.italic ? CAIRO_FONT_SLANT_OBLIQUE : CAIRO_FONT_SLANT_NORMAL,
                                   line.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, line.size);
            y += line.size * 1.6;
            cairo_move_to(cr, 56, y);
            cairo_show_text(cr, line.text.c_str());
        }
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok;
}

bool WriteProsePDF(const std::string& path, int count, int bodyLines) {
    std::vector<TextPDFPage> pages;
    for (int number = 1; number <= count; ++number)
        pages.push_back(ProsePage(number, bodyLines));
    return WriteTextPDF(path, pages);
}
