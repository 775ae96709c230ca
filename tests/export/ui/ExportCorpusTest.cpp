// Whole exports of real-world books on the real web engine (headless), read back with qpdf and
// Poppler: where links and outline entries lead.
#include "ExportCHMFileToPDF.h"
#include "ExportTestData.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <map>

using namespace exporttest;

namespace {

QString exportCorpusBook(const QString& fileName) {
    CHMToPDFConversionOptions options;
    options.inputURL = testsupport::corpusPath(fileName);
    options.outputFolderURL = freshFolder(QFileInfo(fileName).completeBaseName());
    QString output, error;
    EXPECT_TRUE(ExportCHMFileToPDF(&options, &output, &error)) << error.toStdString();
    return output;
}

QString withoutCallParentheses(QString name) {
    while (name.endsWith(QLatin1Char(')')) || name.endsWith(QLatin1Char('(')))
        name.chop(1);
    return name;
}

QString textInside(const std::vector<WordBox>& words, const Link& link) {
    QString text;
    for (const WordBox& w : words) {
        const double x = (w.left + w.right) / 2, y = (w.bottom + w.top) / 2;
        if (x >= link.left - 1 && x <= link.right + 1 && y >= link.bottom - 1 && y <= link.top + 1)
            text += w.text;
    }
    return text;
}

struct Heading {
    int page = -1;
    double top = 0;
};

void collectFilePages(const std::vector<OutlineEntry>& entries,
                      std::vector<const OutlineEntry*>* files) {
    for (const OutlineEntry& entry : entries) {
        if (entry.title.endsWith(QLatin1String(".h")))
            files->push_back(&entry);
        collectFilePages(entry.kids, files);
    }
}

} // namespace

// Doxygen boxes each member's "◆ Name" heading as a float, which the engine paints before the
// text around it, gives its prototypes a text shadow, and hides its navigation when printing.
TEST(ExportCorpus, DoxygenMemberLinksLandOnTheirHeadingsAndFileEntriesOnTheirFirstLine) {
    const QString book = QStringLiteral("ja-sjis-doxygen-api.chm");
    REQUIRE_CORPUS(book);
    const QString pdf = exportCorpusBook(book);
    const std::vector<std::vector<WordBox>> words = pageWords(pdf);
    ASSERT_FALSE(words.empty());

    std::map<QString, std::vector<Heading>> headings;
    for (int page = 0; page < static_cast<int>(words.size()); ++page) {
        const std::vector<WordBox>& on = words[static_cast<std::size_t>(page)];
        for (std::size_t i = 0; i + 1 < on.size(); ++i) {
            if (on[i].text == QStringLiteral("◆"))
                headings[withoutCallParentheses(on[i + 1].text)].push_back({page, on[i + 1].top});
        }
    }
    int checked = 0;
    for (const Link& link : links(pdf)) {
        if (link.targetPage < 0)
            continue;
        const QString name =
            withoutCallParentheses(textInside(words[static_cast<std::size_t>(link.page)], link));
        const auto heading = headings.find(name);
        if (heading == headings.end() || heading->second.size() != 1)
            continue;
        ++checked;
        SCOPED_TRACE(name.toStdString() + " linked from page " + std::to_string(link.page + 1));
        EXPECT_EQ(link.targetPage, heading->second.front().page);
        EXPECT_NEAR(link.targetY, heading->second.front().top, 12.0);
    }
    EXPECT_GE(checked, 98); // every link that names a member with one heading

    const std::vector<OutlineEntry> entries = outline(pdf);
    std::vector<const OutlineEntry*> files;
    collectFilePages(entries, &files);
    EXPECT_GE(files.size(), 11u);
    for (const OutlineEntry* file : files) {
        SCOPED_TRACE(file->title.toStdString());
        ASSERT_GE(file->targetPage, 0);
        double highest = 0;
        for (const WordBox& w : words[static_cast<std::size_t>(file->targetPage)])
            highest = std::max(highest, w.top);
        // At its first line (a title, 16 points high), not further down.
        EXPECT_GE(file->targetY, highest - 24.0);
    }
}
