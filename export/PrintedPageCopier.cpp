#include "PrintedPageCopier.h"

#include "PrintedLinkRewriter.h"
#include "StreamingPDFWriter.h"

#include <QByteArray>
#include <QList>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <stdexcept>

namespace {

// Deeper than anything a printer makes; qpdf's own parser stops before.
constexpr int kMaxDepth = 500;

} // namespace

void PrintedPageCopier::beginPrint(QPDF& printed) {
    endPrint();
    for (const QPDFObjectHandle& page : printed.getAllPages())
        m_printPages.insert(page.getObjGen());
    const QList<QByteArray> version = QByteArray::fromStdString(printed.getPDFVersion()).split('.');
    if (version.size() == 2)
        m_writer.requireVersion(version[0].toInt(), version[1].toInt());
}

void PrintedPageCopier::endPrint() {
    m_printPages.clear();
    m_copied.clear();
    m_written.clear();
    m_staging.clear();
    m_work.clear();
    m_staged.clear();
    m_inlining.clear();
}

CopiedPage PrintedPageCopier::copyPage(QPDFObjectHandle page, int parent) {
    m_staging.clear();
    m_work.clear();
    m_staged.clear();
    m_inlining.clear();
    m_page = page.getObjGen();
    // Another page of the print may have named this one already; a page listed twice gets a
    // second object.
    const auto named = m_copied.find(m_page);
    m_pageNumber =
        named != m_copied.end() && !m_written.count(m_page) ? named->second : m_writer.reserve();
    CopiedPage copied;
    copied.object = m_pageNumber;
    try {
        std::string text = "<<";
        for (auto& [key, value] : page.ditems()) {
            if (key != "/Parent" && key != "/Annots")
                appendDictionaryEntry(key, value, text, 1, false);
        }
        text += " /Parent" + StreamingPDFWriter::reference(parent);
        QPDFObjectHandle annotations = page.getKey("/Annots");
        if (annotations.isArray()) {
            copied.annotationsArray = m_writer.reserve();
            text += " /Annots" + StreamingPDFWriter::reference(copied.annotationsArray);
            for (QPDFObjectHandle& annotation : annotations.aitems())
                copied.annotations.push_back(copyAnnotation(annotation));
        }
        m_staged.push_back({m_pageNumber, text + " >>", false, {}});
        while (!m_work.empty()) {
            QPDFObjectHandle object = m_work.back();
            m_work.pop_back();
            stage(object, m_staging[object.getObjGen()]);
        }
    } catch (...) {
        m_staging.clear();
        m_work.clear();
        m_staged.clear();
        throw;
    }
    // Everything was read: only now is the page written.
    for (Staged& object : m_staged) {
        if (object.stream)
            m_writer.writeStream(object.number, object.text,
                                 reinterpret_cast<const unsigned char*>(object.data.data()),
                                 object.data.size());
        else
            m_writer.writeObject(object.number, object.text);
    }
    m_copied.insert(m_staging.begin(), m_staging.end());
    m_copied[m_page] = m_pageNumber;
    m_written.insert(m_page);
    m_staging.clear();
    m_staged.clear();
    return copied;
}

int PrintedPageCopier::numberFor(QPDFObjectHandle object) {
    const QPDFObjGen og = object.getObjGen();
    if (og == m_page)
        return m_pageNumber;
    if (const auto copied = m_copied.find(og); copied != m_copied.end())
        return copied->second;
    if (const auto staged = m_staging.find(og); staged != m_staging.end())
        return staged->second;
    const int number = m_writer.reserve();
    if (m_printPages.count(og)) {
        // Written when that page is appended; never, when it is not (then it reads as null).
        m_copied[og] = number;
        return number;
    }
    m_staging[og] = number;
    m_work.push_back(object);
    return number;
}

