#include "TextDocumentEncoders.h"

#include <algorithm>

#include <QBuffer>
#include <QFont>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentWriter>

namespace conversion {

namespace {

QTextCharFormat charFormat(const TextStyle& style) {
    QTextCharFormat format;
    if (!style.fontFamily.empty()) {
        const QString family = QString::fromStdString(style.fontFamily);
        // The OpenDocument writer reads the single family, not the list.
        format.setProperty(QTextFormat::FontFamily, family);
        format.setFontFamilies({family});
    }
    if (style.fontSize > 0)
        format.setFontPointSize(std::clamp(style.fontSize, 1.0, 1600.0));
    format.setFontWeight(style.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(style.italic);
    return format;
}

} // namespace

bool encodeODT(const StyledText& text, std::string& bytes, std::string& error) {
    QTextDocument document;
    QTextCursor cursor(&document);
    for (const TextRun& run : text.runs()) {
        const QTextCharFormat format = charFormat(run.style);
        std::string_view rest = run.text;
        while (!rest.empty()) {
            const size_t stop = rest.find('\n');
            const std::string_view piece = rest.substr(0, stop);
            if (!piece.empty()) {
                cursor.insertText(QString::fromUtf8(piece.data(), qsizetype(piece.size())), format);
            }
            if (stop == std::string_view::npos)
                break;
            // Each line is a paragraph; the document starts with one already.
            cursor.insertBlock(QTextBlockFormat(), format);
            rest.remove_prefix(stop + 1);
        }
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QTextDocumentWriter writer(&buffer, "odf");
    if (!writer.write(&document)) {
        error = "the OpenDocument writer failed";
        return false;
    }
    bytes.assign(data.constData(), size_t(data.size()));
    return true;
}

} // namespace conversion
