// The full-text and keyword-index searches: what is found under which entry, in which order
// (every hit however many, other forms of a word where the language has a stemmer, ties);
// what is never found; other languages; and the index thread's life with its document.
#include "CHMDocument.h"
#include "CHMSearchIndex.h"
#include "CHMSearchIndexLanguage.h"
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "ScoredLinkItem.h"
#include "TestChmWriter.h"
#include "TestDocument.h"

#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;

namespace {

// A document with its index; the index goes first, as the document's owner destroys them.
struct IndexedBook {
    std::unique_ptr<CHMDocument> doc;
    std::unique_ptr<CHMSearchIndex> index;

    explicit IndexedBook(const QString& path) : doc(openDocument(path)) {
        if (doc) {
            index = std::make_unique<CHMSearchIndex>(*doc);
            index->prepareSearchIndex();
        }
    }
    std::shared_ptr<CHMSearchResult> search(const QString& text) {
        return index ? index->searchInFile(text) : nullptr;
    }
    // The hits, best first, as "name|path".
    QStringList hits(const QString& text) {
        QStringList out;
        if (const auto result = search(text)) {
            for (const LinkItemPtr& item : result->rootItems()->children())
                out << item->name() + '|' + item->path();
        }
        return out;
    }
    QStringList names(const QString& text) {
        QStringList out;
        for (const QString& hit : hits(text))
            out << hit.section('|', 0, 0);
        return out;
    }
};

QByteArray lcidRecord(quint32 lcid) {
    QByteArray data(16, '\0');
    putU32(data, 0, lcid);
    return data;
}

// A book of the given objects, stored in the order given, each with a contents entry of its own
// name, listed in `contentsOrder` (all objects when empty); `lcid` 0 writes no language record.
QString bookOf(const QString& name, quint32 lcid,
               const std::vector<std::pair<QByteArray, QByteArray>>& objects,
               std::vector<QByteArray> contentsOrder = {}) {
    if (contentsOrder.empty()) {
        for (const auto& object : objects)
            contentsOrder.push_back(object.first);
    }
    QByteArray hhc = "<html><body><ul>\n";
    for (const QByteArray& object : contentsOrder)
        hhc += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" + object +
               "\"><param name=\"Local\" value=\"" + object + "\"></object>\n";
    std::vector<std::pair<quint16, QByteArray>> system{{0, QByteArray("toc.hhc", 8)}};
    if (lcid)
        system.push_back({4, lcidRecord(lcid)});
    // The book's own files in the first listing chunk, where chmlib finds them by name.
    std::vector<ChmObject> chm{{"/#SYSTEM", systemFile(system)},
                               {"/toc.hhc", hhc + "</ul></body></html>\n"}};
    for (const auto& [object, bytes] : objects)
        chm.push_back({"/" + object, bytes});
    return writeScratchFile(name + ".chm", writeChm(chm));
}

// Objects of every kind, so that whatever is indexed could be listed.
QString craftedBook() {
    QByteArray utf16("\xFF\xFE", 2);
    for (const char c : QByteArray("<p>utf16word</p>"))
        utf16 += QByteArray(1, c) + QByteArray(1, '\0');
    return bookOf(
        "crafted", 0,
        {{"page.htm", "<!DOCTYPE html><html><head><title>Shown</title><style>.tableau {}</style>"
                      "<script>var hiddenvariable = \"<p>scripted</p>\";</script></head><body>"
                      "<!-- commentword --><table border=\"1\"><tr><td>visible &amp; caf&eacute; "
                      "&#x4E2D;&#25991;</td></tr></table><font face=\"Arial\">fonted</font>"
                      "<p title=\"attributeword\">lan<b>tern</b></p><p>first<br>second</p>"},
         {"style.css", "p.cssword {}"},
         {"script.js", "var jsword = 1;"},
         {"notes.txt", "plain <b>textword</b>"},
         {"utf16.htm", utf16},
         {"meta.htm", "<meta charset=windows-1251>\xCF\xF0\xE8\xE2\xE5\xF2"}, // "Привет"
         {"README", "<html><body>sniffedword</body></html>"}});
}

// A book whose index takes a while to build.
const char kLargeBook[] = "en-fpc-fcl-chmcmd-large.chm";

} // namespace

