// The assembly on the web engine's own prints of the "links" book: outline, links and pages of
// the written PDF, read back with qpdf and Poppler.
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportTestData.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace exporttest;

namespace {

struct Export {
    std::unique_ptr<CHMDocument> document;
    std::unique_ptr<CHMExporter> exporter;
    QString output;
};

Export exportLinksBook(const CHMToPDFConversionOptions* options, const QString& name) {
    Export result;
    result.document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    EXPECT_TRUE(result.document);
    if (!result.document)
        return result;
    // A folder of its own, so that what a write leaves behind can be counted.
    const QString folder = QDir(testsupport::scratchDir()).filePath(name + QStringLiteral(".d"));
    QDir().mkpath(folder);
    result.output = QDir(folder).filePath(name);
    result.exporter = std::make_unique<CHMExporter>(
        *result.document, result.output, result.document->tocSource()->pageList(), options);
    replay(*result.exporter, storedPrints());
    return result;
}

Export writtenLinksBook(const CHMToPDFConversionOptions* options, const QString& name) {
    Export result = exportLinksBook(options, name);
    if (!result.exporter)
        return result;
    result.exporter->GenerateTableOfContents(result.document->tocSource()->rootItems());
    QString error;
    EXPECT_TRUE(result.exporter->WritePDFData(&error)) << error.toStdString();
    return result;
}

// The page of the PDF that shows the text, or -1.
int pageShowing(const QStringList& texts, const QString& text) {
    for (int i = 0; i < texts.size(); ++i) {
        if (texts[i].contains(text))
            return i;
    }
    return -1;
}

} // namespace

TEST(ExportAssembly, OutlineMirrorsTheContentsAndLeadsToWhereEachTargetIsPrinted) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("outline.pdf"));
    const QStringList texts = pageTexts(e.output);
    const std::vector<OutlineEntry> entries = outline(e.output);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].title, QStringLiteral("Guide"));
    EXPECT_EQ(entries[1].title, QStringLiteral("Languages"));
    EXPECT_EQ(entries[2].title, QStringLiteral("Empty"));
    ASSERT_EQ(entries[0].kids.size(), 2u);
    const OutlineEntry& chapter = entries[0].kids[0];
    EXPECT_EQ(chapter.title, QStringLiteral("Chapter"));
    ASSERT_EQ(chapter.kids.size(), 2u);
    EXPECT_EQ(chapter.kids[0].title, QStringLiteral("Section two"));
    EXPECT_EQ(chapter.kids[1].title, QStringLiteral("Tail"));
    EXPECT_EQ(entries[0].kids[1].title, QStringLiteral("Bottom"));
    ASSERT_EQ(entries[1].kids.size(), 2u);
    EXPECT_EQ(entries[1].kids[0].title, QString::fromUtf8("Russian Конец"));

    EXPECT_EQ(entries[0].targetPage, 0);
    EXPECT_EQ(chapter.targetPage, pageShowing(texts, QStringLiteral("Section one")));
    // Anchors lead to the page that prints them, at the height of their first word.
    const int sectionTwo = pageShowing(texts, QStringLiteral("Section two"));
    ASSERT_GE(sectionTwo, 0);
    EXPECT_EQ(chapter.kids[0].targetPage, sectionTwo);
    EXPECT_NEAR(chapter.kids[0].targetY, wordTop(e.output, sectionTwo, QStringLiteral("Section")),
                6.0);
    EXPECT_EQ(chapter.kids[1].targetPage, pageShowing(texts, QStringLiteral("Tail anchor")));
    const int bottom = pageShowing(texts, QStringLiteral("Bottom marker"));
    EXPECT_EQ(entries[0].kids[1].targetPage, bottom);
    EXPECT_NEAR(entries[0].kids[1].targetY, wordTop(e.output, bottom, QStringLiteral("Bottom")),
                6.0);
    // Offsets in UTF-8 bytes on both sides: the anchor at the end of a long Cyrillic page.
    const int konec = pageShowing(texts, QString::fromUtf8("Конец страницы"));
    EXPECT_EQ(entries[1].kids[0].targetPage, konec);
    EXPECT_NEAR(entries[1].kids[0].targetY, wordTop(e.output, konec, QString::fromUtf8("Конец")),
                6.0);
    // A heading without a page, and a page that printed nothing, have no destination (and never
    // lead to page 1).
    EXPECT_EQ(entries[1].targetPage, -1);
    EXPECT_EQ(entries[2].targetPage, -1);
}

