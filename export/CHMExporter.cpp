#include "CHMExporter.h"

#include "CHMDocument.h"
#include "IsPDFPageBlank.h"
#include "LinkDestMatcher.h"
#include "LumenoLogging.h"
#include "PreparedPrint.h"
#include "PrintedLinkRewriter.h"
#include "PrintedPDFText.h"
#include "PrintedTargetPlacer.h"
#include "StreamingPDFWriter.h"

#include <poppler-document.h>
#include <poppler-page.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <stdexcept>

double ExportPageSettings::printableWidth() const {
    return std::max(1.0, (landscape ? paperHeight : paperWidth) - leftMargin - rightMargin);
}

double ExportPageSettings::printableHeight() const {
    return std::max(1.0, (landscape ? paperWidth : paperHeight) - topMargin - bottomMargin);
}

CHMExporter::CHMExporter(CHMDocument& document, const QString& outputPath,
                         const std::vector<LinkItemPtr>& contentsPages,
                         const CHMToPDFConversionOptions* options)
    : CHMExporter(&document, outputPath, ExportPageList(contentsPages), options) {
    m_pageList.addDocumentPages(document);
}

CHMExporter::CHMExporter(CHMDocument* document, const QString& outputPath, ExportPageList pageList,
                         const CHMToPDFConversionOptions* options)
    : m_document(document), m_pageList(std::move(pageList)), m_fileURL(outputPath),
      m_output(std::make_unique<StreamingPDFWriter>(outputPath)), m_copier(*m_output) {
    if (m_document)
        m_bookFileName = QFileInfo(m_document->filePath()).fileName();
    applyOptions(options);
    m_pagesRoot = m_output->reserve();
}

CHMExporter::~CHMExporter() = default;

void CHMExporter::applyOptions(const CHMToPDFConversionOptions* options) {
    if (!options)
        return;
    m_settings.landscape = options->paperOrientation == 1;
    m_settings.leftMargin = std::max(0.0, options->leftMargin);
    m_settings.topMargin = std::max(0.0, options->topMargin);
    m_settings.rightMargin = std::max(0.0, options->rightMargin);
    m_settings.bottomMargin = std::max(0.0, options->bottomMargin);
    if (options->paperWidth > 0 && options->paperHeight > 0) {
        m_settings.paperWidth = options->paperWidth;
        m_settings.paperHeight = options->paperHeight;
    }
    m_ExportHyperlinks = options->exportHyperlinks;
    m_ExportTOC = options->exportTOC;
}

QString CHMExporter::currentPagePath() const {
    return hasMorePages() ? m_pageList.at(m_curPageId).path() : QString();
}

void CHMExporter::skipPage() {
    if (hasMorePages())
        ++m_curPageId;
}

void CHMExporter::AddDestinationForEachPage(const PageTextContent& text, std::size_t* first,
                                            std::size_t* last, std::vector<QString>* ownTexts) {
    const QString path = currentPagePath();
    *first = m_links.count();
    m_links.addPageTarget(LinkDestinationTable::pageURL(path), m_curPageId);
    ownTexts->push_back(QString());
    for (const PageTextContent::Anchor& anchor : text.anchors()) {
        if (m_links.addAnchorTarget(LinkDestinationTable::anchorURL(path, anchor.name), m_curPageId,
                                    anchor.charIndex))
            ownTexts->push_back(anchor.ownText);
    }
    *last = m_links.count();
}

namespace {

// Pages with more text than this are never blank, so the blank test need not look at them.
bool hasLittleText(const std::vector<PrintedWord>& words) {
    std::size_t characters = 0;
    for (const PrintedWord& word : words) {
        // UTF-8 lead bytes: one per character.
        for (const char c : word.text)
            characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        if (characters > 5)
            return false;
    }
    return true;
}

} // namespace

std::atomic<int> PreparedPrint::s_live{0};

PreparedPrint::PreparedPrint() {
    s_live.fetch_add(1);
}

PreparedPrint::~PreparedPrint() {
    // The pages refer into the parsed print: they go first.
    pages.clear();
    printed.reset();
    s_live.fetch_sub(1);
}

