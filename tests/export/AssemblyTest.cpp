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
    result.output = QDir(freshFolder(name + QStringLiteral(".d"))).filePath(name);
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

// The titles, indented two spaces a level.
QStringList titles(const std::vector<OutlineEntry>& entries, const QString& indent = {}) {
    QStringList lines;
    for (const OutlineEntry& entry : entries)
        lines << indent + entry.title << titles(entry.kids, indent + QStringLiteral("  "));
    return lines;
}

// Where a destination should lead: the page, and the word at whose height it should be.
struct Target {
    QString what;
    int page = -1;
    double y = 0;
    int expectedPage = -1;
    const char* word = nullptr;
};

void expectTargets(const QString& pdf, const std::vector<Target>& targets) {
    for (const Target& t : targets) {
        SCOPED_TRACE(t.what.toStdString());
        EXPECT_EQ(t.page, t.expectedPage);
        if (t.word) {
            ASSERT_GE(t.expectedPage, 0);
            EXPECT_NEAR(t.y, wordTop(pdf, t.expectedPage, QString::fromUtf8(t.word)), 6.0);
        }
    }
}

Target targetOf(const OutlineEntry& entry, int expectedPage, const char* word = nullptr) {
    return {entry.title, entry.targetPage, entry.targetY, expectedPage, word};
}

} // namespace

TEST(ExportAssembly, OutlineMirrorsTheContentsAndLeadsToWhereEachTargetIsPrinted) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("outline.pdf"));
    const QStringList texts = pageTexts(e.output);
    const auto at = [&](const char* text) { return pageShowing(texts, text); };
    const std::vector<OutlineEntry> entries = outline(e.output);
    ASSERT_EQ(
        titles(entries),
        (QStringList{"Guide", "  Chapter", "    Section two", "    Tail", "  Bottom", "Languages",
                     QString::fromUtf8("  Russian Конец"), "  Japanese", "Empty"}));
    const OutlineEntry& chapter = entries[0].kids[0];
    // Anchors lead to the page that prints them, at the height of their first word; offsets
    // count UTF-8 bytes on both sides (the anchor at the end of a long Cyrillic page). A heading
    // without a page, and a page that printed nothing, lead nowhere (and never to page 1).
    expectTargets(e.output, {targetOf(entries[0], 0), targetOf(chapter, at("Section one")),
                             targetOf(chapter.kids[0], at("Section two"), "Section"),
                             targetOf(chapter.kids[1], at("Tail anchor")),
                             targetOf(entries[0].kids[1], at("Bottom marker"), "Bottom"),
                             targetOf(entries[1].kids[0], at("Конец страницы"), "Конец"),
                             targetOf(entries[1], -1), targetOf(entries[2], -1)});
}

TEST(ExportAssembly, LinksLeadToTheirTargetsAndLinksToPagesNotExportedAreRemoved) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("links.pdf"));
    const QStringList texts = pageTexts(e.output);
    const auto at = [&](const char* text) { return pageShowing(texts, text); };
    int web = 0;
    std::vector<Target> targets;
    for (const Link& link : links(e.output)) {
        EXPECT_FALSE(link.hasNamedDest) << "a link on page " << link.page << " names a destination";
        EXPECT_FALSE(link.uri.startsWith(QLatin1String("itss:"))) << link.uri.toStdString();
        if (link.uri.startsWith(QLatin1String("https:"))) {
            ++web; // links to the web stay as they were
            continue;
        }
        EXPECT_GE(link.targetPage, 0);
        if (link.page == 0 || link.page == at("終わりの節"))
            targets.push_back(
                {QStringLiteral("link on page %1").arg(link.page), link.targetPage, link.targetY});
    }
    EXPECT_EQ(web, 1);
    // The home page's first line: section two (another page's anchor), the chapter, its own
    // #bottom (a named destination of the print), the hidden page (reached only by links); the
    // missing page and the picture file are gone. Then the Japanese page's link to the end of
    // the Russian page.
    const std::vector<std::pair<int, const char*>> expected = {{at("Section two"), nullptr},
                                                               {at("Section one"), nullptr},
                                                               {at("Bottom marker"), "Bottom"},
                                                               {at("Hidden page"), nullptr},
                                                               {at("Конец страницы"), nullptr}};
    ASSERT_EQ(targets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        targets[i].expectedPage = expected[i].first;
        targets[i].word = expected[i].second;
    }
    expectTargets(e.output, targets);
}

TEST(ExportAssembly, BlankPrintsAreDroppedAndEveryOtherPageIsKeptInOrder) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("pages.pdf"));
    const QStringList texts = pageTexts(e.output);
    // 4 + 4 + 3 + 3 printed pages of text, one blank page (left out), "Hello", the hidden page
    // and the picture.
    EXPECT_EQ(texts.size(), 17);
    EXPECT_EQ(e.exporter->outputPageCount(), 17);
    EXPECT_LT(pageShowing(texts, "Harbour Guide"), pageShowing(texts, "Section one"));
    EXPECT_EQ(pageShowing(texts, "Hello"), 14);
    EXPECT_EQ(pageShowing(texts, "Hidden page"), 15);
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
