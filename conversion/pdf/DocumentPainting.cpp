// The layout itself: the one part of the conversion library that needs Qt's GUI module. It runs
// in the lumeno-text-layout helper (or a test), which makes the QGuiApplication it needs.
#include "DocumentLayout.h"

#include "DocumentResources.h"
#include "DocumentText.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace conversion {

namespace {

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

// The deepest nesting of tables in the document (frames walked without recursion).
int tableNesting(const QTextDocument& document) {
    int deepest = 0;
    std::vector<std::pair<QTextFrame*, int>> pending = {{document.rootFrame(), 0}};
    while (!pending.empty()) {
        auto [frame, depth] = pending.back();
        pending.pop_back();
        if (qobject_cast<QTextTable*>(frame))
            deepest = std::max(deepest, ++depth);
        for (QTextFrame* child : frame->childFrames())
            pending.emplace_back(child, depth);
    }
    return deepest;
}

} // namespace

bool layOutDocument(const DocumentLayoutRequest& r, std::string& error) {
    const double pageW = r.landscape ? r.paperHeight : r.paperWidth;
    const double pageH = r.landscape ? r.paperWidth : r.paperHeight;
    const double frameW = pageW - (r.leftMargin + r.rightMargin);
    const double frameH = pageH - (r.topMargin + r.bottomMargin);
    if (frameW < 1 || frameH < 1) {
        error = "the margins leave no room for text on the paper";
        return false;
    }
    // Fonts and layout need the host's GUI application (the helper program makes one).
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        error = "text cannot be laid out in a program without a GUI application";
        return false;
    }
    ConfinedTextDocument document;
    bool plain = false;
    if (!loadDocumentText(r.document, document, plain, error))
        return false;
    if (const int nesting = tableNesting(document); nesting > kMaxTableNesting) {
        error = "the document nests tables " + std::to_string(nesting) + " deep; more than " +
                std::to_string(kMaxTableNesting) + " levels cannot be laid out in reasonable time";
        return false;
    }
    if (r.attributes && (plain || r.richTextAttributes))
        applyAttributes(document, *r.attributes);

    // The print file is opened here, so that its failed writes (a full disk) are seen: the PDF
    // writer itself does not report them.
    const std::string folder = r.print.parent_path().string();
    QFile printFile(QString::fromStdString(r.print.string()));
    if (!printFile.open(QIODevice::WriteOnly)) {
        error = "the print file cannot be written in " + folder + ": " +
                printFile.errorString().toStdString();
        return false;
    }
    QPdfWriter writer(&printFile);
    writer.setResolution(72);
    writer.setPageLayout(QPageLayout(
        QPageSize(QSizeF(r.paperWidth, r.paperHeight), QPageSize::Point, QString(),
                  QPageSize::ExactMatch),
        r.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
        QMarginsF(r.leftMargin, r.topMargin, r.rightMargin, r.bottomMargin), QPageLayout::Point));
    writer.setCreator("Lumeno+");
    document.documentLayout()->setPaintDevice(&writer);
    document.setPageSize(QSizeF(frameW, frameH));
    QPainter painter;
    if (!painter.begin(&writer)) {
        error = "the print file cannot be written in " + folder;
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
    if (!printFile.flush() || printFile.error() != QFileDevice::NoError) {
        error = "the print file cannot be written in " + folder + ": " +
                printFile.errorString().toStdString();
        return false;
    }
    printFile.close();
    // The PDF names each glyph after one of the characters the font draws with it; which ones
    // the document holds settles the rest (see restoreTypedCharacters).
    QFile textFile(QString::fromStdString(laidOutTextPath(r.print).string()));
    const QByteArray text = document.toPlainText().toUtf8();
    if (!textFile.open(QIODevice::WriteOnly) || textFile.write(text) != text.size() ||
        !textFile.flush()) {
        error = "the print file cannot be written in " + folder + ": " +
                textFile.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace conversion
