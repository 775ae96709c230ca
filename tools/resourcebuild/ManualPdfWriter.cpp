#include "ManualPdfWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTemporaryFile>
#include <QTextDocument>
#include <QUrl>

namespace {

// Dots per inch of the layout; fonts keep their point sizes and text stays text at any value.
constexpr int kLayoutResolution = 300;

QString titleOf(const QTextDocument& document) {
    const QString title = document.metaInformation(QTextDocument::DocumentTitle).trimmed();
    return title.isEmpty() ? QStringLiteral("Lumeno+ User Manual") : title;
}

} // namespace

bool ManualPdfWriter::write(const QString& htmlPath, const QString& pdfPath, QString* error) {
    QFile source(htmlPath);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read: %2").arg(htmlPath, source.errorString());
        return false;
    }
    const QString html = QString::fromUtf8(source.readAll());
    if (html.trimmed().isEmpty()) {
        *error = QStringLiteral("%1: the manual's source is empty").arg(htmlPath);
        return false;
    }

    QTextDocument document;
    document.setBaseUrl(QUrl::fromLocalFile(QFileInfo(htmlPath).absolutePath() + '/'));
    const QString styleSheet = QFileInfo(htmlPath).absolutePath() + QStringLiteral("/manual.css");
    QFile css(styleSheet);
    if (css.open(QIODevice::ReadOnly))
        document.setDefaultStyleSheet(QString::fromUtf8(css.readAll()));
    document.setHtml(html);

    // Written next to the target, then renamed: a failed run keeps the previous manual.
    QTemporaryFile partial(QFileInfo(pdfPath).absolutePath() + QStringLiteral("/.manual-XXXXXX"));
    if (!partial.open()) {
        *error = QStringLiteral("%1: cannot write: %2").arg(pdfPath, partial.errorString());
        return false;
    }
    {
        QPdfWriter writer(&partial);
        writer.setResolution(kLayoutResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
        writer.setTitle(titleOf(document));
        writer.setCreator(QStringLiteral("Lumeno+"));
        // QTextDocument::print breaks the text into pages with margins and page numbers.
        document.print(&writer);
    }
    if (!partial.flush() || partial.size() == 0) {
        *error = QStringLiteral("%1: the PDF could not be written").arg(pdfPath);
        return false;
    }
    QFile::remove(pdfPath);
    if (!partial.rename(pdfPath)) {
        *error = QStringLiteral("%1: cannot write: %2").arg(pdfPath, partial.errorString());
        return false;
    }
    partial.setAutoRemove(false);
    // A temporary file is private to its owner; the manual is for everyone.
    QFile::setPermissions(pdfPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return true;
}
