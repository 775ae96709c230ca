// The full-text search over a document's index and the keyword-index search: what is found,
// under which entry, in which order; what is never found (markup, orphans, non-text objects);
// text in other languages and encodings; and the index thread's life with its document.
#include "CHMDocument.h"
#include "CHMSearchIndex.h"
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "ScoredLinkItem.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;

namespace {

struct Hit {
    QString name;
    QString path;
    float score;
};

std::unique_ptr<CHMDocument> openFile(const QString& path) {
    auto doc = std::make_unique<CHMDocument>();
    QString error;
    if (!doc->readFromURL(QUrl::fromLocalFile(path), "chm", &error)) {
        ADD_FAILURE() << "cannot open " << path.toStdString() << ": " << error.toStdString();
        return nullptr;
    }
    return doc;
}

// A document with its index, destroyed in the order the document's owner destroys them.
struct IndexedBook {
    std::unique_ptr<CHMDocument> doc;
    std::unique_ptr<CHMSearchIndex> index;

    explicit IndexedBook(const QString& path) : doc(openFile(path)) {
        if (doc) {
            index = std::make_unique<CHMSearchIndex>(*doc);
            index->prepareSearchIndex();
        }
    }
    ~IndexedBook() {
        index.reset();
        doc.reset();
    }

    std::vector<Hit> search(const QString& text) {
        std::vector<Hit> hits;
        const auto result = index->searchInFile(text);
        if (!result)
            return hits;
        for (const LinkItemPtr& item : result->rootItems()->children()) {
            const auto* scored = dynamic_cast<const ScoredLinkItem*>(item.get());
            hits.push_back({item->name(), item->path(), scored ? scored->relScore() : -1.0f});
        }
        return hits;
    }
};

QStringList namesOf(const std::vector<Hit>& hits) {
    QStringList names;
    for (const Hit& hit : hits)
        names << hit.name;
    return names;
}

QByteArray cstr(const char* s) {
    return QByteArray(s, static_cast<qsizetype>(strlen(s)) + 1);
}

QByteArray lcid(quint32 id) {
    QByteArray b(8, '\0');
    putU32(b, 0, id);
    return b;
}

// A contents file with one top-level entry per (name, page).
QByteArray contents(const std::vector<std::pair<QByteArray, QByteArray>>& entries) {
    QByteArray hhc = "<html><body><ul>\n";
    for (const auto& [name, local] : entries) {
        hhc += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" + name +
               "\"><param name=\"Local\" value=\"" + local + "\"></object>\n";
    }
    return hhc + "</ul></body></html>\n";
}

QString corpusBook(const char* name) {
    const QString path = corpusPath(QString::fromLatin1(name));
    return QFile::exists(path) ? path : QString();
}

// Pages of every kind, each named by the contents, so that whatever is indexed could be listed.
QString craftedBook() {
    const QByteArray page =
        "<!DOCTYPE html><html><head><title>Shown</title>"
        "<style>p { font-weight: bold } .tableau { color: red }</style>"
        "<script type=\"text/javascript\">var hiddenvariable = \"<p>scripted</p>\";</script>"
        "</head><body><!-- commentword <p>commented</p> -->"
        "<div class=\"table\"><table border=\"1\"><tr><td>visible &amp; word caf&eacute; "
        "&#x4E2D;&#25991; na&iuml;ve</td></tr></table>"
        "<font face=\"Arial\">fonted</font></div>"
        "<p title=\"attributeword\">lan<b>tern</b></p><p>first<br>second</p></body></html>";
    QByteArray utf16("\xFF\xFE", 2);
    for (const char c : QByteArray("<p>utf16word</p>"))
        utf16 += QByteArray(1, c) + QByteArray(1, '\0');
    const QByteArray russian = "\xCF\xF0\xE8\xE2\xE5\xF2"; // "Привет" in windows-1251
    const std::vector<std::pair<QByteArray, QByteArray>> entries{
        {"Page", "page.htm"},     {"Style", "style.css"},   {"Script", "script.js"},
        {"Notes", "notes.txt"},   {"Data", "data.bin"},     {"Wide", "utf16.htm"},
        {"Declared", "meta.htm"}, {"Picture", "image.png"}, {"Readme", "README"},
        {"Internal", "#STRINGS"},
    };
    return writeScratchFile(
        "crafted.chm",
        writeChm({{"/#SYSTEM", systemFile({{0, cstr("toc.hhc")}})},
                  {"/#STRINGS", "internalword"},
                  {"/toc.hhc", contents(entries)},
                  {"/page.htm", page},
                  {"/style.css", "p.cssword { color: red }"},
                  {"/script.js", "var jsword = 1;"},
                  {"/notes.txt", "plain <b>textword</b>"},
                  {"/data.bin", QByteArray("binaryword\0\0\0", 13)},
                  {"/utf16.htm", utf16},
                  {"/meta.htm", "<html><head><meta http-equiv=\"Content-Type\" "
                                "content=\"text/html; charset=windows-1251\"></head><body>" +
                                    russian + "</body></html>"},
                  {"/image.png", "pngword"},
                  {"/README", "<html><body>sniffedword</body></html>"}}));
}

QString runChmTool(const QStringList& args) {
    QProcess tool;
    tool.start(chmtoolPath(), args);
    if (!tool.waitForFinished(120000) || tool.exitCode() != 0) {
        ADD_FAILURE() << "chmtool " << args.join(' ').toStdString() << " failed";
        return {};
    }
    return QString::fromUtf8(tool.readAllStandardOutput());
}

} // namespace