void PrintedPageCopier::stage(QPDFObjectHandle object, int number) {
    if (!object.isStream()) {
        std::string text;
        append(object, text, 0, false);
        m_staged.push_back({number, std::move(text), false, {}});
        return;
    }
    QPDFObjectHandle dictionary = object.getDict();
    std::string entries;
    bool encoded = false;
    for (auto& [key, value] : dictionary.ditems()) {
        // The length is the written data's; an indirect one is not written at all.
        if (key == "/Length")
            continue;
        if (key == "/Filter" || key == "/DecodeParms" || key == "/F")
            encoded = encoded || !value.isNull();
        appendDictionaryEntry(key, value, entries, 1, false);
    }
    const std::shared_ptr<Buffer> raw = object.getRawStreamData();
    Staged staged{number, {}, true, {}};
    // Stored plain, a stream is compressed as qpdf's writer would; metadata stays readable.
    const bool metadata = dictionary.getKey("/Type").isNameAndEquals("/Metadata");
    if (!encoded && !metadata && raw->getSize() > 0) {
        staged.data = StreamingPDFWriter::deflated(raw->getBuffer(), raw->getSize());
        entries += " /Filter /FlateDecode";
    } else {
        staged.data.assign(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize());
    }
    staged.text = std::move(entries);
    m_staged.push_back(std::move(staged));
}

void PrintedPageCopier::appendDictionaryEntry(const std::string& key, QPDFObjectHandle value,
                                              std::string& out, int depth, bool inlined) {
    // A null value is the same as no entry.
    if (value.isNull())
        return;
    out += ' ';
    out += QPDFObjectHandle::newName(key).unparse();
    append(value, out, depth, inlined);
}

void PrintedPageCopier::append(QPDFObjectHandle value, std::string& out, int depth, bool inlined) {
    if (depth > kMaxDepth)
        throw std::runtime_error("the printed page nests its objects too deeply");
    QPDFObjGen guarded;
    if (depth > 0 && value.isIndirect()) {
        const QPDFObjGen og = value.getObjGen();
        if (!inlined || value.isStream() || og == m_page || m_printPages.count(og)) {
            out += StreamingPDFWriter::reference(numberFor(value));
            return;
        }
        if (!m_inlining.insert(og).second) {
            out += " null";
            return;
        }
        guarded = og;
    }
    switch (value.getTypeCode()) {
    case ::ot_boolean:
    case ::ot_integer:
    case ::ot_real:
    case ::ot_string:
    case ::ot_name:
        out += ' ';
        out += value.unparseResolved();
        break;
    case ::ot_array:
        out += " [";
        for (QPDFObjectHandle& item : value.aitems())
            append(item, out, depth + 1, inlined);
        out += " ]";
        break;
    case ::ot_dictionary:
        out += " <<";
        for (auto& [key, item] : value.ditems())
            appendDictionaryEntry(key, item, out, depth + 1, inlined);
        out += " >>";
        break;
    default:
        // Null, and what no object of a file is on its own (a stream is always indirect).
        out += " null";
        break;
    }
    if (guarded.isIndirect())
        m_inlining.erase(guarded);
}

CopiedAnnotation PrintedPageCopier::copyAnnotation(QPDFObjectHandle annotation) {
    CopiedAnnotation copied;
    if (!PrintedLinkRewriter::isLinkAnnotation(annotation)) {
        // Kept whatever the links become: written with the page.
        if (annotation.isIndirect()) {
            copied.object = numberFor(annotation);
        } else {
            copied.object = m_writer.reserve();
            std::string text;
            append(annotation, text, 0, false);
            m_staged.push_back({copied.object, std::move(text), false, {}});
        }
        return copied;
    }
    copied.uri = PrintedLinkRewriter::linkURI(annotation);
    copied.hasDest = annotation.hasKey("/Dest");
    for (auto& [key, value] : annotation.ditems()) {
        if (key == "/A" || key == "/Dest")
            appendDictionaryEntry(key, value, copied.action, 1, true);
        else
            appendDictionaryEntry(key, value, copied.entries, 1, false);
    }
    return copied;
}
