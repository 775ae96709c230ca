// The final phase of an export: links, outline, writing.
#include "CHMExporter.h"

#include "LinkItem.h"
#include "LumenoLogging.h"
#include "PrintedLinkRewriter.h"
#include "StreamingPDFWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

namespace {

// A position's coordinate as the destination states it.
std::string coordinate(double value) {
    return QPDFObjectHandle::newReal(value, 2).unparse();
}

} // namespace

std::string CHMExporter::destinationArray(quint64 outputPage, PDFPoint at) const {
    return " [" + StreamingPDFWriter::reference(m_outputPages[outputPage].object) + " /XYZ " +
           coordinate(at.x) + ' ' + coordinate(at.y) + " null ]";
}

void CHMExporter::settleLinks(OutputPage& page) {
    // What becomes of every link but those into the book is known as the page is appended: it is
    // written now or dropped now, and only links waiting for their targets stay in memory.
    auto kept = page.annotations.begin();
    for (CopiedAnnotation& annotation : page.annotations) {
        if (annotation.isLink()) {
            // A link into this book by its help-file name is a link within it; into another book
            // it leads nowhere from a PDF.
            const QString helpFileTarget =
                PrintedLinkRewriter::helpFileLinkTarget(annotation.uri, m_bookFileName);
            if (helpFileTarget == QLatin1String("-"))
                continue;
            if (!helpFileTarget.isEmpty())
                annotation.uri = helpFileTarget;
            if (!annotation.uri.startsWith(QLatin1String("itss:"), Qt::CaseInsensitive)) {
                // A link of another kind that still names a destination of the printed file would
                // lead nowhere here: only web links and our own destinations stay.
                if (annotation.hasDest)
                    continue;
                annotation.object = m_output->reserve();
                m_output->writeObject(annotation.object,
                                      "<<" + annotation.entries + annotation.action + " >>");
                annotation = CopiedAnnotation{annotation.object, {}, {}, {}, false};
            } else if (!m_ExportHyperlinks) {
                continue;
            } else {
                // Resolved once every page is printed: what it led to in the print is not needed.
                annotation.action = std::string();
            }
        }
        if (&*kept != &annotation)
            *kept = std::move(annotation);
        ++kept;
    }
    page.annotations.erase(kept, page.annotations.end());
}

void CHMExporter::ResolveDestination(int outputPageIndex) {
    if (outputPageIndex < 0 || static_cast<std::size_t>(outputPageIndex) >= m_outputPages.size())
        return;
    OutputPage& page = m_outputPages[static_cast<std::size_t>(outputPageIndex)];
    if (page.resolved)
        return;
    page.resolved = true;
    if (page.annotationsArray == 0)
        return;
    std::string array = "[";
    for (const CopiedAnnotation& annotation : page.annotations) {
        int object = annotation.object;
        if (annotation.isLink()) {
            const LinkDestinationItem* item = m_links.IsDestinationLinkExistForPath(annotation.uri);
            if (!item || item->pdfPageNo() >= m_outputPages.size())
                continue;
            object = m_output->reserve();
            m_output->writeObject(
                object, "<<" + annotation.entries + " /Dest" +
                            destinationArray(item->pdfPageNo(), item->destLocation()) + " >>");
        }
        array += StreamingPDFWriter::reference(object);
    }
    array += " ]";
    m_output->writeObject(page.annotationsArray, array);
    // Nothing of the page is needed any more but its number.
    std::vector<CopiedAnnotation>().swap(page.annotations);
}

