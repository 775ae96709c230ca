#include "SitemapParser.h"

#include "CHMTableOfContent.h"
#include "TextEncodingTable.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <climits>
#include <cstring>
#include <libxml/HTMLparser.h>
#include <libxml/encoding.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

namespace {

bool isNamed(const xmlChar* name, const char* wanted) {
    return xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(wanted)) == 0;
}

// Parameter values become names and paths; an empty value is still a value, not a missing one.
QString textOf(const xmlChar* text) {
    QString result = QString::fromUtf8(reinterpret_cast<const char*>(text));
    if (result.isNull())
        result = QStringLiteral("");
    return result;
}

void applyParameter(CHMTableOfContent& toc, const xmlChar** attributes) {
    const xmlChar* paramName = nullptr;
    const xmlChar* paramValue = nullptr;
    for (int i = 0; attributes[i] != nullptr; i += 2) {
        if (isNamed(attributes[i], "name"))
            paramName = attributes[i + 1];
        else if (isNamed(attributes[i], "value"))
            paramValue = attributes[i + 1];
    }
    LinkItem* item = toc.curItem();
    // Parameters outside any entry (before the first entry, or after the top-level list has
    // closed) belong to no item: the synthetic root keeps its "/" path and never becomes a page.
    if (!paramName || !paramValue || !item || item == toc.rootItems())
        return;
    if (isNamed(paramName, "Name") || isNamed(paramName, "Keyword")) {
        if (item->name().isNull())
            item->setName(textOf(paramValue));
    } else if (isNamed(paramName, "Local")) {
        item->setPath(textOf(paramValue));
    }
}

void ignoreStructuredError(void*, xmlErrorPtr) {}
void ignoreGenericError(void*, const char*, ...) {}

// libxml2 reports some faults (bytes the converter rejects, for one) outside the parser
// context, on this thread's global error channels; keep them quiet for the parse.
class QuietErrors {
public:
    QuietErrors()
        : _structured(xmlStructuredError), _structuredContext(xmlStructuredErrorContext),
          _generic(xmlGenericError), _genericContext(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, ignoreStructuredError);
        xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
    }
    ~QuietErrors() {
        xmlSetStructuredErrorFunc(_structuredContext, _structured);
        xmlSetGenericErrorFunc(_genericContext, _generic);
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlStructuredErrorFunc _structured;
    void* _structuredContext;
    xmlGenericErrorFunc _generic;
    void* _genericContext;
};

// The converter for the sitemap: the name as given, else the converter name the encoding table
// knows for it. Null when neither is known.
xmlCharEncodingHandlerPtr findConverter(const QString& encodingName, QByteArray& usedName) {
    const QByteArray candidates[] = {encodingName.toLatin1(), iconvNameForEncoding(encodingName)};
    for (const QByteArray& candidate : candidates) {
        if (candidate.isEmpty())
            continue;
        if (xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(candidate.constData())) {
            usedName = candidate;
            return handler;
        }
    }
    return nullptr;
}

} // namespace

// The parse running on this thread, so that a callback can end it early.
static thread_local htmlParserCtxtPtr tl_currentParse = nullptr;

void SitemapStartElement(void* userData, const unsigned char* name,
                         const unsigned char** attributes) noexcept {
    auto* toc = static_cast<CHMTableOfContent*>(userData);
    if (!toc || !name)
        return;
    try {
        if (isNamed(name, "ul"))
            toc->push_item();
        else if (isNamed(name, "li")) {
            // An entry past the item limit would be dropped, and so would every later one:
            // stop reading them.
            if (toc->isFull() && tl_currentParse)
                xmlStopParser(tl_currentParse);
            toc->new_item();
        } else if (isNamed(name, "param") && attributes)
            applyParameter(*toc, attributes);
    } catch (...) {
        // Out of memory: the entry is lost, the parse goes on with what it has.
    }
}

void SitemapEndElement(void* userData, const unsigned char* name) noexcept {
    auto* toc = static_cast<CHMTableOfContent*>(userData);
    if (!toc || !name)
        return;
    if (isNamed(name, "ul"))
        toc->pop_item();
}

void parseSitemap(CHMTableOfContent& toc, const QByteArray& data, const QString& encodingName) {
    if (data.isEmpty())
        return;
    // The sitemap is text: it ends at its first NUL byte.
    const char* bytes = data.constData();
    const void* nul = std::memchr(bytes, 0, static_cast<size_t>(data.size()));
    const qsizetype length = nul ? static_cast<const char*>(nul) - bytes : data.size();
    if (length == 0)
        return;

    xmlInitParser();
    QuietErrors quiet;
    htmlParserCtxtPtr ctxt =
        htmlCreateMemoryParserCtxt(bytes, static_cast<int>(std::min<qsizetype>(length, INT_MAX)));
    if (!ctxt)
        return;

    htmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.startElement = SitemapStartElement;
    handler.endElement = SitemapEndElement;
    htmlSAXHandlerPtr ownSax = ctxt->sax;
    ctxt->sax = &handler;
    ctxt->userData = &toc;
    htmlCtxtUseOptions(ctxt, HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                                 HTML_PARSE_IGNORE_ENC);

    QByteArray usedName = encodingName.toLatin1();
    if (xmlCharEncodingHandlerPtr converter = findConverter(encodingName, usedName))
        xmlSwitchToEncoding(ctxt, converter);
    // Naming the encoding also keeps a <meta> charset in the sitemap from overriding it.
    if (ctxt->input && !ctxt->input->encoding && !usedName.isEmpty())
        ctxt->input->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>(usedName.constData()));

    tl_currentParse = ctxt;
    htmlParseDocument(ctxt);
    tl_currentParse = nullptr;
    if (toc.rootItems()) {
        toc.rootItems()->enumerateItems([&encodingName](LinkItem* item) {
            if (!item->name().isEmpty())
                item->setName(repairEntityEncodedText(item->name(), encodingName));
        });
    }

    if (ctxt->myDoc) {
        xmlFreeDoc(ctxt->myDoc);
        ctxt->myDoc = nullptr;
    }
    ctxt->sax = ownSax;
    ctxt->userData = nullptr;
    htmlFreeParserCtxt(ctxt);
}