// --- What is found, and under which entry ---------------------------------------------------

TEST(FullTextSearch, FindsAWordUnderTheContentsEntryOfItsPage) {
    IndexedBook book(fixturePath("nested"));
    const auto hits = book.search("lighthouse");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].name, "Welcome");
    EXPECT_EQ(hits[0].path, "index.htm");
    EXPECT_GT(hits[0].score, 0.0f);
}

TEST(FullTextSearch, AWordOnlyInAPageNoEntryNamesGivesNoResult) {
    IndexedBook book(fixturePath("nested"));
    const auto result = book.index->searchInFile("xylophone");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->rootChildrenCount(), 0u);
}

TEST(FullTextSearch, APageReachedFromTwoEntriesIsListedUnderTheFirst) {
    IndexedBook book(fixturePath("nested"));
    // intro.htm is "Introduction" and, later, "Back to the introduction".
    const auto hits = book.search("zanzibar");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].name, "Introduction");
    EXPECT_EQ(hits[0].path, "intro.htm");
}

TEST(FullTextSearch, HitsComeBestScoreFirst) {
    IndexedBook book(fixturePath("nested"));
    const auto hits = book.search("quokka");
    ASSERT_EQ(namesOf(hits), QStringList({"Details", "Leaf"}));
    EXPECT_GT(hits[0].score, hits[1].score);
}

TEST(FullTextSearch, EveryWordOfTheQueryMustOccur) {
    IndexedBook book(fixturePath("nested"));
    EXPECT_EQ(namesOf(book.search("narwhal quokka")), QStringList({"Leaf"}));
}

TEST(FullTextSearch, AQuotedPhraseFindsThePagesHoldingItsWords) {
    IndexedBook book(fixturePath("nested"));
    EXPECT_EQ(namesOf(book.search("\"narwhal quokka\"")), QStringList({"Leaf"}));
}

TEST(FullTextSearch, ObjectsBehindTheWrongFirstListingChunkAreSearched) {
    IndexedBook book(fixturePath("chunks"));
    EXPECT_EQ(namesOf(book.search("unique07")), QStringList({"Page 07"}));
    // Every page, the start page aside, holds "lantern".
    EXPECT_EQ(book.search("lantern").size(), 64u);
}

TEST(FullTextSearch, EmptyTextGivesNoResultList) {
    IndexedBook book(fixturePath("nested"));
    EXPECT_FALSE(book.index->searchInFile(QString()));
    EXPECT_FALSE(book.index->searchInFile("  \t"));
}

TEST(FullTextSearch, ABookWithoutContentsListsHitsUnderTheirPageTitles) {
    IndexedBook bare(fixturePath("bare"));
    const std::vector<Hit> hits = bare.search("gondola");
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].path, "default.htm");
    EXPECT_FALSE(hits[0].name.isEmpty());
    IndexedBook fpdoc(corpusPath("en-fpc-fpdoc-chmcmd-notoc.chm"));
    const std::vector<Hit> fpdocHits = fpdoc.search("documentation");
    ASSERT_FALSE(fpdocHits.empty());
    EXPECT_EQ(fpdocHits[0].name, "About FPDoc");
    EXPECT_EQ(fpdocHits[0].path, "fpdoc/fpdocse2.html");
}