TEST(ExportAssembly, LinksLeadToTheirTargetsAndLinksToPagesNotExportedAreRemoved) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("links.pdf"));
    const QStringList texts = pageTexts(e.output);
    const std::vector<Link> all = links(e.output);
    int web = 0;
    for (const Link& link : all) {
        EXPECT_FALSE(link.hasNamedDest)
            << "a link on page " << link.page << " still names a destination";
        EXPECT_FALSE(link.uri.startsWith(QLatin1String("itss:"))) << link.uri.toStdString();
        if (link.uri.startsWith(QLatin1String("https:"))) {
            ++web;
            continue;
        }
        EXPECT_GE(link.targetPage, 0);
    }
    EXPECT_EQ(web, 1); // links to the web stay as they were

    // The home page's first line: section two (another page's anchor), the chapter, its own
    // #bottom (a named destination of the print), the hidden page (reached only by links); the
    // missing page and the picture file are gone.
    std::vector<Link> first;
    for (const Link& link : all) {
        if (link.page == 0 && link.targetPage >= 0)
            first.push_back(link);
    }
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[0].targetPage, pageShowing(texts, QStringLiteral("Section two")));
    EXPECT_EQ(first[1].targetPage, pageShowing(texts, QStringLiteral("Section one")));
    const int bottom = pageShowing(texts, QStringLiteral("Bottom marker"));
    EXPECT_EQ(first[2].targetPage, bottom);
    EXPECT_NEAR(first[2].targetY, wordTop(e.output, bottom, QStringLiteral("Bottom")), 6.0);
    EXPECT_EQ(first[3].targetPage, pageShowing(texts, QStringLiteral("Hidden page")));
    // The Japanese page's link to the end of the Russian page.
    const int japaneseEnd = pageShowing(texts, QString::fromUtf8("終わりの節"));
    bool sawRussianLink = false;
    for (const Link& link : all) {
        if (link.page == japaneseEnd && link.targetPage >= 0) {
            sawRussianLink = true;
            EXPECT_EQ(link.targetPage, pageShowing(texts, QString::fromUtf8("Конец страницы")));
        }
    }
    EXPECT_TRUE(sawRussianLink);
}

TEST(ExportAssembly, BlankPrintsAreDroppedAndEveryOtherPageIsKeptInOrder) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("pages.pdf"));
    const QStringList texts = pageTexts(e.output);
    // 4 + 4 + 3 + 3 printed pages of text, one blank page (left out), "Hello", the hidden page
    // and the picture.
    EXPECT_EQ(texts.size(), 17);
    EXPECT_EQ(e.exporter->outputPageCount(), 17);
    EXPECT_LT(pageShowing(texts, QStringLiteral("Harbour Guide")),
              pageShowing(texts, QStringLiteral("Section one")));
    EXPECT_EQ(pageShowing(texts, QStringLiteral("Hello")), 14);
    EXPECT_EQ(pageShowing(texts, QStringLiteral("Hidden page")), 15);
}

TEST(ExportAssembly, WithoutLinksOrOutlineTheBookLinksOnlyToTheWebAndHasNoOutline) {
    CHMToPDFConversionOptions options;
    options.exportHyperlinks = false;
    options.exportTOC = false;
    const Export e = writtenLinksBook(&options, QStringLiteral("plain.pdf"));
    const std::vector<Link> all = links(e.output);
    ASSERT_FALSE(all.empty());
    for (const Link& link : all)
        EXPECT_TRUE(link.uri.startsWith(QLatin1String("https:"))) << link.uri.toStdString();
    EXPECT_TRUE(outline(e.output).empty());
}

TEST(ExportAssembly, WriteThatRunsOutOfSpaceLeavesTheOldFileAndSaysSo) {
    Export e = exportLinksBook(nullptr, QStringLiteral("kept.pdf"));
    ASSERT_TRUE(e.exporter);
    QFile old(e.output);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous export");
    old.close();
    // Files may grow to 16 KB only, as on a disk that is nearly full (root included).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = e.exporter->WritePDFData(&error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(testsupport::readWholeFile(e.output), QByteArray("the previous export"));
    EXPECT_EQ(QDir(QFileInfo(e.output).absolutePath()).entryList(QDir::Files),
              QStringList{QStringLiteral("kept.pdf")});
}

TEST(ExportAssembly, WriteOverADirectoryFailsAndLeavesNoTemporaryFile) {
    Export e = exportLinksBook(nullptr, QStringLiteral("taken"));
    ASSERT_TRUE(e.exporter);
    ASSERT_TRUE(QDir().mkpath(e.output + QStringLiteral("/inside")));
    QString error;
    EXPECT_FALSE(e.exporter->WritePDFData(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(e.output + QStringLiteral("/inside")).isDir());
    EXPECT_TRUE(QDir(QFileInfo(e.output).absolutePath()).entryList(QDir::Files).isEmpty());
}
