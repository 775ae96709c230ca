#include "WideContentFit.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <vector>

namespace conversion {

namespace {

// Layouts never come out exactly at the width asked for: what exceeds it by less is taken as
// fitting.
constexpr double kTolerance = 0.5;

double widestLine(const QTextBlock& block) {
    double widest = 0;
    const QTextLayout* layout = block.layout();
    for (int i = 0; layout && i < layout->lineCount(); ++i)
        widest = std::max(widest, layout->lineAt(i).naturalTextWidth());
    return widest;
}

// Sets the characters of the block `factor` times their size.
void shrinkBlock(QTextDocument& document, const QTextBlock& block, double factor) {
    struct Run {
        int start, length;
        QTextCharFormat format;
    };
    std::vector<Run> runs;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QTextCharFormat now = fragment.charFormat();
        QTextCharFormat smaller;
        if (now.hasProperty(QTextFormat::FontPixelSize)) {
            smaller.setProperty(
                QTextFormat::FontPixelSize,
                std::max(1, int(now.intProperty(QTextFormat::FontPixelSize) * factor)));
        } else {
            const QFont font = now.font().resolve(document.defaultFont());
            const double size = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize();
            smaller.setFontPointSize(std::max(0.1, size * factor));
        }
        runs.push_back({fragment.position(), fragment.length(), smaller});
    }
    QTextCursor cursor(&document);
    for (const Run& run : runs) {
        cursor.setPosition(run.start);
        cursor.setPosition(run.start + run.length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(run.format);
    }
}

// Sets each preformatted block that is wider than the text smaller; true when one was.
bool shrinkWidePreformattedBlocks(QTextDocument& document, double width) {
    const double margin = document.documentMargin();
    const double textWidth = width - 2 * margin;
    std::vector<std::pair<QTextBlock, double>> wide;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!block.blockFormat().nonBreakableLines())
            continue;
        const double needed = widestLine(block);
        const QRectF place = document.documentLayout()->blockBoundingRect(block);
        // What the block's indentation and its frame's leave of the text width.
        const double room = textWidth - std::max(0.0, place.left() - margin);
        if (needed > room + kTolerance && room > 0)
            wide.emplace_back(block, room / needed);
    }
    for (const auto& [block, factor] : wide)
        shrinkBlock(document, block, factor);
    return !wide.empty();
}

} // namespace

double fitToTextWidth(QTextDocument& document, QSizeF area) {
    document.setPageSize(area);
    // A smaller size changes the layout around the block (a table cell narrows): a few rounds.
    for (int round = 0; round < 3 && shrinkWidePreformattedBlocks(document, area.width());
         ++round) {
    }
    double scale = 1;
    for (int round = 0; round < 4; ++round) {
        const double width = document.size().width();
        if (width <= area.width() / scale + kTolerance)
            break;
        scale = area.width() / width;
        document.setPageSize(QSizeF(area.width() / scale, area.height() / scale));
    }
    return scale;
}

} // namespace conversion