TEST(FullTextSearch, FindsPagesUnderTheirFirstContentsEntryBestFirstAndNeverOrphans) {
    IndexedBook book(fixturePath("nested"));
    EXPECT_EQ(book.hits("lighthouse"), QStringList({"Welcome|index.htm"}));
    // intro.htm is "Introduction" and, later, "Back to the introduction".
    EXPECT_EQ(book.hits("zanzibar"), QStringList({"Introduction|intro.htm"}));
    // "quokka" twice in Details, once in Leaf.
    EXPECT_EQ(book.names("quokka"), QStringList({"Details", "Leaf"}));
    // Every word must occur; a phrase, a wildcard.
    EXPECT_EQ(book.names("narwhal quokka"), QStringList({"Leaf"}));
    EXPECT_EQ(book.names("\"narwhal quokka\""), QStringList({"Leaf"}));
    EXPECT_EQ(book.names("lighth*"), QStringList({"Welcome"}));
    // A word only in a page no entry names finds nothing; blank text gives no list at all.
    EXPECT_TRUE(book.index->searchInFile("xylophone"));
    EXPECT_TRUE(book.hits("xylophone").isEmpty());
    EXPECT_FALSE(book.index->searchInFile("  \t"));
}

TEST(FullTextSearch, ObjectsBehindTheWrongFirstListingChunkAreSearched) {
    IndexedBook book(fixturePath("chunks"));
    EXPECT_EQ(book.names("unique07"), QStringList({"Page 07"}));
    // Every page, the start page aside, holds "lantern".
    EXPECT_EQ(book.hits("lantern").size(), 64);
}

TEST(FullTextSearch, ABookWithoutContentsListsHitsUnderTheirPageTitles) {
    IndexedBook bare(fixturePath("bare"));
    const QStringList hits = bare.hits("gondola");
    ASSERT_EQ(hits.size(), 1);
    EXPECT_TRUE(hits[0].endsWith("|default.htm") && !hits[0].startsWith('|'))
        << hits[0].toStdString();
    REQUIRE_CORPUS("en-fpc-fpdoc-chmcmd-notoc.chm");
    IndexedBook fpdoc(corpusPath("en-fpc-fpdoc-chmcmd-notoc.chm"));
    EXPECT_EQ(fpdoc.hits("documentation").value(0), "About FPDoc|fpdoc/fpdocse2.html");
}

TEST(FullTextSearch, MalformedQueriesAreSearchedAsWordsWithoutFailing) {
    IndexedBook book(fixturePath("nested"));
    for (const char* query :
         {"AND OR (", "\"unterminated", "*", "NOT", "(", ")", "\"", "-", "+", "lighthouse OR",
          "a AND", "lighthouse NEAR", "ADJ/3", "title:", "\xe6\x90\x9c AND (", "\x01\x02"})
        EXPECT_TRUE(book.index->searchInFile(QString::fromUtf8(query))) << query;
}

TEST(FullTextSearch, OnlyVisibleTextOfTextObjectsIsIndexedDecodedInItsCharset) {
    IndexedBook book(craftedBook());
    for (const char* word :
         {"table", "font", "script", "style", "hiddenvariable", "scripted", "tableau",
          "commentword", "attributeword", "arial", "border", "amp", "body", "cssword", "jsword"})
        EXPECT_TRUE(book.hits(word).isEmpty()) << word;
    for (const char* word : {"visible", "café", "中文", "fonted", "shown", "lantern", "second"})
        EXPECT_EQ(book.names(QString::fromUtf8(word)), QStringList({"page.htm"})) << word;
    // Inline tags join a word, block tags part words.
    EXPECT_TRUE(book.hits("firstsecond").isEmpty());
    // A query the parser rejects takes its operators as words; no page holds "and".
    EXPECT_TRUE(book.hits("fonted AND").isEmpty());
    // Plain text is indexed as it is; untyped HTML is recognised.
    EXPECT_EQ(book.names("b"), QStringList({"notes.txt"}));
    EXPECT_EQ(book.names("sniffedword"), QStringList({"README"}));
    EXPECT_EQ(book.names("utf16word"), QStringList({"utf16.htm"}));
    EXPECT_EQ(book.names(QString::fromUtf8("привет")), QStringList({"meta.htm"}));
}

TEST(FullTextSearchLanguages, ChineseJapaneseAndRussianWordsAreFound) {
    // Fixture or corpus book, word, and the name and page of the best hit.
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"gbk", "长城", "搜索", "search.htm"},
        // nometa.htm declares no charset and is read in the book's own encoding.
        {"gbk", "熊猫", "文字编码", "nometa.htm"},
        {"zh-gbk-7zip-help.chm", "性能", "性能对比", "general/performance.htm"},
        {"ja-sjis-winring0-manual.chm", "免責事項", "ライセンス", "_RESOURCE/License.html"},
        {"ru-cp1251-kord-help.chm", "КОНСУЛЬТАЦИЯ", "Запись пациента", "help4.html"}};
    for (const auto& [file, word, name, path] : cases) {
        const bool inCorpus = QByteArray(file).endsWith(".chm");
        if (inCorpus)
            REQUIRE_CORPUS(file);
        IndexedBook book(inCorpus ? corpusPath(file) : fixturePath(file));
        EXPECT_EQ(book.hits(QString::fromUtf8(word)).value(0), QString::fromUtf8(name) + '|' + path)
            << word;
    }
}

