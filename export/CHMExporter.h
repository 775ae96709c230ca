// Turns one open document into one PDF: the page list, the link targets, the printed pages
// appended with their targets placed, then the links resolved, the outline built and the file
// written.
//
// Headless: the caller prints each page of `pageList()` (the web engine does that in
// export/ui), walks its DOM and hands both to `addPrintedPage`; without the engine the same
// can be fed from stored prints. Printed PDFs arrive in memory and their pages are written out
// to the output at once (nothing in the output refers back to them), so no temporary print file
// exists and memory does not grow with the book: what stays until the end is each output page's
// number and its links waiting for their targets. The output is a temporary file in the target
// folder, made with the first page and renamed over the target only when complete.
// One thread at a time: the one that owns the exporter (the GUI thread when the web engine drives
// it), or the one it hands the page work to (PrintPipeline).
#pragma once

#include "CHMToPDFConversionOptions.h"
#include "ExportPageList.h"
#include "LinkDestinationTable.h"
#include "PageTextContent.h"
#include "PrintedPageCopier.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class CHMDocument;
class LinkItem;
struct PreparedPrint;
class StreamingPDFWriter;

struct ExportPageSettings {
    double paperWidth = 595.0;
    double paperHeight = 842.0;
    double leftMargin = 36.0;
    double rightMargin = 36.0;
    double topMargin = 36.0;
    double bottomMargin = 36.0;
    bool landscape = false;

    double printableWidth() const;
    double printableHeight() const;
};

class CHMExporter {
public:
    // The page list is built here (home page, contents, the container's other HTML pages).
    // Without options both links and outline are kept and the default paper is used.
    CHMExporter(CHMDocument& document, const QString& outputPath,
                const std::vector<LinkItemPtr>& contentsPages,
                const CHMToPDFConversionOptions* options);
    // A page list given as is, for callers that know their pages (tests, tools).
    CHMExporter(CHMDocument* document, const QString& outputPath, ExportPageList pageList,
                const CHMToPDFConversionOptions* options);
    ~CHMExporter();
    CHMExporter(const CHMExporter&) = delete;
    CHMExporter& operator=(const CHMExporter&) = delete;

    const ExportPageList& pageList() const { return m_pageList; }
    const ExportPageSettings& pageSettings() const { return m_settings; }
    const QString& outputPath() const { return m_fileURL; }
    bool exportsHyperlinks() const { return m_ExportHyperlinks; }
    bool exportsTOC() const { return m_ExportTOC; }

    quint64 curPageId() const { return m_curPageId; }
    bool hasMorePages() const { return m_curPageId < m_pageList.size(); }
    // The container path of the page to print next.
    QString currentPagePath() const;
    int pageCount() const { return m_pageCount; }

    // The page work for the current page: its targets are registered, the printed PDF is read,
    // blank pages are dropped, the targets are placed on the printed pages and those pages are
    // appended. Then the exporter moves on to the next page. A print that cannot be read adds no
    // page and places no target (false, with the reason in `error`).
    bool addPrintedPage(const QByteArray& pdf, const PageTextContent& text,
                        QString* error = nullptr);
    // The same in two steps: the print read and measured on any thread (nothing of the exporter
    // is used; pagePath is the page list's path of the page printed), then appended here as the
    // current page. Reading a print is most of the work, so several can be read at once while
    // they are appended one by one, in page-list order.
    static std::unique_ptr<PreparedPrint> preparePrint(const QByteArray& pdf,
                                                       const QString& pagePath);
    bool addPreparedPrint(PreparedPrint& prepared, const PageTextContent& text,
                          QString* error = nullptr);
    // The current page could not be printed: nothing of it goes into the output.
    void skipPage();

    // Final phase, step by step so that a caller can report progress and stop between pages.
    int outputPageCount() const;
    // Turns the page's "itss" links into destinations in the output, or removes them, and
    // writes the page's annotations out. Once per page; later calls do nothing.
    void ResolveDestination(int outputPageIndex);
    // The outline from the contents tree (its root is not an entry); no-op when not wanted.
    void GenerateTableOfContents(const LinkItem* root);
    // Finishes the output (links of pages not yet resolved, the page tree, the catalog) and
    // renames it over the target. False with a message for the user when anything fails, now or
    // while pages were written (a full disk); the target is then untouched and no file is left.
    bool WritePDFData(QString* error);
    // Whether the output's folder takes a file now, before any page is printed: a folder that
    // cannot be written is told at once, not after the whole book. False with the cause.
    bool outputFolderTakesFiles(QString* error) const;

    const LinkDestinationTable& linkTargets() const { return m_links; }
    // Streams of the output written to its file as their pages were appended.
    std::size_t spilledStreams() const;
    // Objects of the output held in memory, not yet in its file (links waiting for their targets
    // apart): what appended pages leave behind.
    std::size_t heldObjects() const;

private:
    // What the end needs of one output page.
    struct OutputPage {
        int object = 0;
        int annotationsArray = 0;
        // In the print's order: those written already, and the links waiting for their targets.
        std::vector<CopiedAnnotation> annotations;
        bool resolved = false;
    };

    void applyOptions(const CHMToPDFConversionOptions* options);
    // Registers the current page's targets; ownTexts gets each one's own text (empty for the
    // page itself).
    void AddDestinationForEachPage(const PageTextContent& text, std::size_t* first,
                                   std::size_t* last, std::vector<QString>* ownTexts);
    void appendPage(QPDFObjectHandle page);
    void settleLinks(OutputPage& page);
    std::string destinationArray(quint64 outputPage, PDFPoint at) const;

    CHMDocument* m_document = nullptr;
    ExportPageList m_pageList;
    ExportPageSettings m_settings;
    QString m_fileURL;
    QString m_bookFileName; // the .chm file's name, for links that name their book
    quint64 m_curPageId = 0;
    int m_pageCount = 0;
    bool m_ExportHyperlinks = true;
    bool m_ExportTOC = true;
    LinkDestinationTable m_links;
    std::unique_ptr<StreamingPDFWriter> m_output;
    PrintedPageCopier m_copier;
    int m_pagesRoot = 0;   // the page tree's root, written last
    int m_outlineRoot = 0; // 0 without an outline
    std::vector<OutputPage> m_outputPages;
};
