#include "DocumentAnchors.h"

#include <QByteArray>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace conversion {

namespace {

// A name as one word of the file (and as the reader compares it): percent escapes decoded.
std::string decoded(const std::string& text) {
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(QByteArray(text.data(), qsizetype(text.size())));
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

std::string encoded(const std::string& name) {
    const QByteArray bytes = QByteArray(name.data(), qsizetype(name.size())).toPercentEncoding();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

std::filesystem::path anchorPlacesPath(const std::filesystem::path& print) {
    return print.string() + ".anchors";
}

std::string formatAnchorPlaces(const std::vector<AnchorPlace>& places) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(10);
    for (const AnchorPlace& p : places)
        text << p.page << ' ' << p.left << ' ' << p.top << ' ' << encoded(p.name) << '\n';
    return text.str();
}

std::vector<AnchorPlace> readAnchorPlaces(const std::filesystem::path& path) {
    std::vector<AnchorPlace> places;
    std::ifstream in(path, std::ios::binary);
    in.imbue(std::locale::classic());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        fields.imbue(std::locale::classic());
        AnchorPlace p;
        std::string name;
        if (fields >> p.page >> p.left >> p.top >> name && p.page >= 0) {
            p.name = decoded(name);
            places.push_back(std::move(p));
        }
    }
    return places;
}

void linkAnchorsWithinDocument(const std::vector<QPDFObjectHandle>& pages,
                               const std::vector<int>& printedPage,
                               const std::vector<AnchorPlace>& places) {
    if (pages.empty() || places.empty() || printedPage.size() != pages.size())
        return;
    // The first place of each name: HTML's rule for a name given twice.
    std::map<std::string, const AnchorPlace*> byName;
    for (const AnchorPlace& p : places)
        byName.emplace(p.name, &p);
    for (QPDFObjectHandle page : pages) {
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (!annotations.isArray())
            continue;
        for (QPDFObjectHandle annotation : annotations.aitems()) {
            if (!annotation.isDictionary() ||
                !annotation.getKey("/Subtype").isNameAndEquals("/Link"))
                continue;
            QPDFObjectHandle action = annotation.getKey("/A");
            if (!action.isDictionary() || !action.getKey("/S").isNameAndEquals("/URI") ||
                !action.getKey("/URI").isString())
                continue;
            const std::string uri = action.getKey("/URI").getStringValue();
            if (uri.empty() || uri[0] != '#')
                continue;
            const auto found = byName.find(decoded(uri.substr(1)));
            if (found == byName.end())
                continue;
            const AnchorPlace& place = *found->second;
            // The page made from the anchor's printed page, or the next one kept.
            const auto target =
                std::lower_bound(printedPage.begin(), printedPage.end(), place.page);
            const std::size_t index = target == printedPage.end()
                                          ? pages.size() - 1
                                          : std::size_t(target - printedPage.begin());
            QPDFObjectHandle destination = QPDFObjectHandle::newArray();
            destination.appendItem(pages[index]);
            destination.appendItem(QPDFObjectHandle::newName("/XYZ"));
            destination.appendItem(QPDFObjectHandle::newReal(place.left, 2));
            destination.appendItem(QPDFObjectHandle::newReal(place.top, 2));
            destination.appendItem(QPDFObjectHandle::newNull());
            QPDFObjectHandle goTo = QPDFObjectHandle::newDictionary();
            goTo.replaceKey("/S", QPDFObjectHandle::newName("/GoTo"));
            goTo.replaceKey("/D", destination);
            annotation.replaceKey("/A", goTo);
        }
    }
}

} // namespace conversion
