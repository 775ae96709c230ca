// A laid-out document's own anchors (HTML's <a name> and id) and where they landed on the
// printed pages. Qt's PDF writer prints a link to one of them ("#name") as a URI action, which
// a reader cannot follow; the layout helper writes the anchors' places beside the print, and
// the job turns those links into GoTo actions to the place.
#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

struct AnchorPlace {
    int page = 0;    // of the print, from 0
    double left = 0; // PDF points from the page's lower left corner
    double top = 0;
    std::string name; // as the document names it (UTF-8)
};

// The file beside the print that lists its anchors.
std::filesystem::path anchorPlacesPath(const std::filesystem::path& print);
// The places as the lines of that file.
std::string formatAnchorPlaces(const std::vector<AnchorPlace>& places);
// Empty when there is no such file; lines that do not read are passed over.
std::vector<AnchorPlace> readAnchorPlaces(const std::filesystem::path& path);

// Turns the link annotations of `pages` whose action is the URI of an anchor in `places` into
// GoTo actions to that anchor's place. `printedPage[i]` is the page of the print that pages[i]
// was made from (blank pages of the print may have been left out; an anchor on one leads to the
// next page kept). Links to names the document does not hold stay as they are.
void linkAnchorsWithinDocument(const std::vector<QPDFObjectHandle>& pages,
                               const std::vector<int>& printedPage,
                               const std::vector<AnchorPlace>& places);

} // namespace conversion