void CHMExporter::GenerateTableOfContents(const LinkItem* root) {
    if (!m_ExportTOC || !root || m_outlineRoot != 0)
        return;
    // The entries in depth-first order, so that an entry's descendants follow it: every entry's
    // neighbours are known before any is written. An explicit work list, so that contents of any
    // depth are safe.
    struct Entry {
        const LinkItem* item;
        int parent; // index into entries; -1 for the outline's root
        int object = 0;
        int descendants = 0; // entries below it, all shown open
        int first = -1, last = -1, previous = -1, next = -1;
    };
    std::vector<Entry> entries;
    std::vector<std::pair<const LinkItem*, int>> work;
    for (auto child = root->children().rbegin(); child != root->children().rend(); ++child)
        work.emplace_back(child->get(), -1);
    while (!work.empty()) {
        const auto [item, parent] = work.back();
        work.pop_back();
        const int index = static_cast<int>(entries.size());
        entries.push_back({item, parent});
        for (auto child = item->children().rbegin(); child != item->children().rend(); ++child)
            work.emplace_back(child->get(), index);
    }
    if (entries.empty())
        return;
    int rootFirst = -1, rootLast = -1;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        Entry& entry = entries[static_cast<std::size_t>(i)];
        entry.object = m_output->reserve();
        int& first = entry.parent < 0 ? rootFirst : entries[entry.parent].first;
        int& last = entry.parent < 0 ? rootLast : entries[entry.parent].last;
        if (first < 0) {
            first = i;
        } else {
            entries[static_cast<std::size_t>(last)].next = i;
            entry.previous = last;
        }
        last = i;
    }
    // Children follow their parents: counting from the end adds each subtree once.
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->parent >= 0)
            entries[static_cast<std::size_t>(entry->parent)].descendants += entry->descendants + 1;
    }
    m_outlineRoot = m_output->reserve();
    const auto objectOf = [&](int index) {
        return StreamingPDFWriter::reference(entries[static_cast<std::size_t>(index)].object);
    };
    for (const Entry& entry : entries) {
        std::string text =
            "<< /Title " +
            QPDFObjectHandle::newUnicodeString(entry.item->name().toStdString()).unparse() +
            " /Parent" +
            (entry.parent < 0 ? StreamingPDFWriter::reference(m_outlineRoot)
                              : objectOf(entry.parent));
        if (entry.previous >= 0)
            text += " /Prev" + objectOf(entry.previous);
        if (entry.next >= 0)
            text += " /Next" + objectOf(entry.next);
        if (entry.first >= 0)
            text += " /First" + objectOf(entry.first) + " /Last" + objectOf(entry.last) +
                    " /Count " + std::to_string(entry.descendants);
        if (!entry.item->path().isEmpty() && !m_links.isEmpty()) {
            const LinkDestinationItem* target = m_links.IsDestinationLinkExistForPath(
                QStringLiteral("itss://chm/") + entry.item->path());
            if (target && target->pdfPageNo() < m_outputPages.size())
                text += " /Dest" + destinationArray(target->pdfPageNo(), target->destLocation());
        }
        m_output->writeObject(entry.object, text + " >>");
    }
    m_output->writeObject(m_outlineRoot, "<< /Type /Outlines /First" + objectOf(rootFirst) +
                                             " /Last" + objectOf(rootLast) + " /Count " +
                                             std::to_string(entries.size()) + " >>");
}

bool CHMExporter::WritePDFData(QString* error) {
    // Pages whose links were never resolved are resolved now: no "itss" link is left in a PDF.
    for (std::size_t i = 0; i < m_outputPages.size(); ++i)
        ResolveDestination(static_cast<int>(i));
    std::string kids;
    kids.reserve(m_outputPages.size() * 10);
    for (const OutputPage& page : m_outputPages)
        kids += StreamingPDFWriter::reference(page.object);
    m_output->writeObject(m_pagesRoot, "<< /Type /Pages /Kids [" + kids + " ] /Count " +
                                           std::to_string(m_outputPages.size()) + " >>");
    const int catalog = m_output->reserve();
    std::string text = "<< /Type /Catalog /Pages" + StreamingPDFWriter::reference(m_pagesRoot);
    if (m_outlineRoot != 0)
        text +=
            " /Outlines" + StreamingPDFWriter::reference(m_outlineRoot) + " /PageMode /UseOutlines";
    m_output->writeObject(catalog, text + " >>");
    QString reason;
    if (!m_output->commit(catalog, &reason)) {
        if (error)
            *error = reason;
        qCWarning(lcExport) << "writing" << logSafe(m_fileURL) << "failed:" << reason;
        return false;
    }
    return true;
}

bool CHMExporter::outputFolderTakesFiles(QString* error) const {
    const QString folder = QFileInfo(m_fileURL).absolutePath();
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".lumeno-export-XXXXXX")));
    errno = 0;
    // A few kilobytes, flushed: a folder on a full disk takes an empty file but no data.
    const QByteArray bytes(4096, ' ');
    if (probe.open() && probe.write(bytes) == bytes.size() && probe.flush())
        return true;
    const int cause = errno;
    const QString reason =
        cause ? QString::fromLocal8Bit(std::strerror(cause)) : probe.errorString();
    qCWarning(lcExport) << "the folder" << logSafe(folder) << "takes no file:" << reason;
    if (error)
        *error = reason;
    return false;
}
