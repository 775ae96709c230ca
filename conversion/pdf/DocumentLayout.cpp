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

#include <cmath>
#include <cstdlib>
#include <utility>

namespace conversion {

namespace {

// Fonts and text layout need a GUI application; a program without one gets one on the
// offscreen platform, made once and kept for the process.
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

bool parseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end && *end == '\0' && !text.empty();
}

} // namespace

bool LayOutDocument(const DocumentLayoutRequest& r, std::string& error) {
    const double pageW = r.landscape ? r.paperHeight : r.paperWidth;
    const double pageH = r.landscape ? r.paperWidth : r.paperHeight;
    const double frameW = pageW - (r.leftMargin + r.rightMargin);
    const double frameH = pageH - (r.topMargin + r.bottomMargin);
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
    if (!LoadDocumentText(r.document, document, plain, error))
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
    // the document holds settles the rest (see RestoreTypedCharacters).
    QFile textFile(QString::fromStdString(LaidOutTextPath(r.print).string()));
    const QByteArray text = document.toPlainText().toUtf8();
    if (!textFile.open(QIODevice::WriteOnly) || textFile.write(text) != text.size() ||
        !textFile.flush()) {
        error = "the print file cannot be written in " + folder + ": " +
                textFile.errorString().toStdString();
        return false;
    }
    return true;
}

std::filesystem::path LaidOutTextPath(const std::filesystem::path& print) {
    return print.string() + ".text";
}

std::string ReadLaidOutText(const std::filesystem::path& path) {
    // Far more than any document the layout takes in memory.
    constexpr qint64 kMaxText = qint64(1) << 30;
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxText)
        return {};
    const QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

std::vector<std::string> LayoutArguments(const DocumentLayoutRequest& r) {
    auto number = [](double v) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return std::string(buffer);
    };
    std::vector<std::string> a = {"--paper",           number(r.paperWidth),  number(r.paperHeight),
                                  "--margins",         number(r.leftMargin),  number(r.rightMargin),
                                  number(r.topMargin), number(r.bottomMargin)};
    if (r.landscape)
        a.push_back("--landscape");
    if (r.richTextAttributes)
        a.push_back("--rich-attributes");
    if (r.attributes && r.attributes->fontFamily)
        a.insert(a.end(), {"--font", *r.attributes->fontFamily});
    if (r.attributes && r.attributes->fontSize)
        a.insert(a.end(), {"--font-size", number(*r.attributes->fontSize)});
    if (r.attributes && r.attributes->textColor)
        a.insert(a.end(), {"--color", std::to_string(*r.attributes->textColor)});
    a.insert(a.end(), {"--", r.document.string(), r.print.string()});
    return a;
}

bool ParseLayoutArguments(const std::vector<std::string>& a, DocumentLayoutRequest& r,
                          std::string& error) {
    std::size_t i = 0;
    auto take = [&](std::size_t count) { return i + count < a.size(); };
    auto attributes = [&]() -> TextAttributes& {
        if (!r.attributes)
            r.attributes.emplace();
        return *r.attributes;
    };
    for (; i < a.size(); ++i) {
        const std::string& option = a[i];
        double v = 0;
        if (option == "--") {
            ++i;
            break;
        }
        if (option == "--paper" && take(2) && parseNumber(a[i + 1], r.paperWidth) &&
            parseNumber(a[i + 2], r.paperHeight)) {
            i += 2;
        } else if (option == "--margins" && take(4) && parseNumber(a[i + 1], r.leftMargin) &&
                   parseNumber(a[i + 2], r.rightMargin) && parseNumber(a[i + 3], r.topMargin) &&
                   parseNumber(a[i + 4], r.bottomMargin)) {
            i += 4;
        } else if (option == "--landscape") {
            r.landscape = true;
        } else if (option == "--rich-attributes") {
            r.richTextAttributes = true;
        } else if (option == "--font" && take(1)) {
            attributes().fontFamily = a[++i];
        } else if (option == "--font-size" && take(1) && parseNumber(a[i + 1], v)) {
            attributes().fontSize = v;
            ++i;
        } else if (option == "--color" && take(1) && parseNumber(a[i + 1], v) && v >= 0 &&
                   v <= 0xFFFFFF) {
            attributes().textColor = std::uint32_t(v);
            ++i;
        } else {
            error = "unknown or incomplete option " + option;
            return false;
        }
    }
    if (i + 2 != a.size()) {
        error = "expected the document and the print file after the options";
        return false;
    }
    r.document = a[i];
    r.print = a[i + 1];
    return true;
}

} // namespace conversion
