// The stored prints of the "links" book (data/links, re-made by data/make-printed-pages.sh) and
// ways to read an exported PDF back: qpdf's JSON for outline and links, Poppler for text.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class CHMExporter;

namespace exporttest {

struct StoredPrint {
    QString path;   // the page list's path
    QByteArray pdf; // empty when the page was not printed
    QVariant walk;  // the DOM walk's answer
};

// The prints in page-list order; fails the test when the data folder is missing.
std::vector<StoredPrint> storedPrints();

// Feeds every stored print to the exporter, as the rendering loop does, then resolves every
// output page's links.
void replay(CHMExporter& exporter, const std::vector<StoredPrint>& prints);

// One link annotation of an exported PDF.
struct Link {
    int page = -1;       // 0-based output page of the annotation
    int targetPage = -1; // 0-based page its destination leads to; -1 without destination
    double targetY = 0;  // the destination's height
    QString uri;         // the URI of a URI action, if any
    bool hasNamedDest = false;
    double left = 0, bottom = 0, right = 0, top = 0; // its rectangle, PDF user space
};
std::vector<Link> links(const QString& pdfPath);

struct OutlineEntry {
    QString title;
    int targetPage = -1;
    double targetY = 0;
    std::vector<OutlineEntry> kids;
};
std::vector<OutlineEntry> outline(const QString& pdfPath);

// One word Poppler reads on a page, its box in PDF user space (origin bottom left).
struct WordBox {
    QString text;
    double left = 0, bottom = 0, right = 0, top = 0;
};
// The words of each page, in Poppler's reading order.
std::vector<std::vector<WordBox>> pageWords(const QString& pdfPath);

// The text of each page, by Poppler.
QStringList pageTexts(const QString& pdfPath);
// The first page whose text contains `text` (UTF-8), or -1.
int pageShowing(const QStringList& texts, const char* text);
// An empty folder of that name under the scratch folder.
QString freshFolder(const QString& name);

// What the "links" book's PDF holds, whether its pages were printed now or stored: the outline
// of its contents, and its links, each leading to where its target is printed.
void expectLinksBookOutline(const QString& pdf);
void expectLinksBookLinks(const QString& pdf);

} // namespace exporttest