TEST(FullTextSearch, MalformedQueriesAreSearchedAsWordsWithoutFailing) {
    IndexedBook book(fixturePath("nested"));
    for (const char* query :
         {"AND OR (", "\"unterminated", "*", "NOT", "(", ")", "\"", "-", "+", "lighthouse OR",
          "a AND", "lighthouse NEAR", "ADJ/3", "title:", "\xe6\x90\x9c AND (", "\x01\x02"}) {
        std::shared_ptr<CHMSearchResult> result;
        EXPECT_NO_THROW(result = book.index->searchInFile(QString::fromUtf8(query))) << query;
        EXPECT_TRUE(result) << query;
    }
}

TEST(FullTextSearch, OperatorsOfARejectedQueryAreTakenAsWords) {
    IndexedBook book(craftedBook());
    EXPECT_EQ(namesOf(book.search("fonted")), QStringList({"Page"}));
    // No page holds the word "and".
    EXPECT_TRUE(book.search("fonted AND").empty());
}

TEST(FullTextSearch, AWildcardFindsWordsByTheirStart) {
    IndexedBook book(fixturePath("nested"));
    EXPECT_EQ(namesOf(book.search("lighth*")), QStringList({"Welcome"}));
}

// --- What is not text a reader sees ---------------------------------------------------------

TEST(FullTextSearch, MarkupOfAFixtureIsNotIndexed) {
    IndexedBook book(fixturePath("nested"));
    for (const char* word : {"stylesheet", "href", "charset", "doctype", "javascript", "img"})
        EXPECT_TRUE(book.search(word).empty()) << word;
    // "script" is also visible text of the leaf page ("script did not run").
    EXPECT_TRUE(namesOf(book.search("script")).contains("Leaf"));
}

TEST(FullTextSearch, TagsScriptsStylesCommentsAndAttributesAreNotIndexed) {
    IndexedBook book(craftedBook());
    for (const char* word :
         {"table", "font", "div", "script", "style", "hiddenvariable", "scripted", "weight",
          "tableau", "commentword", "commented", "attributeword", "arial", "border", "amp"})
        EXPECT_TRUE(book.search(word).empty()) << word;
}

TEST(FullTextSearch, VisibleTextIsIndexedWithEntitiesDecoded) {
    IndexedBook book(craftedBook());
    for (const char* word : {"visible", "word", "café", "naïve", "中文", "fonted", "shown"})
        EXPECT_EQ(namesOf(book.search(QString::fromUtf8(word))), QStringList({"Page"})) << word;
}

TEST(FullTextSearch, InlineTagsDoNotSplitAWordButBlockTagsSeparateWords) {
    IndexedBook book(craftedBook());
    EXPECT_EQ(namesOf(book.search("lantern")), QStringList({"Page"}));
    EXPECT_EQ(namesOf(book.search("second")), QStringList({"Page"}));
    EXPECT_TRUE(book.search("firstsecond").empty());
}

TEST(FullTextSearch, StyleSheetsScriptsImagesBinariesAndInternalObjectsAreNotIndexed) {
    IndexedBook book(craftedBook());
    for (const char* word : {"cssword", "jsword", "binaryword", "pngword", "internalword"})
        EXPECT_TRUE(book.search(word).empty()) << word;
}

TEST(FullTextSearch, PlainTextIsIndexedAsItIsAndUntypedHtmlIsRecognised) {
    IndexedBook book(craftedBook());
    EXPECT_EQ(namesOf(book.search("textword")), QStringList({"Notes"}));
    EXPECT_EQ(namesOf(book.search("b")), QStringList({"Notes"}));
    EXPECT_EQ(namesOf(book.search("sniffedword")), QStringList({"Readme"}));
    EXPECT_TRUE(book.search("body").empty());
}

TEST(FullTextSearch, APageIsDecodedInTheCharsetItDeclares) {
    IndexedBook book(craftedBook());
    EXPECT_EQ(namesOf(book.search("utf16word")), QStringList({"Wide"}));
    EXPECT_EQ(namesOf(book.search(QString::fromUtf8("привет"))), QStringList({"Declared"}));
}

