#include "LinkDestinationItem.h"

void LinkDestinationItem::place(quint64 pdfPageNo, PDFPoint location) {
    if (m_placed)
        return;
    m_pdfPageNo = pdfPageNo;
    m_destLocation = location;
    m_placed = true;
}
