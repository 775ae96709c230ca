// Places link targets by the rank of their own text among the places that show the same text.
//
// A target's own text (the DOM walk gives it: from its first text to the end of its block) may
// show several times on a page: overloaded members under one name, "Parameters" under every
// function. The text engine reports printed words in painting order, which is not the text's
// order (floats paint first), so a walk along the text can settle on the wrong one. Here both
// sides are compared without white space: the target's own text must stand at the target's offset
// in the page text, its rank among the page text's places that show the same text is taken, and
// the target lands on the printed place of the same rank, printed places ordered as a reader
// reads them (page by page, line by line, left to right). Only when the page text and the print
// show that text equally often: otherwise the answer is none, and the target is left to the walk.
//
// The page text and the words must outlive the matcher. Pure; any thread.
#pragma once

#include "PrintedWord.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>
#include <string>
#include <vector>

class AnchorOccurrenceMatcher {
public:
    struct Placement {
        int printedPage = 0; // index into the pages handed in
        double x = 0.0;      // left edge of the word the target's text starts in
        double y = 0.0;      // its top minus 2, from the top of the page down
    };

    // printedPages: the words of each printed page of the HTML page, in order.
    AnchorOccurrenceMatcher(const QByteArray& pageText,
                            std::vector<const std::vector<PrintedWord>*> printedPages);

    // Where the target at charIndex (UTF-8 bytes into the page text) with that own text lands;
    // none when the text does not tell. Cheapest when asked in the order of the page text.
    std::optional<Placement> place(quint64 charIndex, const QString& ownText);

private:
    struct Printed {
        int page;
        double x;
        double y;
    };
    struct Places {
        std::vector<std::size_t> inText;
        std::vector<Printed> printed; // in reading order
    };
    const Places& placesOf(const std::string& key);
    std::size_t squeezedOffset(quint64 charIndex);

    const QByteArray& m_pageText;
    std::vector<const std::vector<PrintedWord>*> m_pages;
    std::string m_squeezedText;
    std::string m_squeezedPrint;
    // Where each printed word starts in m_squeezedPrint, with its page and word index.
    struct WordStart {
        std::size_t offset;
        int page;
        std::size_t word;
    };
    std::vector<WordStart> m_wordStarts;
    std::map<std::string, Places> m_places;
    // The last offset asked for, and how much of the page text before it is not white space.
    std::size_t m_cursorByte = 0;
    std::size_t m_cursorKept = 0;
};
