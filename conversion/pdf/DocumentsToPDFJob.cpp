#include "DocumentsToPDFJob.h"

#include "DocumentResources.h"
#include "DocumentText.h"
#include "ImagesToPDFJob.h"
#include "IsPDFPageBlank.h"
#include "MergedPDFDocument.h"
#include "OutputFile.h"
#include "TypedCharacters.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QTextCursor>
#include <QTextDocument>

#include <poppler-document.h>
#include <poppler-page.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace conversion {

namespace {

// Fonts and text layout need a GUI application; a program without one (convtool, a test) gets
// one on the offscreen platform, made once and kept for the process.
bool ensureGuiApplication() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return true;
    if (QCoreApplication::instance())
        return false;
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "lumeno-conversion";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    return application != nullptr;
}

double length(double v) {
    return std::isfinite(v) && v > 0 ? v : 0.0;
}

void applyAttributes(QTextDocument& document, const TextAttributes& a) {
    QTextCharFormat format;
    if (a.fontFamily)
        format.setFontFamilies({QString::fromStdString(*a.fontFamily)});
    if (a.fontSize && std::isfinite(*a.fontSize) && *a.fontSize > 0)
        format.setFontPointSize(*a.fontSize);
    if (a.textColor)
        format.setForeground(QColor(QRgb(*a.textColor)));
    QTextCursor cursor(&document);
    cursor.select(QTextCursor::Document);
    cursor.mergeCharFormat(format);
    if (a.fontFamily || a.fontSize) {
        QFont font = document.defaultFont();
        if (a.fontFamily)
            font.setFamilies({QString::fromStdString(*a.fontFamily)});
        if (a.fontSize && *a.fontSize > 0)
            font.setPointSizeF(*a.fontSize);
        document.setDefaultFont(font);
    }
}

} // namespace

std::vector<bool> BlankPagesOf(const std::filesystem::path& pdf) {
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(pdf.string()));
    if (!document || document->is_locked())
        return {};
    std::vector<bool> blank(std::size_t(std::max(0, document->pages())), false);
    for (std::size_t i = 0; i < blank.size(); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(int(i)));
        blank[i] = IsPDFPageBlank(page.get());
    }
    return blank;
}

void DocumentsToPDFJob::SetDocumentsToPDFOptions(const DocumentsToPDFOptions& o) {
    SetDocumentLayout(o.orientation, o.writeOptions, o.textAttributes, o.richTextAttributes,
                      o.paperWidth, o.paperHeight, o.leftMargin, o.rightMargin, o.topMargin,
                      o.bottomMargin);
    jobList = o.jobList;
    outputURL = o.outputURL;
}

void DocumentsToPDFJob::SetDocumentLayout(std::int64_t landscape, const PDFWriteOptions* options,
                                          const TextAttributes* attributes, bool rich, double width,
                                          double height, double left, double right, double top,
                                          double bottom) {
    orientation = landscape;
    writeOptions = options;
    textAttributes = attributes;
    richTextAttributes = rich;
    paperWidth = length(width);
    paperHeight = length(height);
    leftMargin = length(left);
    rightMargin = length(right);
    topMargin = length(top);
    bottomMargin = length(bottom);
    jobList.clear();
    outputURL.clear();
}