TEST(FullTextSearch, APageWithoutCharsetIsDecodedInTheBooksEncoding) {
    const QByteArray russian = "\xEF\xE0\xED\xE3\xEE\xEB\xE8\xED"; // "панголин", windows-1251
    IndexedBook book(writeScratchFile(
        "cp1251.chm", writeChm({{"/#SYSTEM", systemFile({{4, lcid(0x0419)}, {0, cstr("toc.hhc")}})},
                                {"/toc.hhc", contents({{"Page", "page.htm"}})},
                                {"/page.htm", "<p>" + russian + "</p>"}})));
    ASSERT_EQ(book.doc->encodingName(), "CP1251");
    EXPECT_EQ(namesOf(book.search(QString::fromUtf8("панголин"))), QStringList({"Page"}));
}

// --- Other languages ------------------------------------------------------------------------

TEST(FullTextSearchLanguages, ChineseWordsOfTheGbkFixtureAreFound) {
    IndexedBook book(fixturePath("gbk"));
    const auto hits = book.search(QString::fromUtf8("搜索"));
    ASSERT_EQ(namesOf(hits), QStringList({QString::fromUtf8("搜索"), QString::fromUtf8("首页")}));
    EXPECT_EQ(namesOf(book.search(QString::fromUtf8("长城"))),
              QStringList({QString::fromUtf8("搜索")}));
    // The page that declares no charset is read in the book's own encoding.
    EXPECT_EQ(namesOf(book.search(QString::fromUtf8("熊猫"))),
              QStringList({QString::fromUtf8("文字编码")}));
}

TEST(FullTextSearchLanguages, ChineseWordIsFoundInTheSevenZipHelp) {
    const QString path = corpusBook("zh-gbk-7zip-help.chm");
    if (path.isEmpty())
        GTEST_SKIP() << "corpus not present";
    IndexedBook book(path);
    const auto hits = book.search(QString::fromUtf8("性能"));
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(hits[0].name, QString::fromUtf8("性能对比"));
    EXPECT_EQ(hits[0].path, "general/performance.htm");
}

TEST(FullTextSearchLanguages, JapaneseWordIsFoundInTheWinRing0Manual) {
    const QString path = corpusBook("ja-sjis-winring0-manual.chm");
    if (path.isEmpty())
        GTEST_SKIP() << "corpus not present";
    IndexedBook book(path);
    const auto hits = book.search(QString::fromUtf8("免責事項"));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].name, QString::fromUtf8("ライセンス"));
    EXPECT_EQ(hits[0].path, "_RESOURCE/License.html");
}

TEST(FullTextSearchLanguages, RussianWordIsFoundInTheKordHelpWhateverItsCase) {
    const QString path = corpusBook("ru-cp1251-kord-help.chm");
    if (path.isEmpty())
        GTEST_SKIP() << "corpus not present";
    IndexedBook book(path);
    for (const char* word : {"консультация", "КОНСУЛЬТАЦИЯ"}) {
        const auto hits = book.search(QString::fromUtf8(word));
        ASSERT_EQ(hits.size(), 1u) << word;
        EXPECT_EQ(hits[0].name, QString::fromUtf8("Запись пациента"));
        EXPECT_EQ(hits[0].path, "help4.html");
    }
}

// --- The keyword-index search ---------------------------------------------------------------

TEST(IndexSearch, ListsTopLevelEntriesBeginningWithTheTextIgnoringCase) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    for (const char* text : {"ab", "AB"}) {
        const auto found = CHMSearchIndex::searchInIndex(doc->indexSource().get(), text);
        ASSERT_TRUE(found);
        QStringList names;
        for (const LinkItemPtr& item : found->rootItems()->children())
            names << item->name();
        // "abstract", a sub-entry of "Zeta", is not listed.
        EXPECT_EQ(names, QStringList({"Abacus", "ABC"})) << text;
    }
}

TEST(IndexSearch, NoIndexOrNoTextGivesNoList) {
    auto nested = openFile(fixturePath("nested"));
    auto bare = openFile(fixturePath("bare"));
    ASSERT_TRUE(nested && bare);
    EXPECT_FALSE(CHMSearchIndex::searchInIndex(nested->indexSource().get(), QString()));
    EXPECT_FALSE(CHMSearchIndex::searchInIndex(bare->indexSource().get(), "a"));
}

// --- The index thread -----------------------------------------------------------------------

