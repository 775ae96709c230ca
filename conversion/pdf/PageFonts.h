// The fonts a page names: the identities (object number, generation) of the fonts in its
// resources, in those of the forms and tiling patterns they use (however deep), and in its
// annotations' appearances. A word of the page's text whose font is none of them (a font of a
// soft mask's group, say) has no known font name.
//
// Poppler's font scanner answers the same set, but it builds every font, reads its embedded
// file and asks fontconfig for a substitute of every font that is not embedded, on every page.
// Here the fonts' identities are read from the resource dictionaries alone; only where those
// leave the answer open (a font given directly in a font dictionary that is itself no object of
// its own, or two fonts sharing an object number) does Poppler's scanner decide.
#pragma once

#include <utility>
#include <vector>

class PDFDoc;

namespace conversion {

// Fills `fonts` with the identities of the fonts of page `index` (0-based); nothing when the
// document has no such page.
void fontsOfPage(PDFDoc& document, int index, std::vector<std::pair<int, int>>& fonts);

} // namespace conversion
