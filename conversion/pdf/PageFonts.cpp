#include "PageFonts.h"

#include <Annot.h>
#include <Dict.h>
#include <FontInfo.h>
#include <Object.h>
#include <PDFDoc.h>
#include <Page.h>

#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace conversion {

namespace {

// Generation numbers have at most five digits; Poppler names a font given directly in a font
// dictionary that is an object of its own by its position there and this plus the dictionary's
// object number.
constexpr int kDirectFontGeneration = 100000;

// Walks the resource dictionaries in the order, and with the memory of objects already seen,
// of Poppler's font scanner, so that both find the same fonts.
class PageFontWalk {
public:
    PageFontWalk(XRef* xref, std::vector<std::pair<int, int>>& fonts)
        : m_xref(xref), m_fonts(fonts) {}

    // False when Poppler's scanner must decide (see PageFonts.h).
    bool settled() const { return m_settled; }

    void scanResources(Dict* resources) {
        const Object& fontObject = resources->lookupNF("Font");
        if (fontObject.isRef()) {
            const Object fontDict = fontObject.fetch(m_xref);
            if (fontDict.isDict()) {
                const Ref ref = fontObject.getRef();
                addFonts(fontDict.getDict(), &ref);
            }
        } else if (fontObject.isDict()) {
            addFonts(fontObject.getDict(), nullptr);
        }
        for (const char* kind : {"XObject", "Pattern"}) {
            const Object entries = resources->lookup(kind);
            if (!entries.isDict())
                continue;
            for (int i = 0; i < entries.dictGetLength(); ++i) {
                Ref entryRef;
                const Object entry = entries.getDict()->getVal(i, &entryRef);
                if (entryRef != Ref::INVALID() && !m_visited.insert(entryRef.num).second)
                    continue;
                if (!entry.isStream())
                    continue;
                Ref resourcesRef;
                const Object inner = entry.streamGetDict()->lookup("Resources", &resourcesRef);
                if (resourcesRef != Ref::INVALID() && !m_visited.insert(resourcesRef.num).second)
                    continue;
                if (inner.isDict() && inner.getDict() != resources)
                    scanResources(inner.getDict());
            }
        }
    }

private:
    void addFonts(Dict* fontDict, const Ref* fontDictRef) {
        for (int i = 0; i < fontDict->getLength(); ++i) {
            const Object& value = fontDict->getValNF(i);
            if (!value.fetch(m_xref).isDict())
                continue;
            Ref id;
            if (value.isRef()) {
                id = value.getRef();
            } else if (fontDictRef) {
                id.num = i;
                id.gen = kDirectFontGeneration + fontDictRef->num;
            } else {
                m_settled = false; // named by a hash of its contents
                return;
            }
            const auto [known, added] = m_generations.emplace(id.num, id.gen);
            if (added)
                m_fonts.emplace_back(id.num, id.gen);
            else if (known->second != id.gen)
                m_settled = false; // the scanner keeps the first of them that it could build
        }
    }

    XRef* m_xref;
    std::vector<std::pair<int, int>>& m_fonts;
    std::unordered_map<int, int> m_generations;
    std::unordered_set<int> m_visited;
    bool m_settled = true;
};

} // namespace

void fontsOfPage(PDFDoc& document, int index, std::vector<std::pair<int, int>>& fonts) {
    fonts.clear();
    Page* page =
        index >= 0 && index < document.getNumPages() ? document.getPage(index + 1) : nullptr;
    if (!page)
        return;
    XRef* xref = document.getXRef();
    PageFontWalk walk(xref, fonts);
    if (const std::unique_ptr<Dict> resources{page->getResourceDictCopy(xref)})
        walk.scanResources(resources.get());
    if (Annots* annots = page->getAnnots()) {
        for (Annot* annot : annots->getAnnots()) {
            const Object appearance = annot->getAppearanceResDict();
            if (appearance.isDict())
                walk.scanResources(appearance.getDict());
        }
    }
    if (walk.settled())
        return;
    fonts.clear();
    FontInfoScanner scanner(&document, index);
    for (FontInfo* font : scanner.scan(1)) {
        const Ref ref = font->getRef();
        fonts.emplace_back(ref.num, ref.gen);
        delete font;
    }
}

} // namespace conversion