TEST(IndexSearch, ListsTopLevelEntriesBeginningWithTheTextIgnoringCase) {
    auto doc = openDocument(fixturePath("nested"));
    ASSERT_TRUE(doc);
    // Both spellings: a search that folds the case of the names but not of the text (or the
    // other way round) finds nothing for one of them.
    for (const char* text : {"ab", "AB"}) {
        const auto found = CHMSearchIndex::searchInIndex(doc->indexSource().get(), text);
        ASSERT_TRUE(found);
        // "abstract", a sub-entry of "Zeta", is not listed.
        ASSERT_EQ(found->rootChildrenCount(), 2u) << text;
        EXPECT_EQ(found->rootItems()->children()[0]->name(), "Abacus");
        EXPECT_EQ(found->rootItems()->children()[1]->name(), "ABC");
    }
}

TEST(IndexSearch, EmptyTextOrABookWithoutAnIndexGivesNoList) {
    // What a search lists is checked through chmtool below and by the filter's own tests.
    auto doc = openDocument(fixturePath("nested"));
    auto bare = openDocument(fixturePath("bare"));
    ASSERT_TRUE(doc && bare);
    EXPECT_TRUE(CHMSearchIndex::searchInIndex(doc->indexSource().get(), "AB"));
    EXPECT_FALSE(CHMSearchIndex::searchInIndex(doc->indexSource().get(), QString()));
    EXPECT_FALSE(CHMSearchIndex::searchInIndex(bare->indexSource().get(), "a"));
}

TEST(SearchIndexThread, ASearchStartedWhileIndexingReturnsTheCompleteResult) {
    REQUIRE_CORPUS(kLargeBook);
    IndexedBook book(corpusPath(kLargeBook));
    // tgzopenmode.html is among the last objects of the walk.
    const QStringList early = book.hits("tgzopenmode");
    EXPECT_TRUE(book.index->isIndexDone());
    EXPECT_EQ(early.value(0).section('|', 1).section('#', 0, 0), "zstream/tgzopenmode.html");
    EXPECT_EQ(book.hits("tgzopenmode"), early);
}

TEST(SearchIndexThread, StoppingMidWalkWakesTheWaitersAndNeitherHangsNorCrashes) {
    REQUIRE_CORPUS(kLargeBook);
    for (int round = 0; round < 6; ++round) {
        auto doc = openDocument(corpusPath(kLargeBook));
        ASSERT_TRUE(doc);
        auto index = std::make_unique<CHMSearchIndex>(*doc);
        std::atomic<bool> called{false};
        index->prepareSearchIndex([&] { called = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 == 2 ? 10 : round % 3));
        if (round >= 3) {
            auto waiter = std::async(std::launch::async, [&] { return index->waitUntilDone(); });
            index->cancel();
            const bool complete = waiter.get();
            EXPECT_EQ(complete, index->isIndexDone());
            EXPECT_TRUE(complete || !called);
            EXPECT_TRUE(complete || !index->searchInFile("tgzopenmode"));
        }
        // Otherwise destroyed while it walks, the index before its document.
        index.reset();
        doc.reset();
    }
}

TEST(ChmToolSearch, PrintsScoreNameAndPathOfEachHitBestFirstAndTheIndexEntries) {
    const QRegularExpression hits("^\\d+\\.\\d{3}\tDetails\tchapter1/details.htm\n"
                                  "\\d+\\.\\d{3}\tLeaf\tchapter1/deep/leaf.htm\n$");
    EXPECT_TRUE(
        hits.match(QString::fromUtf8(runChmTool({"search", fixturePath("nested"), "quokka"}).out))
            .hasMatch());
    EXPECT_EQ(runChmTool({"search", "--index", fixturePath("nested"), "ab"}).out,
              "Abacus\tchapter1/details.htm#abacus\nABC\tindex.htm\n");
}

