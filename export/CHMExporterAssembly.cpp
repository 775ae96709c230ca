// The final phase of an export: links, outline, writing.
#include "CHMExporter.h"

#include "LinkItem.h"
#include "LumenoLogging.h"
#include "PrintedLinkRewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

namespace {

QPDFObjectHandle destinationArray(QPDFObjectHandle page, PDFPoint at) {
    QPDFObjectHandle dest = QPDFObjectHandle::newArray();
    dest.appendItem(page);
    dest.appendItem(QPDFObjectHandle::newName("/XYZ"));
    dest.appendItem(QPDFObjectHandle::newReal(at.x, 2));
    dest.appendItem(QPDFObjectHandle::newReal(at.y, 2));
    dest.appendItem(QPDFObjectHandle::newNull());
    return dest;
}

} // namespace

void CHMExporter::ResolveDestination(int outputPageIndex) {
    // qpdf's own list, kept up to date as pages are added: no copy per page resolved.
    const std::vector<QPDFObjectHandle>& pages = m_pdfDocument->getAllPages();
    if (outputPageIndex < 0 || static_cast<std::size_t>(outputPageIndex) >= pages.size())
        return;
    QPDFObjectHandle page = pages[outputPageIndex];
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!annots.isArray())
        return;
    int i = 0;
    while (i < annots.getArrayNItems()) {
        QPDFObjectHandle annotation = annots.getArrayItem(i);
        if (!PrintedLinkRewriter::isLinkAnnotation(annotation)) {
            ++i;
            continue;
        }
        QString uri = PrintedLinkRewriter::linkURI(annotation);
        // A link into this book by its help-file name is a link within it; into another book
        // it leads nowhere from a PDF.
        const QString helpFileTarget = PrintedLinkRewriter::helpFileLinkTarget(uri, m_bookFileName);
        if (helpFileTarget == QLatin1String("-")) {
            annots.eraseItem(i);
            continue;
        }
        if (!helpFileTarget.isEmpty())
            uri = helpFileTarget;
        if (!uri.startsWith(QLatin1String("itss:"), Qt::CaseInsensitive)) {
            // A link of another kind that still names a destination of the printed file would
            // lead nowhere here: only web links and our own destinations stay.
            if (!annotation.hasKey("/Dest")) {
                ++i;
                continue;
            }
        } else if (m_ExportHyperlinks) {
            if (const LinkDestinationItem* item = m_links.IsDestinationLinkExistForPath(uri)) {
                if (item->pdfPageNo() < pages.size()) {
                    annotation.removeKey("/A");
                    annotation.replaceKey(
                        "/Dest", destinationArray(pages[item->pdfPageNo()], item->destLocation()));
                    ++i;
                    continue;
                }
            }
        }
        annots.eraseItem(i);
    }
}

void CHMExporter::GenerateTableOfContents(const LinkItem* root) {
    if (!m_ExportTOC || !root)
        return;
    const std::vector<QPDFObjectHandle>& pages = m_pdfDocument->getAllPages();
    QPDF& pdf = *m_pdfDocument;

    // An explicit work list, so that contents of any depth are safe. `descendants` counts the
    // entries below a level, all shown open.
    struct Level {
        const LinkItem* item;
        QPDFObjectHandle entry;
        std::size_t next = 0;
        QPDFObjectHandle last;
        int descendants = 0;
    };
    QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    std::vector<Level> stack;
    stack.push_back({root, outlines, 0, QPDFObjectHandle(), 0});
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.item->children().size()) {
            if (level.last.isInitialized()) {
                level.entry.replaceKey("/Last", level.last);
                level.entry.replaceKey("/Count", QPDFObjectHandle::newInteger(level.descendants));
            }
            const int made = level.descendants;
            stack.pop_back();
            if (!stack.empty())
                stack.back().descendants += made;
            continue;
        }
        const LinkItem* child = level.item->children()[level.next++].get();
        QPDFObjectHandle entry = pdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        entry.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(child->name().toStdString()));
        entry.replaceKey("/Parent", level.entry);
        if (!child->path().isEmpty() && !m_links.isEmpty()) {
            const LinkDestinationItem* target = m_links.IsDestinationLinkExistForPath(
                QStringLiteral("itss://chm/") + child->path());
            if (target && target->pdfPageNo() < pages.size())
                entry.replaceKey(
                    "/Dest", destinationArray(pages[target->pdfPageNo()], target->destLocation()));
        }
        if (!level.last.isInitialized()) {
            level.entry.replaceKey("/First", entry);
        } else {
            level.last.replaceKey("/Next", entry);
            entry.replaceKey("/Prev", level.last);
        }
        level.last = entry;
        level.descendants += 1;
        stack.push_back({child, entry, 0, QPDFObjectHandle(), 0});
    }
    if (!outlines.hasKey("/First"))
        return;
    pdf.getRoot().replaceKey("/Outlines", outlines);
    pdf.getRoot().replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));
}

namespace {

// Hands qpdf's output to a file and remembers any failure: qpdf's own file output does not
// notice a short write (a full disk), and a cut-off PDF must never pass for a written one.
// Nothing is thrown: qpdf calls finish() where an exception cannot pass. After a failure the
// rest of the output is dropped.
class SaveFilePipeline : public Pipeline {
public:
    explicit SaveFilePipeline(QSaveFile& file) : Pipeline("save file", nullptr), m_file(file) {}
    void write(unsigned char const* data, size_t length) override {
        while (length > 0 && !m_failed) {
            errno = 0;
            const qint64 written =
                m_file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(length));
            if (written <= 0) {
                fail();
                return;
            }
            data += written;
            length -= static_cast<size_t>(written);
        }
    }
    void finish() override {
        errno = 0;
        if (!m_failed && !m_file.flush())
            fail();
    }
    bool failed() const { return m_failed; }
    // The system's word for what went wrong ("No space left on device"): the file's own error
    // string is often only "Unknown error" when a buffered write fails.
    QString reason() const { return m_reason.isEmpty() ? m_file.errorString() : m_reason; }

private:
    void fail() {
        m_failed = true;
        if (errno != 0)
            m_reason = QString::fromLocal8Bit(std::strerror(errno));
    }

    QSaveFile& m_file;
    bool m_failed = false;
    QString m_reason;
};

} // namespace

bool CHMExporter::WritePDFData(QString* error) {
    const auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        qCWarning(lcExport) << "writing" << logSafe(m_fileURL) << "failed:" << message;
        return false;
    };
    // A temporary file beside the target, renamed over it only when everything was written.
    QSaveFile file(m_fileURL);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    SaveFilePipeline pipeline(file);
    try {
        QPDFWriter writer(*m_pdfDocument);
        writer.setOutputPipeline(&pipeline);
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
    } catch (const std::exception& e) {
        file.cancelWriting();
        return fail(QString::fromUtf8(e.what()));
    }
    if (pipeline.failed()) {
        const QString reason = pipeline.reason();
        file.cancelWriting();
        return fail(reason);
    }
    errno = 0;
    if (!file.commit()) {
        const int cause = errno;
        return fail(cause ? QString::fromLocal8Bit(std::strerror(cause)) : file.errorString());
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