std::unique_ptr<PreparedPrint> CHMExporter::preparePrint(const QByteArray& pdf,
                                                         const QString& pagePath) {
    auto prepared = std::make_unique<PreparedPrint>();
    prepared->pdf = pdf;
    // Three readers of the same bytes: qpdf for the pages, Poppler's text engine for word
    // positions, poppler-cpp for the blank test. The last is opened only for pages with almost no
    // words (text extraction is what costs, with the fonts of Chinese or Japanese pages).
    std::unique_ptr<poppler::document> rendered;
    try {
        auto printed = std::make_unique<QPDF>();
        printed->setSuppressWarnings(true);
        printed->processMemoryFile("printed page", prepared->pdf.constData(),
                                   static_cast<size_t>(prepared->pdf.size()));
        prepared->printed = std::move(printed);
    } catch (const std::exception& e) {
        prepared->error = QString::fromUtf8(e.what());
        return prepared;
    }
    try {
        QPDF& printed = *prepared->printed;
        // A page's own values, not those its page tree hands down: the pages go without it.
        QPDFPageDocumentHelper(printed).pushInheritedAttributesToPage();
        PrintedLinkRewriter::rewriteNamedDestinations(printed,
                                                      LinkDestinationTable::pageURL(pagePath));
        try {
            // Every object is read here, on the caller's thread, so that appending the pages
            // later only copies them. One that can't be read is left to the copy, which fails
            // on it as it always did.
            for (QPDFObjectHandle& object : printed.getAllObjects())
                (void)object.getTypeCode();
        } catch (const std::exception&) {
        }
        PrintedPDFText words(prepared->pdf);
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(printed).getAllPages();
        prepared->pages.reserve(pages.size());
        for (std::size_t i = 0; i < pages.size(); ++i) {
            PreparedPrint::Page page{
                pages[i], withoutRepaintedWords(words.wordsOfPage(static_cast<int>(i))),
                pages[i].getCropBox(false, false).getArrayAsRectangle(), false};
            if (hasLittleText(page.words)) {
                if (!rendered)
                    rendered.reset(poppler::document::load_from_raw_data(
                        prepared->pdf.constData(), static_cast<int>(prepared->pdf.size())));
                std::unique_ptr<poppler::page> shown(
                    rendered ? rendered->create_page(static_cast<int>(i)) : nullptr);
                page.blank = shown && IsPDFPageBlank(shown.get());
            }
            prepared->pages.push_back(std::move(page));
        }
    } catch (const std::exception& e) {
        prepared->error = QString::fromUtf8(e.what());
    }
    return prepared;
}

bool CHMExporter::addPrintedPage(const QByteArray& pdf, const PageTextContent& text,
                                 QString* error) {
    if (!hasMorePages())
        return false;
    const std::unique_ptr<PreparedPrint> prepared = preparePrint(pdf, currentPagePath());
    return addPreparedPrint(*prepared, text, error);
}

bool CHMExporter::addPreparedPrint(PreparedPrint& prepared, const PageTextContent& text,
                                   QString* error) {
    if (!hasMorePages())
        return false;
    const QString pagePath = currentPagePath();
    std::size_t firstItem = 0, lastItem = 0;
    std::vector<QString> ownTexts;
    AddDestinationForEachPage(text, &firstItem, &lastItem, &ownTexts);
    const auto advance = qScopeGuard([this] { ++m_curPageId; });
    if (!prepared.printed) {
        if (error)
            *error = prepared.error;
        qCWarning(lcExport) << "printed page" << logSafe(pagePath)
                            << "unreadable:" << prepared.error;
        return false;
    }

    std::vector<PrintedTargetPlacer::Target> targets;
    for (std::size_t i = firstItem; i < lastItem; ++i)
        targets.push_back({m_links.itemAt(i).charIndex(), ownTexts[i - firstItem]});
    std::vector<const PreparedPrint::Page*> kept;
    for (const PreparedPrint::Page& printedPage : prepared.pages) {
        if (!printedPage.blank)
            kept.push_back(&printedPage);
    }
    PrintedTargetPlacer placer(text.text(), std::move(targets), kept);
    const auto place = [&](const std::vector<PrintedTargetPlacer::Placement>& placements) {
        for (const PrintedTargetPlacer::Placement& placement : placements)
            m_links.itemAt(firstItem + placement.target)
                .place(static_cast<quint64>(placement.outputPage), placement.where);
    };

    // Objects the print's pages share (their fonts) are written once, for the first of them.
    m_copier.beginPrint(*prepared.printed);
    const auto forgetPrint = qScopeGuard([this] { m_copier.endPrint(); });
    try {
        for (std::size_t k = 0; k < kept.size(); ++k) {
            const int outputPage = m_pageCount;
            appendPage(QPDFObjectHandle(kept[k]->page.getObjectHandle()));
            place(placer.placeOnPage(k, outputPage));
        }
        // Pages read before the print failed are kept; the rest of it is lost.
        if (!prepared.error.isEmpty())
            throw std::runtime_error(prepared.error.toStdString());
        place(placer.finish());
    } catch (const std::exception& e) {
        // Pages of this print appended so far stay; the rest of it is lost.
        if (error)
            *error = QString::fromUtf8(e.what());
        qCWarning(lcExport) << "printed page" << logSafe(pagePath) << "failed:" << e.what();
        return false;
    }
    return true;
}

void CHMExporter::appendPage(QPDFObjectHandle page) {
    CopiedPage copied = m_copier.copyPage(page, m_pagesRoot);
    OutputPage output;
    output.object = copied.object;
    output.annotationsArray = copied.annotationsArray;
    output.annotations = std::move(copied.annotations);
    settleLinks(output);
    m_outputPages.push_back(std::move(output));
    ++m_pageCount;
}

std::size_t CHMExporter::spilledStreams() const {
    return m_output->streamsWritten();
}

std::size_t CHMExporter::heldObjects() const {
    return m_output->objectsHeld();
}

int CHMExporter::outputPageCount() const {
    return m_pageCount;
}
