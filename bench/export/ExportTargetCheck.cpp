// Where an export's links and outline entries land, run by run-target-check.py:
//   exportTargetCheck BOOK OUT.pdf [-v]
// Exports BOOK as the export does (each page printed by the export's own printer and appended by
// the exporter, serially), noting the link into the book behind every link annotation of each
// output page. Each page is also loaded once more in a page of its own, with its print style
// sheets applied to the screen, to read what a reader should see at each target: the rendered
// text from the element on (from the top of the page for the page itself). The written PDF is then
// read back (qpdf for destinations, Poppler for words), and a link or an outline entry counts as
// landing when the first line of text at or below its destination shows its target's first
// characters. Links and entries without destination, or whose target has no text, are not
// counted. Prints one line:
//   links=N landed=M outline=K landed=L pages=P outputPages=Q ms=T
// and with -v one line per target that did not land.
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportPagePrinter.h"
#include "ExportWebProfile.h"
#include "ITSSSchemeHandler.h"
#include "LinkItem.h"
#include "LumenoLogging.h"
#include "PageTextContent.h"
#include "PreparedPrint.h"
#include "PrintedLinkRewriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <algorithm>
#include <cmath>
#include <poppler-document.h>
#include <poppler-page.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

namespace {

// Characters of a target's text (without white space) that must show on its first line.
constexpr int kExpectedCharacters = 6;

// The rendered text from each element with a "name" or "id" on, keyed by that name ("" for the
// page itself), after the page's print rules were made its screen rules.
QString expectedTextScript() {
    return QStringLiteral(R"JS((function(){
function printMedia(list){
  if(!list)return;
  var t=String(list.mediaText||'').toLowerCase();
  if(t.indexOf('print')>=0)list.mediaText='all';
  else if(t&&t.indexOf('all')<0)list.mediaText='not all';
}
function rules(rs,depth){
  if(!rs||depth>8)return;
  for(var i=0;i<rs.length;i++){var r=rs[i];
    try{if(r.type===4){printMedia(r.media);rules(r.cssRules,depth+1);}
        else if(r.type===3&&r.styleSheet){printMedia(r.media);rules(r.styleSheet.cssRules,depth+1);}}catch(e){}
  }
}
for(var s=0;s<document.styleSheets.length;s++){
  var sheet=document.styleSheets[s];
  try{printMedia(sheet.media);rules(sheet.cssRules,0);}catch(e){}
}
var out={};var body=document.body;if(!body)return out;
var silent={SCRIPT:1,STYLE:1,NOSCRIPT:1,TEMPLATE:1,TITLE:1};
function shown(node){
  var p=node.parentElement;if(!p||silent[p.nodeName.toUpperCase()])return false;
  var cs=getComputedStyle(p);if(!cs||cs.visibility!=='visible')return false;
  var r=document.createRange();r.selectNodeContents(node);return r.getClientRects().length>0;
}
function textFrom(el){
  var w=document.createTreeWalker(body,NodeFilter.SHOW_TEXT);w.currentNode=el;
  var s='',n,count=0;
  while(s.replace(/\s+/g,'').length<40&&count<4000&&(n=w.nextNode())){count++;if(shown(n))s+=n.data;}
  return s;
}
out['']=textFrom(body);
var all=body.querySelectorAll('*');
for(var i=0;i<all.length;i++){var a=all[i].attributes;
  for(var k=0;k<a.length;k++){var m=a[k].name.toLowerCase();
    if(m==='name'||m==='id'){if(a[k].value&&!(('#'+a[k].value) in out))out['#'+a[k].value]=textFrom(all[i]);break;}}
}
return out;})())JS");
}

QString squeezed(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (!c.isSpace())
            out += c.toLower();
    }
    return out;
}

struct NotedLink {
    int page = -1;
    QPDFObjectHandle::Rectangle rect;
    QString url;
};

struct Word {
    QString text;
    double left = 0, top = 0, bottom = 0; // PDF user space
};

struct Outcome {
    int checked = 0;
    int landed = 0;
};

class Checker {
public:
    explicit Checker(bool verbose) : m_verbose(verbose) {}

