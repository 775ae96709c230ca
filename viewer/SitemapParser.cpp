#include "SitemapParser.h"

#include "BookTextDecoder.h"
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

// What a NUL byte of the sitemap becomes before parsing: a noncharacter no book writes, which
// libxml2 passes through, so that a NUL ends the value it is in and nothing else.
constexpr char16_t kNulMark = 0xFDD0;
const char kNulMarkUtf8[] = "\xEF\xB7\x90";

// Parameter values become names and paths; an empty value is still a value, not a missing one.
QString textOf(const xmlChar* text) {
    QString result = QString::fromUtf8(reinterpret_cast<const char*>(text));
    const qsizetype nul = result.indexOf(QChar(kNulMark));
    if (nul >= 0)
        result.truncate(nul);
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

} // namespace

quint64 countSitemapEntries(const QByteArray& text, qsizetype from) {
    quint64 count = 0;
    const char* p = text.constData();
    const qsizetype n = text.size();
    for (qsizetype i = text.indexOf('<', from); i >= 0 && i + 3 <= n;
         i = text.indexOf('<', i + 1)) {
        if ((p[i + 1] | 0x20) != 'l' || (p[i + 2] | 0x20) != 'i')
            continue;
        const char next = i + 3 < n ? p[i + 3] : '\0';
        if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' ||
            next == '\n')
            ++count;
    }
    return count;
}

// The parse running on this thread, so that a callback can end it early.
static thread_local htmlParserCtxtPtr tl_currentParse = nullptr;
// Where in its input that parse stopped at the item limit (-1: it did not).
static thread_local long tl_stoppedAt = -1;

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
            if (toc->isFull() && tl_currentParse) {
                tl_stoppedAt = xmlByteConsumed(tl_currentParse);
                xmlStopParser(tl_currentParse);
            }
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
    // Decoded here rather than by libxml2's converter: a byte that is invalid in the code page
    // stops libxml2's conversion, and everything after it would be lost.
    QByteArray utf8 = BookTextDecoder::toUtf8(data, encodingName);
    utf8.replace('\0', QByteArray(kNulMarkUtf8));
    if (utf8.isEmpty())
        return;

    xmlInitParser();
    QuietErrors quiet;
    htmlParserCtxtPtr ctxt = htmlCreateMemoryParserCtxt(
        utf8.constData(), static_cast<int>(std::min<qsizetype>(utf8.size(), INT_MAX)));
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
    xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
    // Naming the encoding also keeps a <meta> charset in the sitemap from overriding it.
    if (ctxt->input && !ctxt->input->encoding)
        ctxt->input->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));

    tl_currentParse = ctxt;
    tl_stoppedAt = -1;
    htmlParseDocument(ctxt);
    tl_currentParse = nullptr;
    // The parse stopped at the item limit: count the entries it did not read, without parsing
    // them, so that the user can be told how much of the list is missing.
    if (tl_stoppedAt >= 0 && tl_stoppedAt < utf8.size())
        toc.addTruncatedItems(countSitemapEntries(utf8, static_cast<qsizetype>(tl_stoppedAt)));
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