TEST(SearchIndexThread, ASearchStartedWhileIndexingReturnsTheCompleteResult) {
    const QString path = corpusBook("en-fpc-fcl-chmcmd-large.chm");
    if (path.isEmpty())
        GTEST_SKIP() << "corpus not present";
    IndexedBook book(path);
    // tgzopenmode.html is among the last objects of the walk.
    const auto early = book.search("tgzopenmode");
    EXPECT_TRUE(book.index->isIndexDone());
    ASSERT_FALSE(early.empty());
    EXPECT_EQ(early[0].path.section(u'#', 0, 0), "zstream/tgzopenmode.html");
    EXPECT_EQ(book.search("tgzopenmode").size(), early.size());
}

TEST(SearchIndexThread, TheDoneCallbackRunsOnceOnTheIndexThread) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    std::atomic<int> calls{0};
    std::promise<std::thread::id> ranOn;
    CHMSearchIndex index(*doc);
    EXPECT_FALSE(index.isIndexDone());
    index.prepareSearchIndex([&] {
        if (calls++ == 0)
            ranOn.set_value(std::this_thread::get_id());
    });
    const std::thread::id callbackThread = ranOn.get_future().get();
    EXPECT_NE(callbackThread, std::this_thread::get_id());
    EXPECT_TRUE(index.waitUntilDone());
    EXPECT_TRUE(index.isIndexDone());
    index.prepareSearchIndex(); // a second start does nothing
    EXPECT_TRUE(index.waitUntilDone());
    EXPECT_EQ(calls.load(), 1);
}

TEST(SearchIndexThread, AnIndexNeverStartedAnswersWithoutWaiting) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    CHMSearchIndex index(*doc);
    EXPECT_FALSE(index.waitUntilDone());
    EXPECT_FALSE(index.searchInFile("lighthouse"));
}

TEST(SearchIndexThread, DestroyingTheDocumentWhileIndexingNeitherHangsNorCrashes) {
    const QString path = corpusBook("en-fpc-fcl-chmcmd-large.chm");
    if (path.isEmpty())
        GTEST_SKIP() << "corpus not present";
    for (int round = 0; round < 3; ++round) {
        for (const int delayMs : {0, 1, 10}) {
            auto doc = openFile(path);
            ASSERT_TRUE(doc);
            auto index = std::make_unique<CHMSearchIndex>(*doc);
            index->prepareSearchIndex([] {});
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            index.reset();
            doc.reset();
        }
    }
}

TEST(SearchIndexThread, ACancelledIndexWakesItsWaitersAndSearchesNothing) {
    const QString path = corpusBook("en-fpc-fcl-chmcmd-large.chm");
    if (path.isEmpty())
        GTEST_SKIP() << "corpus not present";
    auto doc = openFile(path);
    ASSERT_TRUE(doc);
    CHMSearchIndex index(*doc);
    bool called = false;
    index.prepareSearchIndex([&] { called = true; });
    auto waiter = std::async(std::launch::async, [&] { return index.waitUntilDone(); });
    index.cancel();
    const bool complete = waiter.get();
    EXPECT_EQ(complete, index.isIndexDone());
    EXPECT_TRUE(complete || !called);
    if (!complete) {
        EXPECT_FALSE(index.searchInFile("tgzopenmode"));
    }
}

// --- chmtool ---------------------------------------------------------------------------------

TEST(ChmToolSearch, PrintsScoreNameAndPathOfEachHitBestFirst) {
    const QStringList lines =
        runChmTool({"search", fixturePath("nested"), "quokka"}).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QRegularExpression line("^(\\d+\\.\\d{3})\t([^\t]+)\t([^\t]+)$");
    const auto first = line.match(lines[0]);
    const auto second = line.match(lines[1]);
    ASSERT_TRUE(first.hasMatch() && second.hasMatch()) << lines.join('|').toStdString();
    EXPECT_EQ(first.captured(2) + " " + first.captured(3), "Details chapter1/details.htm");
    EXPECT_EQ(second.captured(2) + " " + second.captured(3), "Leaf chapter1/deep/leaf.htm");
    EXPECT_GE(first.captured(1).toDouble(), second.captured(1).toDouble());
}

TEST(ChmToolSearch, IndexSearchPrintsNameAndPathOfEachTopLevelEntry) {
    EXPECT_EQ(runChmTool({"search", "--index", fixturePath("nested"), "ab"}),
              "Abacus\tchapter1/details.htm#abacus\nABC\tindex.htm\n");
}
