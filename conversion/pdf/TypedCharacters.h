// Qt names each glyph of a font it embeds in a PDF after the first character (in code order) that
// the font draws with that glyph. Where a font shares a glyph between an ideograph and its CJK
// radical or compatibility form (日 and ⽇ U+2F47), between the space and the tab, or draws "fi"
// with the glyph of the ligature ﬁ U+FB01, text taken out of the PDF would read as characters
// nobody typed. This puts back the characters the document holds.
#pragma once

#include <string>

class QPDF;

namespace conversion {

// Rewrites the ToUnicode map of every font in `pdf`: a glyph named by a CJK radical or a
// compatibility ideograph whose compatibility form (NFKC) is a unified ideograph is named by that
// ideograph, a glyph named by a Latin or Armenian ligature by its letters, and one named by the
// tab by the space, unless `text` (the text the PDF was made from) holds the first and not the
// second. Glyphs the map leaves unnamed are matched by shape with the text's characters beyond
// the Basic Multilingual Plane (GlyphsBeyondTheBMP.h). Fonts whose map cannot be read stay as
// they are.
void restoreTypedCharacters(QPDF& pdf, const std::u32string& text);

// What a font's glyph named `c` stands for in `text`: c itself when it needs no change.
std::u32string TypedTextFor(char32_t c, const std::u32string& text);

} // namespace conversion
