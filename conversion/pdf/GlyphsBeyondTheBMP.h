// Qt leaves the glyphs of characters beyond the Basic Multilingual Plane (𠮷 U+20BB7 and the
// other CJK extension ideographs, emoji, historic scripts) out of the ToUnicode map of a font it
// embeds: text taken out of the PDF loses them. They are found again by their shape, comparing
// each unnamed glyph of the embedded program with the glyphs the installed face the font was made
// from has for the document's characters beyond that plane.
#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <map>
#include <set>
#include <string>

namespace conversion {

// For a Type 0 font with an embedded TrueType program and identity glyph numbers: the character
// of each glyph whose two-byte code is not in `named` and whose shape matches, at a size where
// strokes are distinct, exactly one such character of `text`. Empty when the font, its program
// or its installed face cannot be read, or `text` has no character beyond the plane.
std::map<unsigned, char32_t> NameGlyphsBeyondTheBMP(QPDFObjectHandle font,
                                                    const std::set<unsigned>& named,
                                                    const std::u32string& text);

} // namespace conversion
