// The link annotations of printed pages, made ready for an output document they were not
// printed into.
//
// The web engine prints a link to another page as a URI action "itss://chm/..." and a link
// within the page as a named destination of the printed file. Named destinations mean nothing
// once the page is copied into another document, so before copying they become URI actions to
// "<page URL>#<name>", and all links are then resolved the one way, against the export's link
// targets. Throws what qpdf throws on a damaged file.
#pragma once

#include <QString>

class QPDF;
class QPDFObjectHandle;

namespace PrintedLinkRewriter {

void rewriteNamedDestinations(QPDF& printed, const QString& pageURL);

// Links in the help-file schemes ("ms-its:book.chm::/page.htm", "mk:@MSITStore:book.chm::/...")
// name a page of a .chm file. Into this book (named bookFileName, compared without case and
// folder): its "itss://chm/..." URL. Into another book: "-" (nothing a PDF can open). Any other
// URI: empty.
QString helpFileLinkTarget(const QString& uri, const QString& bookFileName);

// The URI of a link annotation's URI action; empty when it has none.
QString linkURI(QPDFObjectHandle annotation);
bool isLinkAnnotation(QPDFObjectHandle annotation);

} // namespace PrintedLinkRewriter