TEST(FullTextSearchHits, EveryMatchingPageIsListedAndTheResultCountsThemAll) {
    // More pages than the thousand a search once stopped at; one of them has no entry.
    std::vector<std::pair<QByteArray, QByteArray>> pages;
    std::vector<QByteArray> listed;
    for (int i = 0; i < 1203; ++i) {
        const QByteArray page = "p" + QByteArray::number(i) + ".htm";
        pages.push_back({page, "lantern number " + QByteArray::number(i)});
        if (i != 500)
            listed.push_back(page);
    }
    IndexedBook book(bookOf("many", 0x409, pages, listed));
    const auto result = book.search("lantern");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->rootChildrenCount(), 1202u);
    EXPECT_EQ(result->foundCount(), 1203u);
}

TEST(FullTextSearchStemming, OtherFormsOfAWordAreFoundAndTheFormTypedRanksFirst) {
    IndexedBook english(bookOf("stems-en", 0x409,
                               {{"a.htm", "The cable connects here."},
                                {"b.htm", "Connecting cables takes time."},
                                {"c.htm", "Connect the cable."},
                                {"d.htm", "Nothing related."}}));
    EXPECT_EQ(english.index->stemmerName(), "english");
    // Every form; the page with the form as typed first.
    EXPECT_EQ(english.names("connect").value(0), "c.htm");
    EXPECT_EQ(english.names("connect").size(), 3);
    EXPECT_EQ(english.names("CONNECTING").value(0), "b.htm");
    EXPECT_EQ(english.names("CONNECTING").size(), 3);
    EXPECT_EQ(english.names("cable connect").size(), 3);
    // Operators and wildcards still work on the words as written.
    EXPECT_EQ(english.names("connect NOT time"), QStringList({"c.htm", "a.htm"}));
    EXPECT_EQ(english.names("connecti*"), QStringList({"b.htm"}));

    // A language without a stemmer: the words as written only.
    IndexedBook japanese(
        bookOf("stems-ja", 0x411, {{"a.htm", "connects"}, {"b.htm", "connecting"}}));
    EXPECT_TRUE(japanese.index->stemmerName().isEmpty());
    EXPECT_EQ(japanese.names("connecting"), QStringList({"b.htm"}));
}

TEST(FullTextSearchStemming, ARussianBookFindsAWordInEveryCaseWhateverItsLetterCase) {
    const char file[] = "ru-cp1251-kord-help.chm";
    REQUIRE_CORPUS(file);
    IndexedBook book(corpusPath(file));
    EXPECT_EQ(book.index->stemmerName(), "russian");
    const QStringList genitive = book.names(QString::fromUtf8("пациента"));
    const QStringList upper = book.names(QString::fromUtf8("ПАЦИЕНТ"));
    // Before stemming: 5 pages and 1.
    EXPECT_GE(genitive.size(), 5);
    EXPECT_EQ(upper.size(), genitive.size());
    EXPECT_EQ(book.names(QString::fromUtf8("пациентов")).size(), genitive.size());
}

TEST(FullTextSearchStemming, TheLanguageComesFromTheLastLanguageRecordOfTheSystemFile) {
    const QByteArray system = systemFile({{4, lcidRecord(0x409)}, {4, lcidRecord(0x419)}});
    EXPECT_EQ(CHMSearchIndexLanguage::lcidOfSystem(system), 0x419u);
    // A record cut short names no language; one whose header is cut off is not there.
    EXPECT_EQ(CHMSearchIndexLanguage::lcidOfSystem(systemFile({{4, QByteArray(2, '\0')}})),
              std::nullopt);
    EXPECT_EQ(CHMSearchIndexLanguage::lcidOfSystem(system.left(system.size() - 18)), 0x409u);
    EXPECT_EQ(CHMSearchIndexLanguage::lcidOfSystem(QByteArray()), std::nullopt);
    // Sublanguages share the stemmer; languages Xapian lacks have none.
    EXPECT_EQ(CHMSearchIndexLanguage::stemmerForLCID(0x0C07), "german");  // Austria
    EXPECT_EQ(CHMSearchIndexLanguage::stemmerForLCID(0x080A), "spanish"); // Mexico
    EXPECT_EQ(CHMSearchIndexLanguage::stemmerForLCID(0x040C), "french");
    EXPECT_EQ(CHMSearchIndexLanguage::stemmerForLCID(0x0804), ""); // Chinese
    EXPECT_EQ(CHMSearchIndexLanguage::stemmerForLCID(0), "");
}

TEST(FullTextSearchOrder, AWordOnEveryPageRanksByItsUseOnThePageThenByReadingOrder) {
    // Pages of one length; "common" 1, 3, 2 and 2 times. Stored a, b, c, d; read a, d, b, c.
    IndexedBook book(bookOf("ties", 0x409,
                            {{"a.htm", "common filler filler filler filler filler"},
                             {"b.htm", "common common common filler filler filler"},
                             {"c.htm", "common common filler filler filler filler"},
                             {"d.htm", "filler common filler common filler filler"}},
                            {"a.htm", "d.htm", "b.htm", "c.htm"}));
    // c and d score alike: d is read first.
    EXPECT_EQ(book.names("common"), QStringList({"b.htm", "d.htm", "c.htm", "a.htm"}));
}

