// Content wider than the text area would be cut off at the paper's edge when the pages are
// painted. Preformatted lines, which may not wrap, are set smaller until they fit the text width;
// whatever is still too wide then (a wide table or picture) is fitted by scaling the whole
// document down, as a print that fits the content to the paper's width does. No text is lost.
#pragma once

#include <QSizeF>

class QTextDocument;

namespace conversion {

// Lays `document` out for a text area of `area` (points) and answers the scale at which it is to
// be painted: 1 when it fits, else below 1, with the document's page size set to the area
// divided by the scale.
double fitToTextWidth(QTextDocument& document, QSizeF area);

} // namespace conversion
