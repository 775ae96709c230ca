// The layout itself: the one part of the conversion library that needs Qt's GUI module. It runs
// in the lumeno-text-layout helper (or a test), which makes the QGuiApplication it needs.
#include "DocumentLayout.h"

#include "ConversionLog.h"
#include "DocumentAnchors.h"
#include "DocumentResources.h"
#include "DocumentText.h"
#include "WideContentFit.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace conversion {

namespace {

// Names fontconfig resolves to a font of that kind, rather than fonts of their own.
bool isGenericFamily(const QString& family) {
    static const QStringList generic = {"sans-serif", "sans",    "serif",     "monospace", "mono",
                                        "cursive",    "fantasy", "system-ui", "emoji",     "math"};
    return generic.contains(family.trimmed(), Qt::CaseInsensitive);
}

// A family that is not installed is replaced by whatever the system finds closest; the user
// hears which.
void noteMissingFamily(const QString& family) {
    if (family.isEmpty() || isGenericFamily(family) || QFontDatabase::hasFamily(family))
        return;
    QFont font;
    font.setFamilies({family});
    const QString used = QFontInfo(font).family();
    ConversionLogf("the font \"%s\" is not installed; \"%s\" is used instead",
                   family.toUtf8().constData(), used.toUtf8().constData());
}

void applyAttributes(QTextDocument& document, const TextAttributes& a) {
    if (a.fontFamily)
        noteMissingFamily(QString::fromStdString(*a.fontFamily));
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

// A file written with every failure's cause kept. QFile forgets errno when a write is cut short
// (a disk that fills up in the middle of a buffer) and then says "Unknown error".
class CheckedFileDevice : public QIODevice {
public:
    ~CheckedFileDevice() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // Creates (or empties) the file; false with failure() set.
    bool create(const std::filesystem::path& path) {
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            m_failure = errno;
            return false;
        }
        return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    // Closes the file: 0 when every write and the close succeeded, else the first failure.
    int finish() {
        if (m_fd >= 0 && ::close(m_fd) != 0 && !m_failure)
            m_failure = errno;
        m_fd = -1;
        close();
        return m_failure;
    }
    int failure() const { return m_failure ? m_failure : EIO; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override {
        if (m_failure || m_fd < 0)
            return -1;
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::write(m_fd, data + done, std::size_t(length - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failure = n < 0 ? errno : EIO;
                return -1;
            }
            done += n;
        }
        return done;
    }

private:
    int m_fd = -1;
    int m_failure = 0;
};

// Where the document's anchors (<a name>, id) are on the pages: the top of the line each stands
// in, at the text's left edge, in the print's points.
std::vector<AnchorPlace> anchorPlacesOf(const QTextDocument& document,
                                        const DocumentLayoutRequest& r, double pageHeight,
                                        double scale) {
    const double paperHeight = r.landscape ? r.paperWidth : r.paperHeight;
    std::vector<AnchorPlace> places;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QRectF box = document.documentLayout()->blockBoundingRect(block);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QStringList names = fragment.charFormat().anchorNames();
            if (names.isEmpty())
                continue;
            const QTextLine line =
                block.layout()->lineForTextPosition(fragment.position() - block.position());
            const double y = box.top() + (line.isValid() ? line.y() : 0);
            const int page = std::max(0, int(std::floor(y / pageHeight)));
            for (const QString& name : names)
                places.push_back({page, r.leftMargin,
                                  paperHeight - r.topMargin - (y - page * pageHeight) * scale,
                                  name.toStdString()});
        }
    }
    return places;
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

    // The print file is written through a device that keeps each failure's cause (a full
    // disk): the PDF writer itself reports none.
    const std::string folder = r.print.parent_path().string();
    auto cannotWrite = [&](int cause) {
        error = "the print file cannot be written in " + folder + ": " + std::strerror(cause);
        return false;
    };
    CheckedFileDevice printFile;
    if (!printFile.create(r.print))
        return cannotWrite(printFile.failure());
    QPdfWriter writer(&printFile);
    writer.setResolution(72);
    writer.setPageLayout(QPageLayout(
        QPageSize(QSizeF(r.paperWidth, r.paperHeight), QPageSize::Point, QString(),
                  QPageSize::ExactMatch),
        r.landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
        QMarginsF(r.leftMargin, r.topMargin, r.rightMargin, r.bottomMargin), QPageLayout::Point));
    writer.setCreator("Lumeno+");
    document.documentLayout()->setPaintDevice(&writer);
    // Laid out on a page as much larger as it is painted smaller.
    const double scale = fitToTextWidth(document, QSizeF(frameW, frameH));
    const double pageWidth = frameW / scale, pageHeight = frameH / scale;
    QPainter painter;
    if (!painter.begin(&writer))
        return cannotWrite(printFile.failure() ? printFile.failure() : EIO);
    const int pages = std::max(1, document.pageCount());
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            writer.newPage();
        painter.save();
        painter.scale(scale, scale);
        painter.translate(0, -i * pageHeight);
        document.drawContents(&painter, QRectF(0, i * pageHeight, pageWidth, pageHeight));
        painter.restore();
    }
    painter.end();
    if (const int failure = printFile.finish())
        return cannotWrite(failure);
    // The PDF names each glyph after one of the characters the font draws with it; which ones
    // the document holds settles the rest (see restoreTypedCharacters). The anchors' places
    // make the document's links to them internal ones.
    const QByteArray text = document.toPlainText().toUtf8();
    const std::string anchors = formatAnchorPlaces(anchorPlacesOf(document, r, pageHeight, scale));
    CheckedFileDevice textFile, anchorsFile;
    if (!textFile.create(laidOutTextPath(r.print)) || textFile.write(text) != text.size())
        return cannotWrite(textFile.failure());
    if (const int failure = textFile.finish())
        return cannotWrite(failure);
    if (!anchorsFile.create(anchorPlacesPath(r.print)) ||
        anchorsFile.write(anchors.data(), qint64(anchors.size())) != qint64(anchors.size()))
        return cannotWrite(anchorsFile.failure());
    if (const int failure = anchorsFile.finish())
        return cannotWrite(failure);
    return true;
}

} // namespace conversion
