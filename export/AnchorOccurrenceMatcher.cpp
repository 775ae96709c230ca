#include "AnchorOccurrenceMatcher.h"

#include <algorithm>
#include <string_view>

namespace {

// How much of a target's own text is compared, in characters besides white space.
constexpr std::size_t kOwnTextCharacters = 32;
// Beyond this many places the rank is not worth trusting.
constexpr std::size_t kMostPlaces = 256;
// Words whose tops are this close, in points, stand on one line.
constexpr double kSameLine = 2.0;

// The length of the UTF-8 sequence starting with this byte (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// The code point of a sequence, or 0 for one that is cut short.
char32_t codePoint(std::string_view text, std::size_t at, std::size_t length) {
    if (at + length > text.size())
        return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    switch (length) {
    case 1:
        return byte(0);
    case 2:
        return (char32_t(byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3:
        return (char32_t(byte(0) & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) |
               (byte(2) & 0x3F);
    default:
        return (char32_t(byte(0) & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) |
               (char32_t(byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    }
}

// White space as either side may show it: the text engine splits words there, the DOM keeps it.
bool isSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// Appends the text without its white space; at most `most` characters when given.
void appendSqueezed(std::string_view text, std::string* out, std::size_t most = std::string::npos) {
    std::size_t kept = 0;
    for (std::size_t at = 0; at < text.size() && kept < most;) {
        const std::size_t length =
            std::min(sequenceLength(static_cast<unsigned char>(text[at])), text.size() - at);
        if (!isSpace(codePoint(text, at, length))) {
            out->append(text.substr(at, length));
            ++kept;
        }
        at += length;
    }
}

std::vector<std::size_t> placesIn(const std::string& text, const std::string& key) {
    std::vector<std::size_t> places;
    for (std::size_t at = text.find(key); at != std::string::npos && places.size() <= kMostPlaces;
         at = text.find(key, at + 1))
        places.push_back(at);
    return places;
}

} // namespace

AnchorOccurrenceMatcher::AnchorOccurrenceMatcher(
    const QByteArray& pageText, std::vector<const std::vector<PrintedWord>*> printedPages)
    : m_pageText(pageText), m_pages(std::move(printedPages)) {
    appendSqueezed(
        std::string_view(pageText.constData(), static_cast<std::size_t>(pageText.size())),
        &m_squeezedText);
    for (std::size_t p = 0; p < m_pages.size(); ++p) {
        for (std::size_t w = 0; w < m_pages[p]->size(); ++w) {
            const std::size_t before = m_squeezedPrint.size();
            appendSqueezed((*m_pages[p])[w].text, &m_squeezedPrint);
            if (m_squeezedPrint.size() > before)
                m_wordStarts.push_back({before, static_cast<int>(p), w});
        }
    }
}

std::size_t AnchorOccurrenceMatcher::squeezedOffset(quint64 charIndex) {
    const std::string_view text(m_pageText.constData(),
                                static_cast<std::size_t>(m_pageText.size()));
    const std::size_t target = static_cast<std::size_t>(std::min<quint64>(charIndex, text.size()));
    if (target < m_cursorByte) {
        m_cursorByte = 0;
        m_cursorKept = 0;
    }
    while (m_cursorByte < target) {
        const std::size_t length =
            std::min(sequenceLength(static_cast<unsigned char>(text[m_cursorByte])),
                     text.size() - m_cursorByte);
        if (!isSpace(codePoint(text, m_cursorByte, length)))
            m_cursorKept += length;
        m_cursorByte += length;
    }
    return m_cursorKept;
}

const AnchorOccurrenceMatcher::Places& AnchorOccurrenceMatcher::placesOf(const std::string& key) {
    const auto known = m_places.find(key);
    if (known != m_places.end())
        return known->second;
    Places places;
    places.inText = placesIn(m_squeezedText, key);
    for (const std::size_t at : placesIn(m_squeezedPrint, key)) {
        // The word the place starts in.
        const auto next = std::upper_bound(
            m_wordStarts.begin(), m_wordStarts.end(), at,
            [](std::size_t offset, const WordStart& start) { return offset < start.offset; });
        if (next == m_wordStarts.begin())
            continue;
        const WordStart& start = *(next - 1);
        const PrintedWord& word = (*m_pages[static_cast<std::size_t>(start.page)])[start.word];
        places.printed.push_back({start.page, word.xMin, word.yMin});
    }
    // Reading order: lines by their tops on each page, then left to right on each line.
    std::stable_sort(places.printed.begin(), places.printed.end(),
                     [](const Printed& a, const Printed& b) {
                         return a.page != b.page ? a.page < b.page : a.y < b.y;
                     });
    std::vector<int> line(places.printed.size(), 0);
    for (std::size_t i = 1, top = 0; i < places.printed.size(); ++i) {
        const bool same = places.printed[i].page == places.printed[top].page &&
                          places.printed[i].y - places.printed[top].y <= kSameLine;
        if (!same)
            top = i;
        line[i] = same ? line[i - 1] : line[i - 1] + 1;
    }
    std::vector<std::size_t> order(places.printed.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return line[a] != line[b] ? line[a] < line[b] : places.printed[a].x < places.printed[b].x;
    });
    std::vector<Printed> sorted;
    sorted.reserve(order.size());
    for (const std::size_t i : order)
        sorted.push_back(places.printed[i]);
    places.printed = std::move(sorted);
    return m_places.emplace(key, std::move(places)).first->second;
}

std::optional<AnchorOccurrenceMatcher::Placement>
AnchorOccurrenceMatcher::place(quint64 charIndex, const QString& ownText) {
    std::string key;
    const QByteArray own = ownText.toUtf8();
    appendSqueezed(std::string_view(own.constData(), static_cast<std::size_t>(own.size())), &key,
                   kOwnTextCharacters);
    if (key.empty())
        return std::nullopt;
    const std::size_t at = squeezedOffset(charIndex);
    if (m_squeezedText.compare(at, key.size(), key) != 0)
        return std::nullopt;
    const Places& places = placesOf(key);
    if (places.inText.empty() || places.inText.size() > kMostPlaces ||
        places.inText.size() != places.printed.size())
        return std::nullopt;
    const auto rank = std::lower_bound(places.inText.begin(), places.inText.end(), at);
    if (rank == places.inText.end() || *rank != at)
        return std::nullopt;
    const Printed& printed = places.printed[static_cast<std::size_t>(rank - places.inText.begin())];
    return Placement{printed.page, printed.x, printed.y - 2.0};
}
