// One place a link can lead to: an exported HTML page itself, or an element of it that carries a
// "name" or "id" attribute.
//
// Made while the page's DOM is walked: `pageID` (the page's index in the exporter's page list)
// and `charIndex` (the UTF-8 byte offset in the page's text where the element's text begins).
// Placed at most once, when a printed page of that HTML page claims it: `pdfPageNo` and
// `destLocation` (PDF user space, origin bottom left). A target that no printed page claimed is
// not placed, and nothing may lead to it. Not thread-safe on its own: the exporter changes items
// only on its own thread and reads them from the link resolution while nothing changes them.
#pragma once

#include <QtGlobal>

struct PDFPoint {
    double x = 0.0;
    double y = 0.0;
};

class LinkDestinationItem {
public:
    LinkDestinationItem() = default;
    LinkDestinationItem(quint64 pageIndex, quint64 characterIndex)
        : m_pageID(pageIndex), m_charIndex(characterIndex) {}

    quint64 pageID() const { return m_pageID; }
    void setPageID(quint64 pageID) { m_pageID = pageID; }
    quint64 charIndex() const { return m_charIndex; }
    void setCharIndex(quint64 charIndex) { m_charIndex = charIndex; }

    quint64 pdfPageNo() const { return m_pdfPageNo; }
    PDFPoint destLocation() const { return m_destLocation; }
    bool isPlaced() const { return m_placed; }
    // Claims the target for an output page; later calls are ignored.
    void place(quint64 pdfPageNo, PDFPoint location);

private:
    quint64 m_pageID = 0;
    quint64 m_charIndex = 0;
    quint64 m_pdfPageNo = 0;
    PDFPoint m_destLocation;
    bool m_placed = false;
};
