#include "PrintedTargetPlacer.h"

#include "AnchorOccurrenceMatcher.h"

#include <algorithm>
#include <limits>

namespace {

// Bytes of page text that one printed page stands for, when the matcher lost its way there.
int printedTextBytes(const std::vector<PrintedWord>& words) {
    std::size_t bytes = 0;
    for (const PrintedWord& word : words)
        bytes += word.text.size() + 1;
    return static_cast<int>(std::min<std::size_t>(bytes, std::numeric_limits<int>::max() / 2));
}

PDFPoint topOf(const PreparedPrint::Page& page) {
    return {page.crop.llx, page.crop.ury};
}

} // namespace

PrintedTargetPlacer::PrintedTargetPlacer(const QByteArray& pageText, std::vector<Target> targets,
                                         std::vector<const PreparedPrint::Page*> keptPages)
    : m_pageText(pageText), m_targets(std::move(targets)), m_pages(std::move(keptPages)),
      m_records(m_targets.size()), m_early(m_targets.size()), m_foundOnPage(m_targets.size(), -1),
      m_placed(m_targets.size(), false) {
    const int textLength = static_cast<int>(m_pageText.size());
    int firstText = 0;
    skipTextWhitespace(m_pageText.constData(), &firstText, textLength);
    std::vector<const std::vector<PrintedWord>*> words;
    for (const PreparedPrint::Page* page : m_pages)
        words.push_back(&page->words);
    AnchorOccurrenceMatcher occurrences(m_pageText, std::move(words));
    for (std::size_t r = 0; r < m_targets.size(); ++r) {
        const quint64 index = m_targets[r].charIndex;
        m_records[r].charIndex =
            static_cast<uint32_t>(std::min<quint64>(index, std::numeric_limits<uint32_t>::max()));
        if (m_pages.empty())
            continue;
        if (index <= static_cast<quint64>(firstText)) {
            m_early[r] = Early{0, topOf(*m_pages.front())};
        } else if (const auto placed = occurrences.place(index, m_targets[r].ownText)) {
            const PreparedPrint::Page& page =
                *m_pages[static_cast<std::size_t>(placed->printedPage)];
            m_early[r] = Early{static_cast<std::size_t>(placed->printedPage),
                               {page.crop.llx + placed->x, page.crop.ury - placed->y}};
        }
        // The walk passes over what is placed already.
        if (m_early[r])
            m_records[r].found = 1;
    }
}

std::vector<PrintedTargetPlacer::Placement> PrintedTargetPlacer::placeOnPage(std::size_t index,
                                                                             int outputPage) {
    std::vector<Placement> placed;
    if (index >= m_pages.size())
        return placed;
    const PreparedPrint::Page& printed = *m_pages[index];
    m_lastPage = &printed;
    m_lastOutputPage = outputPage;
    for (std::size_t r = 0; r < m_targets.size(); ++r) {
        if (m_early[r] && m_early[r]->page == index && !m_placed[r]) {
            m_placed[r] = true;
            placed.push_back({r, outputPage, m_early[r]->where});
        }
    }

    const char* text = m_pageText.constData();
    const int textLength = static_cast<int>(m_pageText.size());
    const int answer = findLinkDestinations(printed.words, text, textLength, m_records.data(),
                                            static_cast<int>(m_records.size()), &m_walk);
    for (std::size_t r = 0; r < m_records.size(); ++r) {
        if (m_records[r].found && !m_early[r] && m_foundOnPage[r] < 0)
            m_foundOnPage[r] = outputPage;
    }
    const int textPos = std::max(m_walk.textPos, 0);
    const int pageEnd = std::max(m_characterBase + printedTextBytes(printed.words), 0);
    m_characterBase = pageEnd;
    const QPDFObjectHandle::Rectangle& crop = printed.crop;
    for (; m_next < m_targets.size(); ++m_next) {
        const std::size_t r = m_next;
        if (m_early[r])
            continue;
        const LinkDestLocation& record = m_records[r];
        const quint64 index = m_targets[r].charIndex;
        // A record found where its words were painted early is placed whatever the walk has
        // reached. Otherwise the walk must have passed the target's first word on this page:
        // a target whose text starts right where the page's words end is on the next page.
        if (!record.found) {
            int first =
                static_cast<int>(std::min<quint64>(index, static_cast<quint64>(textLength)));
            skipTextWhitespace(text, &first, textLength);
            const bool reached =
                answer == 1 ? index < static_cast<quint64>(pageEnd) : first < textPos;
            if (!reached)
                break;
        }
        // A target the words did not reach exactly is placed at the top of its page.
        const PDFPoint where =
            record.found ? PDFPoint{crop.llx + record.x, crop.ury - record.y} : topOf(printed);
        const int page = record.found && m_foundOnPage[r] >= 0 ? m_foundOnPage[r] : outputPage;
        m_placed[r] = true;
        placed.push_back({r, page, where});
    }
    return placed;
}

std::vector<PrintedTargetPlacer::Placement> PrintedTargetPlacer::finish() {
    std::vector<Placement> placed;
    if (!m_lastPage)
        return placed;
    const int textLength = static_cast<int>(m_pageText.size());
    const quint64 textPos = static_cast<quint64>(std::max(m_walk.textPos, 0));
    for (std::size_t r = m_next; r < m_targets.size(); ++r) {
        if (m_placed[r] || m_early[r])
            continue;
        // Where the walk stopped, or with only white space after it.
        const quint64 index = m_targets[r].charIndex;
        int first = static_cast<int>(std::min<quint64>(index, static_cast<quint64>(textLength)));
        skipTextWhitespace(m_pageText.constData(), &first, textLength);
        if (index > textPos && first < textLength)
            continue;
        m_placed[r] = true;
        placed.push_back({r, m_lastOutputPage, topOf(*m_lastPage)});
    }
    return placed;
}
