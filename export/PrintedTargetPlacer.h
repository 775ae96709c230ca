// Places the link targets of one HTML page on the pages its print kept.
//
// A target with nothing printed before it (the page itself above all) lands at the top of the
// first kept page: the first words the text engine reports there may be a float painted ahead of
// the page's title. A target whose own text tells it apart lands on that text
// (AnchorOccurrenceMatcher); the others are found by walking the printed words along the page
// text (LinkDestMatcher), and a target lands on the page whose words reach its text, not on the
// page that ends just before it. A target with nothing printed after it lands at the top of the
// last kept page.
//
// The caller hands the kept pages in, in order, once each, as it appends them; each call answers
// the targets that land on that page (and those found earlier on it). Pure; any thread; the page
// text and the pages must outlive it.
#pragma once

#include "LinkDestLocation.h"
#include "LinkDestMatcher.h"
#include "LinkDestinationItem.h"
#include "PreparedPrint.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

class PrintedTargetPlacer {
public:
    struct Target {
        quint64 charIndex = 0;
        QString ownText; // empty: not known
    };
    struct Placement {
        std::size_t target = 0; // index into the targets handed in
        int outputPage = 0;
        PDFPoint where;
    };

    // Targets in the order of the page text; keptPages are the print's pages that go into the
    // output, in order.
    PrintedTargetPlacer(const QByteArray& pageText, std::vector<Target> targets,
                        std::vector<const PreparedPrint::Page*> keptPages);

    // Kept page `index` (0-based among the kept pages, each in turn) is output page `outputPage`.
    std::vector<Placement> placeOnPage(std::size_t index, int outputPage);
    // After the last kept page: the targets with nothing printed after them.
    std::vector<Placement> finish();

private:
    const QByteArray& m_pageText;
    std::vector<Target> m_targets;
    std::vector<const PreparedPrint::Page*> m_pages;
    std::vector<LinkDestLocation> m_records;
    // Targets placed apart from the walk: the kept page and the point, known before the walk.
    struct Early {
        std::size_t page;
        PDFPoint where;
    };
    std::vector<std::optional<Early>> m_early;
    // The output page each record was found on: a heading painted early can be found on a page
    // before the walk's position reaches it.
    std::vector<int> m_foundOnPage;
    std::vector<bool> m_placed;
    LinkDestMatchState m_walk;
    std::size_t m_next = 0; // the first target not yet placed by the walk
    int m_characterBase = 0;
    int m_lastOutputPage = -1;
    const PreparedPrint::Page* m_lastPage = nullptr;
};