bool DocumentsToPDFJob::PrintDocumentToPDF(const std::filesystem::path& documentPath,
                                           const std::filesystem::path& destination,
                                           std::string& error) {
    const bool landscape = orientation == 1;
    const double pageW = landscape ? paperHeight : paperWidth;
    const double pageH = landscape ? paperWidth : paperHeight;
    const double frameW = pageW - (leftMargin + rightMargin);
    const double frameH = pageH - (topMargin + bottomMargin);
    if (frameW < 1 || frameH < 1) {
        error = "the margins leave no room for text on the paper";
        return false;
    }
    if (!ensureGuiApplication()) {
        error = "text cannot be laid out in a program without a GUI application";
        return false;
    }
    ConfinedTextDocument document;
    bool plain = false;
    if (!LoadDocumentText(documentPath, document, plain, error))
        return false;
    if (textAttributes && (plain || richTextAttributes))
        applyAttributes(document, *textAttributes);

    std::filesystem::path folder = destination.parent_path();
    RemoveOnExit print{TemporaryPathIn(folder)};
    // The print file is ours to open, so that its failed writes (a full disk) are seen: the PDF
    // writer itself does not report them.
    QFile printFile(QString::fromStdString(print.path.string()));
    if (!printFile.open(QIODevice::WriteOnly)) {
        error = "the print file cannot be written in " + folder.string() + ": " +
                printFile.errorString().toStdString();
        return false;
    }
    {
        QPdfWriter writer(&printFile);
        writer.setResolution(72);
        writer.setPageLayout(QPageLayout(
            QPageSize(QSizeF(paperWidth, paperHeight), QPageSize::Point, QString(),
                      QPageSize::ExactMatch),
            landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
            QMarginsF(leftMargin, topMargin, rightMargin, bottomMargin), QPageLayout::Point));
        writer.setCreator("Lumeno+");
        document.documentLayout()->setPaintDevice(&writer);
        document.setPageSize(QSizeF(frameW, frameH));
        QPainter painter;
        if (!painter.begin(&writer)) {
            error = "the print file cannot be written in " + folder.string();
            return false;
        }
        const int pages = std::max(1, document.pageCount());
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                writer.newPage();
            painter.save();
            painter.translate(0, -i * frameH);
            document.drawContents(&painter, QRectF(0, i * frameH, frameW, frameH));
            painter.restore();
        }
        painter.end();
    }
    if (!printFile.flush() || printFile.error() != QFileDevice::NoError) {
        error = "the print file cannot be written in " + folder.string() + ": " +
                printFile.errorString().toStdString();
        return false;
    }
    printFile.close();
    std::unique_ptr<QPDF> printed = OpenCopyablePDF(print.path, std::nullopt, error);
    if (!printed) {
        error = "the printed document cannot be read back: " + error;
        return false;
    }
    RestoreTypedCharacters(*printed, document.toPlainText().toStdU32String());
    std::vector<bool> blank;
    if (!insideMerge)
        blank = BlankPagesOf(print.path);
    // All pages blank: one stays, so the output is still a PDF with a page.
    const bool allBlank =
        !blank.empty() && std::all_of(blank.begin(), blank.end(), [](bool b) { return b; });
    MergedPDFDocument output;
    output.appendPagesFrom(
        std::move(printed),
        [&](int page) {
            if (std::size_t(page) >= blank.size())
                return true;
            return allBlank ? page == 0 : !blank[std::size_t(page)];
        },
        nullptr);
    return output.write(destination, insideMerge ? nullptr : writeOptions, error);
}

bool DocumentsToPDFJob::ConvertDocumentsSeparately() {
    insideMerge = false;
    bool result = true;
    std::error_code ec;
    if (!jobList.empty() && !std::filesystem::is_directory(outputURL, ec)) {
        std::fprintf(stderr, "documents-to-pdf: %s is no folder to write into\n",
                     outputURL.c_str());
        return false;
    }
    for (const std::filesystem::path& input : jobList) {
        ReportConversionProgress(target, selector, 3);
        const std::filesystem::path output = UniquePDFPathFor(outputURL, input);
        std::string error = "no name is free for its PDF";
        result = !output.empty() && PrintDocumentToPDF(input, output, error);
        if (!result)
            std::fprintf(stderr, "documents-to-pdf: %s: %s\n", input.c_str(), error.c_str());
        if (IsConversionCancelled(target))
            return false;
    }
    return result;
}

bool DocumentsToPDFJob::MergeDocumentsIntoPDF() {
    insideMerge = true;
    MergedPDFDocument merged;
    std::filesystem::path folder = outputURL.parent_path();
    if (folder.empty())
        folder = ".";
    for (const std::filesystem::path& input : jobList) {
        ReportConversionProgress(target, selector, 3);
        RemoveOnExit part{TemporaryPathIn(folder)};
        std::string error;
        std::unique_ptr<QPDF> pages;
        if (PrintDocumentToPDF(input, part.path, error))
            pages = OpenCopyablePDF(part.path, std::nullopt, error);
        if (pages)
            merged.appendPagesFrom(std::move(pages), {}, nullptr);
        else
            std::fprintf(stderr, "documents-to-pdf: %s: %s\n", input.c_str(), error.c_str());
        if (IsConversionCancelled(target))
            return false;
    }
    if (merged.pageCount() == 0)
        return false;
    ReportConversionProgress(target, selector, 6);
    std::string error;
    const bool written = merged.write(outputURL, writeOptions, error);
    if (!written)
        std::fprintf(stderr, "documents-to-pdf: %s: %s\n", outputURL.c_str(), error.c_str());
    ReportConversionProgress(target, selector, 7);
    return written;
}

} // namespace conversion