TEST(FullTextSearchHits, EachHitTellsItsPlaceInTheContentsAndItsPage) {
    IndexedBook book(fixturePath("nested"));
    const auto result = book.search("quokka");
    ASSERT_TRUE(result);
    ASSERT_EQ(result->rootChildrenCount(), 2u);
    const LinkItem* details = result->rootItems()->childAtIndex(0);
    const LinkItem* leaf = result->rootItems()->childAtIndex(1);
    EXPECT_EQ(details->name(), "Details");
    EXPECT_EQ(result->locationOf(details).contentsTrail, QStringList({"Part One", "Overview"}));
    EXPECT_EQ(result->locationOf(details).page, "/chapter1/details.htm");
    EXPECT_EQ(result->locationOf(leaf).contentsTrail,
              QStringList({"Part One", "Overview", "Details"}));
    EXPECT_EQ(result->locationOf(leaf).page, "/chapter1/deep/leaf.htm");
    // A top-level entry has no trail; an item of another list has no location here.
    const auto top = book.search("lighthouse");
    EXPECT_TRUE(result->locationOf(top->rootItems()->childAtIndex(0)).page.isEmpty());
    EXPECT_EQ(top->locationOf(top->rootItems()->childAtIndex(0)).page, "/index.htm");
    EXPECT_TRUE(top->locationOf(top->rootItems()->childAtIndex(0)).contentsTrail.isEmpty());
}

TEST(FullTextSearchParts, OneThreadSeveralMergedOrOnTheHeapTheHitsAndScoresAreTheSame) {
    // Words of differing frequency, so that the scores tell the pages apart.
    std::vector<std::pair<QByteArray, QByteArray>> pages;
    std::vector<QByteArray> listed;
    for (int i = 0; i < 900; ++i) {
        const QByteArray page = "p" + QByteArray::number(i) + ".htm";
        pages.push_back({page, "lantern " + QByteArray("harbour ").repeated(i % 5) + "word" +
                                   QByteArray::number(i % 37) + " unique" + QByteArray::number(i)});
        listed.push_back(page);
    }
    const QString path = bookOf("parts", 0x409, pages, listed);
    const auto hitsWith = [&](const CHMSearchIndex::BuildOptions& options) {
        auto doc = openDocument(path);
        EXPECT_TRUE(doc);
        if (!doc)
            return QStringList();
        CHMSearchIndex index(*doc);
        index.setBuildOptions(options);
        index.prepareSearchIndex();
        QStringList out;
        for (const char* query : {"harbour", "word7", "unique123", "lantern"}) {
            const auto result = index.searchInFile(QString::fromLatin1(query));
            EXPECT_TRUE(result) << query;
            for (int i = 0; result && i < static_cast<int>(result->rootChildrenCount()); ++i) {
                const auto* hit =
                    static_cast<const ScoredLinkItem*>(result->rootItems()->childAtIndex(i));
                out << QStringLiteral("%1 %2 %3").arg(query, hit->path()).arg(hit->relScore());
            }
        }
        // A wildcard stands for the 200 most frequent of its words (which of equally frequent
        // ones is Xapian's choice): in one database, however many threads filled it. Parts on
        // the heap (where no memory folder is found) stay apart and each expands it on its own.
        if (options.shards == 1 || index.isInMemoryFolder()) {
            const auto wildcard = index.searchInFile(QStringLiteral("uniq*"));
            EXPECT_EQ(wildcard ? wildcard->rootChildrenCount() : 0u, 200u);
        }
        return out;
    };
    // The first hit that differs, or nothing.
    const auto firstDifference = [](const QStringList& a, const QStringList& b) {
        for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
            if (a.value(i) != b.value(i))
                return (a.value(i) + " / " + b.value(i)).toStdString();
        }
        return std::string();
    };
    const QStringList serial = hitsWith({1, false});
    EXPECT_EQ(serial.filter(QStringLiteral("lantern ")).size(), 900);
    EXPECT_EQ(serial.filter(QStringLiteral("unique123 ")).size(), 1);
    EXPECT_EQ(firstDifference(hitsWith({3, false}), serial), "");
    EXPECT_EQ(firstDifference(hitsWith({4, false}), serial), "");
    EXPECT_EQ(firstDifference(hitsWith({3, true}), serial), "");
}
