// The final phase of an export: links, outline, writing.
#include "CHMExporter.h"

#include "LinkItem.h"
#include "LumenoLogging.h"
#include "PrintedLinkRewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(*m_pdfDocument).getAllPages();
    if (outputPageIndex < 0 || static_cast<std::size_t>(outputPageIndex) >= pages.size())
        return;
    QPDFObjectHandle annots = pages[outputPageIndex].getObjectHandle().getKey("/Annots");
    if (!annots.isArray())
        return;
    int i = 0;
    while (i < annots.getArrayNItems()) {
        QPDFObjectHandle annotation = annots.getArrayItem(i);
        if (!PrintedLinkRewriter::isLinkAnnotation(annotation)) {
            ++i;
            continue;
        }
        const QString uri = PrintedLinkRewriter::linkURI(annotation);
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
                        "/Dest", destinationArray(pages[item->pdfPageNo()].getObjectHandle(),
                                                  item->destLocation()));
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
    const std::vector<QPDFPageObjectHelper> pages =
        QPDFPageDocumentHelper(*m_pdfDocument).getAllPages();
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
                entry.replaceKey("/Dest",
                                 destinationArray(pages[target->pdfPageNo()].getObjectHandle(),
                                                  target->destLocation()));
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

bool CHMExporter::WritePDFData(QString* error) {
    const QFileInfo target(m_fileURL);
    const auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        qCWarning(lcExport) << "writing" << logSafe(m_fileURL) << "failed:" << message;
        return false;
    };
    QTemporaryFile temporary(target.absolutePath() + QLatin1Char('/') + target.completeBaseName() +
                             QStringLiteral(".XXXXXX.part"));
    if (!temporary.open())
        return fail(
            QObject::tr("Cannot write to the folder %1: %2")
                .arg(QDir::toNativeSeparators(target.absolutePath()), temporary.errorString()));
    const QByteArray temporaryPath = QFile::encodeName(temporary.fileName());
    temporary.close();
    try {
        QPDFWriter writer(*m_pdfDocument, temporaryPath.constData());
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    temporary.setAutoRemove(false);
    if (std::rename(temporaryPath.constData(), QFile::encodeName(m_fileURL).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(QString::fromLocal8Bit(temporaryPath));
        return fail(reason);
    }
    // A temporary file is private to its owner; the PDF gets the usual permissions.
    QFile::setPermissions(m_fileURL, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}