    // The text a target must show, or empty when it has none or is unknown.
    QString expectedFor(const LinkDestinationTable& table, const QString& url) const {
        const QString lower = url.toLower();
        const QString decoded = QUrl::fromPercentEncoding(url.toUtf8()).toLower();
        for (const QString& key : {lower, decoded}) {
            const LinkDestinationItem* item = table.itemForKey(key);
            if (item && item->isPlaced() && m_expected.contains(key))
                return m_expected.value(key);
        }
        for (const QString& key : {lower, decoded}) {
            const qsizetype hash = key.indexOf(QLatin1Char('#'));
            const QString page = hash >= 0 ? key.left(hash) : key;
            const LinkDestinationItem* item = table.itemForKey(page);
            if (item && item->isPlaced() && m_expected.contains(page))
                return m_expected.value(page);
        }
        return {};
    }

    void noteTexts(const QString& pagePath, const QVariantMap& texts) {
        for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
            const QString name = it.key();
            const QString text = it.value().toString();
            if (name.isEmpty()) {
                m_expected.insert(LinkDestinationTable::pageURL(pagePath).toLower(), text);
            } else {
                const QString key =
                    LinkDestinationTable::anchorURL(pagePath, name.mid(1)).toLower();
                if (!m_expected.contains(key))
                    m_expected.insert(key, text);
            }
        }
    }

    // Whether the first line at or below y on the page shows the text: the highest word whose
    // top is at or below y (a destination stands 2 points above its word's top) and every word
    // beside it (whose box overlaps its own by half the smaller height, however much taller),
    // left to right. It shows the text when it holds the text's first characters, or when it
    // ends with how the text starts (a short heading, or one after its number).
    bool lands(const std::vector<std::vector<Word>>& words, int page, double y,
               const QString& expected, QString* seen) const {
        if (page < 0 || page >= static_cast<int>(words.size()))
            return false;
        const std::vector<Word>& on = words[static_cast<std::size_t>(page)];
        const double limit = y + 0.5;
        const Word* first = nullptr;
        for (const Word& w : on) {
            if (w.top <= limit && (!first || w.top > first->top))
                first = &w;
        }
        if (!first)
            return false;
        std::vector<const Word*> line;
        for (const Word& w : on) {
            const double overlap = std::min(w.top, first->top) - std::max(w.bottom, first->bottom);
            const double smaller = std::min(w.top - w.bottom, first->top - first->bottom);
            if (overlap >= smaller * 0.5)
                line.push_back(&w);
        }
        std::sort(line.begin(), line.end(),
                  [](const Word* a, const Word* b) { return a->left < b->left; });
        QString text;
        for (const Word* w : line)
            text += w->text;
        *seen = text.left(60);
        const QString shown = squeezed(text);
        const QString want = squeezed(expected);
        if (shown.contains(want.left(kExpectedCharacters)))
            return true;
        for (qsizetype k = std::min<qsizetype>(want.size(), kExpectedCharacters) - 1; k >= 2; --k) {
            if (shown.endsWith(want.left(k)))
                return true;
        }
        return false;
    }

    void count(Outcome* outcome, bool landed, const QString& what, const QString& expected,
               const QString& seen) const {
        ++outcome->checked;
        if (landed) {
            ++outcome->landed;
        } else if (m_verbose) {
            QTextStream(stdout) << "missed " << what << " want \""
                                << squeezed(expected).left(kExpectedCharacters) << "\" saw \""
                                << seen << "\"" << Qt::endl;
        }
    }

private:
    bool m_verbose;
    QHash<QString, QString> m_expected;
};

QVariantMap expectedTexts(QWebEngineView& view, const QUrl& url) {
    QVariantMap texts;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    const QMetaObject::Connection loaded =
        QObject::connect(view.page(), &QWebEnginePage::loadFinished, [&](bool) {
            view.page()->runJavaScript(expectedTextScript(), QWebEngineScript::ApplicationWorld,
                                       [&](const QVariant& answer) {
                                           texts = answer.toMap();
                                           loop.quit();
                                       });
        });
    limit.start(30000);
    view.page()->load(url);
    loop.exec();
    QObject::disconnect(loaded);
    return texts;
}

