#include "GlyphsBeyondTheBMP.h"

#include <qpdf/Buffer.hh>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

namespace conversion {

namespace {

constexpr int kPixels = 64;          // the em drawn, in pixels
constexpr int kCanvas = 2 * kPixels; // room for side bearings and descenders
// A glyph matches a character when at most this share of their joint ink differs; a different
// ideograph differs by far more, the same one drawn from converted outlines by a few percent.
constexpr double kLargestDifference = 0.12;

using Canvas = std::vector<unsigned char>;

struct FreeType {
    FT_Library library = nullptr;
    FT_Face embedded = nullptr;
    FT_Face installed = nullptr;
    ~FreeType() {
        if (embedded)
            FT_Done_Face(embedded);
        if (installed)
            FT_Done_Face(installed);
        if (library)
            FT_Done_FreeType(library);
    }
};

// The glyph drawn with its origin at a fixed point of the canvas; empty when it has no ink.
Canvas draw(FT_Face face, FT_UInt glyph) {
    if (FT_Load_Glyph(face, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_RENDER) != 0)
        return {};
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.rows == 0 || bitmap.width == 0)
        return {};
    Canvas canvas(std::size_t(kCanvas) * kCanvas, 0);
    const int left = kPixels / 2 + face->glyph->bitmap_left;
    const int top = kPixels + kPixels / 2 - face->glyph->bitmap_top;
    for (unsigned row = 0; row < bitmap.rows; ++row)
        for (unsigned column = 0; column < bitmap.width; ++column) {
            const int x = left + int(column), y = top + int(row);
            if (x >= 0 && y >= 0 && x < kCanvas && y < kCanvas)
                canvas[std::size_t(y) * kCanvas + std::size_t(x)] =
                    bitmap.buffer[std::ptrdiff_t(row) * bitmap.pitch + column];
        }
    return canvas;
}

double difference(const Canvas& a, const Canvas& b) {
    long differing = 0, ink = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differing += std::abs(int(a[i]) - int(b[i]));
        ink += std::max(a[i], b[i]);
    }
    return ink > 0 ? double(differing) / double(ink) : 1.0;
}

// The installed face with the PostScript name, as its file and index; empty when none has it.
std::pair<std::string, int> installedFace(const std::string& postScriptName) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return {};
    FcPatternAddString(pattern, FC_POSTSCRIPT_NAME,
                       reinterpret_cast<const FcChar8*>(postScriptName.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match)
        return {};
    std::pair<std::string, int> face;
    FcChar8* name = nullptr;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_POSTSCRIPT_NAME, 0, &name) == FcResultMatch && name &&
        FcStrCmp(name, reinterpret_cast<const FcChar8*>(postScriptName.c_str())) == 0 &&
        FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
        face.first = reinterpret_cast<const char*>(file);
        FcPatternGetInteger(match, FC_INDEX, 0, &face.second);
    }
    FcPatternDestroy(match);
    return face;
}

} // namespace

std::map<unsigned, char32_t> NameGlyphsBeyondTheBMP(QPDFObjectHandle font,
                                                    const std::set<unsigned>& named,
                                                    const std::u32string& text) {
    std::set<char32_t> wanted;
    for (char32_t c : text)
        if (c >= 0x10000)
            wanted.insert(c);
    if (wanted.empty() || !font.isDictionary() || !font.getKey("/DescendantFonts").isArray())
        return {};
    QPDFObjectHandle descendant = font.getKey("/DescendantFonts").getArrayItem(0);
    if (!descendant.isDictionary())
        return {};
    QPDFObjectHandle map = descendant.getKey("/CIDToGIDMap");
    QPDFObjectHandle baseFont = descendant.getKey("/BaseFont");
    QPDFObjectHandle descriptor = descendant.getKey("/FontDescriptor");
    if (!(map.isNull() || (map.isName() && map.getName() == "/Identity")) || !baseFont.isName() ||
        !descriptor.isDictionary() || !descriptor.getKey("/FontFile2").isStream())
        return {};
    // "/QTAAAA+NotoSansCJKjp-Regular": the subset's tag, then the face's PostScript name.
    std::string postScriptName = baseFont.getName().substr(1);
    if (postScriptName.size() > 7 && postScriptName[6] == '+')
        postScriptName.erase(0, 7);
    const auto [file, index] = installedFace(postScriptName);
    if (file.empty())
        return {};
    const std::shared_ptr<Buffer> program =
        descriptor.getKey("/FontFile2").getStreamData(qpdf_dl_generalized);
    FreeType ft;
    if (FT_Init_FreeType(&ft.library) != 0 ||
        FT_New_Memory_Face(ft.library, program->getBuffer(), FT_Long(program->getSize()), 0,
                           &ft.embedded) != 0 ||
        FT_New_Face(ft.library, file.c_str(), index, &ft.installed) != 0 ||
        FT_Set_Pixel_Sizes(ft.embedded, 0, kPixels) != 0 ||
        FT_Set_Pixel_Sizes(ft.installed, 0, kPixels) != 0)
        return {};

    std::vector<std::pair<char32_t, Canvas>> characters;
    for (char32_t c : wanted)
        if (const FT_UInt glyph = FT_Get_Char_Index(ft.installed, FT_ULong(c)); glyph != 0)
            if (Canvas drawn = draw(ft.installed, glyph); !drawn.empty())
                characters.emplace_back(c, std::move(drawn));
    std::map<unsigned, char32_t> found;
    const long glyphs = std::min<long>(ft.embedded->num_glyphs, 0x10000);
    for (long code = 1; code < glyphs && !characters.empty(); ++code) {
        if (named.count(unsigned(code)))
            continue;
        const Canvas glyph = draw(ft.embedded, FT_UInt(code));
        if (glyph.empty())
            continue;
        // Named only when one character alone is close enough: no guess between two.
        int close = 0;
        std::size_t best = 0;
        for (std::size_t i = 0; i < characters.size(); ++i)
            if (difference(glyph, characters[i].second) <= kLargestDifference) {
                ++close;
                best = i;
            }
        if (close == 1)
            found[unsigned(code)] = characters[best].first;
    }
    return found;
}

} // namespace conversion