std::vector<std::vector<Word>> wordsOf(const QString& pdfPath) {
    std::vector<std::vector<Word>> pages;
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_file(pdfPath.toStdString()));
    if (!doc)
        return pages;
    for (int i = 0; i < doc->pages(); ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        const double height = page->page_rect(poppler::crop_box).height();
        std::vector<Word>& words = pages.emplace_back();
        for (const poppler::text_box& box : page->text_list()) {
            const poppler::byte_array utf8 = box.text().to_utf8();
            words.push_back({QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())),
                             box.bbox().left(), height - box.bbox().top(),
                             height - box.bbox().bottom()});
        }
    }
    return pages;
}

// The page index and height a destination array leads to; false without one.
bool destinationOf(QPDFObjectHandle dest, const std::map<QPDFObjGen, int>& pageIndex, int* page,
                   double* y) {
    if (!dest.isArray() || dest.getArrayNItems() < 4)
        return false;
    const auto found = pageIndex.find(dest.getArrayItem(0).getObjGen());
    if (found == pageIndex.end() || !dest.getArrayItem(3).isNumber())
        return false;
    *page = found->second;
    *y = dest.getArrayItem(3).getNumericValue();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    ITSSSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    keepStandardErrorForTheUser();
    QStringList args = app.arguments();
    const bool verbose = args.removeAll(QStringLiteral("-v")) > 0;
    QTextStream err(stderr);
    if (args.size() != 3) {
        err << "usage: exportTargetCheck BOOK OUT.pdf [-v]" << Qt::endl;
        return 2;
    }
    QString error;
    std::unique_ptr<CHMDocument> document = CHMDocument::open(args[1], &error);
    if (!document) {
        err << error << Qt::endl;
        return 1;
    }
    const QString output = QFileInfo(args[2]).absoluteFilePath();
    Checker checker(verbose);
    std::vector<NotedLink> noted;
    std::unique_ptr<CHMExporter> exporter;
    QElapsedTimer clock;
    clock.start();
    {
        ExportWebProfile profile(document.get());
        const auto toc = document->tocSource();
        exporter = std::make_unique<CHMExporter>(
            *document, output, toc ? toc->pageList() : std::vector<LinkItemPtr>(), nullptr);
        const auto* scheme =
            qobject_cast<const ITSSSchemeHandler*>(profile.profile()->urlSchemeHandler("itss"));
        const QString bookName = QFileInfo(document->filePath()).fileName();
        ExportPagePrinter printer(profile.profile(), exporter->pageSettings());
        QWebEngineView view;
        view.setAttribute(Qt::WA_DontShowOnScreen);
        auto* page = new QWebEnginePage(profile.profile(), &view);
        view.setPage(page);
        view.resize(qRound(exporter->pageSettings().printableWidth() * 96 / 72),
                    qRound(exporter->pageSettings().printableHeight() * 96 / 72));
        view.show();
        while (exporter->hasMorePages()) {
            const QString path = exporter->currentPagePath();
            const QUrl url = CHMDocument::composeURL(path);
            ExportPagePrinter::Result printed;
            if (url.isValid()) {
                QEventLoop loop;
                printer.print(url, [&](const ExportPagePrinter::Result& result) {
                    printed = result;
                    loop.quit();
                });
                loop.exec();
            }
            if (!printed.printed || (scheme && scheme->servedMissingPage(printed.url))) {
                exporter->skipPage();
                continue;
            }
            checker.noteTexts(path, expectedTexts(view, url));
            const std::unique_ptr<PreparedPrint> prepared =
                CHMExporter::preparePrint(printed.pdf, path);
            int outputPage = exporter->outputPageCount();
            for (const PreparedPrint::Page& p : prepared->pages) {
                if (p.blank)
                    continue;
                QPDFObjectHandle annots =
                    QPDFObjectHandle(p.page.getObjectHandle()).getKey("/Annots");
                for (int i = 0; annots.isArray() && i < annots.getArrayNItems(); ++i) {
                    QPDFObjectHandle annotation = annots.getArrayItem(i);
                    if (!PrintedLinkRewriter::isLinkAnnotation(annotation))
                        continue;
                    QString uri = PrintedLinkRewriter::linkURI(annotation);
                    const QString inBook = PrintedLinkRewriter::helpFileLinkTarget(uri, bookName);
                    if (!inBook.isEmpty() && inBook != QLatin1String("-"))
                        uri = inBook;
                    if (!uri.startsWith(QLatin1String("itss:"), Qt::CaseInsensitive))
                        continue;
                    noted.push_back(
                        {outputPage, annotation.getKey("/Rect").getArrayAsRectangle(), uri});
                }
                ++outputPage;
            }
            exporter->addPreparedPrint(*prepared, PageTextContent::fromWalk(printed.walk));
        }
        for (int i = 0; i < exporter->outputPageCount(); ++i)
            exporter->ResolveDestination(i);
        exporter->GenerateTableOfContents(toc ? toc->rootItems() : nullptr);
        if (!exporter->WritePDFData(&error)) {
            err << "writing failed: " << error << Qt::endl;
            return 1;
        }
    }
    const qint64 ms = clock.elapsed();

    QPDF written;
    written.processFile(output.toLocal8Bit().constData());
    std::vector<QPDFObjectHandle> pages = written.getAllPages();
    std::map<QPDFObjGen, int> pageIndex;
    for (std::size_t i = 0; i < pages.size(); ++i)
        pageIndex[pages[i].getObjGen()] = static_cast<int>(i);
    const std::vector<std::vector<Word>> words = wordsOf(output);
    const LinkDestinationTable& table = exporter->linkTargets();

    Outcome linkOutcome;
    for (const NotedLink& link : noted) {
        if (link.page < 0 || link.page >= static_cast<int>(pages.size()))
            continue;
        QPDFObjectHandle annots = pages[static_cast<std::size_t>(link.page)].getKey("/Annots");
        int page = -1;
        double y = 0;
        for (int i = 0; annots.isArray() && i < annots.getArrayNItems(); ++i) {
            QPDFObjectHandle annotation = annots.getArrayItem(i);
            const QPDFObjectHandle::Rectangle r = annotation.getKey("/Rect").getArrayAsRectangle();
            if (std::fabs(r.llx - link.rect.llx) < 0.5 && std::fabs(r.lly - link.rect.lly) < 0.5 &&
                std::fabs(r.urx - link.rect.urx) < 0.5 && std::fabs(r.ury - link.rect.ury) < 0.5 &&
                destinationOf(annotation.getKey("/Dest"), pageIndex, &page, &y))
                break;
        }
        const QString expected = checker.expectedFor(table, link.url);
        if (page < 0 || squeezed(expected).isEmpty())
            continue;
        QString seen;
        const bool landed = checker.lands(words, page, y, expected, &seen);
        checker.count(&linkOutcome, landed,
                      QStringLiteral("link on page %1 to %2 (page %3, y %4)")
                          .arg(link.page + 1)
                          .arg(link.url)
                          .arg(page + 1)
                          .arg(y),
                      expected, seen);
    }

    Outcome outlineOutcome;
    const auto toc = document->tocSource();
    struct Level {
        const LinkItem* item;
        QPDFObjectHandle entry;
    };
    std::vector<Level> work;
    QPDFObjectHandle outlines = written.getRoot().getKey("/Outlines");
    if (toc && toc->rootItems() && outlines.isDictionary())
        work.push_back({toc->rootItems(), outlines});
    while (!work.empty()) {
        Level level = work.back();
        work.pop_back();
        QPDFObjectHandle entry = level.entry.getKey("/First");
        for (const auto& child : level.item->children()) {
            if (!entry.isDictionary())
                break;
            int page = -1;
            double y = 0;
            const QString url = QStringLiteral("itss://chm/") + child->path();
            const QString expected = checker.expectedFor(table, url);
            if (!child->path().isEmpty() && !squeezed(expected).isEmpty() &&
                destinationOf(entry.getKey("/Dest"), pageIndex, &page, &y)) {
                QString seen;
                const bool landed = checker.lands(words, page, y, expected, &seen);
                checker.count(&outlineOutcome, landed,
                              QStringLiteral("outline entry %1 to %2 (page %3, y %4)")
                                  .arg(child->name(), url)
                                  .arg(page + 1)
                                  .arg(y),
                              expected, seen);
            }
            work.push_back({child.get(), entry});
            entry = entry.getKey("/Next");
        }
    }

    QTextStream(stdout) << "links=" << linkOutcome.checked << " landed=" << linkOutcome.landed
                        << " outline=" << outlineOutcome.checked
                        << " landed=" << outlineOutcome.landed
                        << " pages=" << exporter->pageList().size()
                        << " outputPages=" << pages.size() << " ms=" << ms << Qt::endl;
    return 0;
}
