// What a full-text search lists: every hit however many, the other forms of a word in books
// whose language has a stemmer, the order of hits that score alike, and where each hit is.
#include "CHMDocument.h"
#include "CHMSearchIndex.h"
#include "CHMSearchIndexLanguage.h"
#include "CHMSearchResult.h"
#include "CHMTableOfContent.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

#define REQUIRE_CORPUS(file)                                                                       \
    if (!QFile::exists(corpusPath(file))) {                                                        \
        if (qEnvironmentVariable("CI") == "true")                                                  \
            FAIL() << "corpus file missing under CI: " << (file);                                  \
        GTEST_SKIP() << "corpus not present: " << (file);                                          \
    }

struct Book {
    std::unique_ptr<CHMDocument> doc;
    std::unique_ptr<CHMSearchIndex> index;

    explicit Book(const QString& path) {
        QString error;
        doc = CHMDocument::open(path, &error);
        EXPECT_TRUE(doc) << path.toStdString() << ": " << error.toStdString();
        if (doc) {
            index = std::make_unique<CHMSearchIndex>(*doc);
            index->prepareSearchIndex();
        }
    }
    std::shared_ptr<CHMSearchResult> search(const QString& text) {
        return index ? index->searchInFile(text) : nullptr;
    }
    QStringList names(const QString& text) {
        QStringList out;
        if (const auto result = search(text)) {
            for (const LinkItemPtr& item : result->rootItems()->children())
                out << item->name();
        }
        return out;
    }
};

QByteArray lcidRecord(quint32 lcid) {
    QByteArray data(16, '\0');
    putU32(data, 0, lcid);
    return data;
}

// A book of the given pages, stored in the order given, each with a contents entry of the
// page's own name, listed in `contentsOrder` (all pages when empty).
QString bookOf(const QString& name, quint32 lcid,
               const std::vector<std::pair<QByteArray, QByteArray>>& pages,
               std::vector<QByteArray> contentsOrder = {}) {
    if (contentsOrder.empty()) {
        for (const auto& page : pages)
            contentsOrder.push_back(page.first);
    }
    QByteArray hhc = "<html><body><ul>\n";
    for (const QByteArray& page : contentsOrder)
        hhc += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" + page +
               "\"><param name=\"Local\" value=\"" + page + "\"></object>\n";
    // The book's own files in the first listing chunk, where chmlib finds them by name.
    std::vector<ChmObject> chm{
        {"/#SYSTEM", systemFile({{0, QByteArray("toc.hhc", 8)}, {4, lcidRecord(lcid)}})},
        {"/toc.hhc", hhc + "</ul></body></html>\n"}};
    for (const auto& [page, bytes] : pages)
        chm.push_back({"/" + page, "<html><body>" + bytes + "</body></html>"});
    return writeScratchFile(name + ".chm", writeChm(chm));
}

} // namespace

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
    Book book(bookOf("many", 0x409, pages, listed));
    const auto result = book.search("lantern");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->rootChildrenCount(), 1202u);
    EXPECT_EQ(result->foundCount(), 1203u);
}

TEST(FullTextSearchStemming, OtherFormsOfAWordAreFoundAndTheFormTypedRanksFirst) {
    Book english(bookOf("stems-en", 0x409,
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
    Book japanese(bookOf("stems-ja", 0x411, {{"a.htm", "connects"}, {"b.htm", "connecting"}}));
    EXPECT_TRUE(japanese.index->stemmerName().isEmpty());
    EXPECT_EQ(japanese.names("connecting"), QStringList({"b.htm"}));
}

TEST(FullTextSearchStemming, ARussianBookFindsAWordInEveryCaseWhateverItsLetterCase) {
    const char file[] = "ru-cp1251-kord-help.chm";
    REQUIRE_CORPUS(file);
    Book book(corpusPath(file));
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
    Book book(bookOf("ties", 0x409,
                     {{"a.htm", "common filler filler filler filler filler"},
                      {"b.htm", "common common common filler filler filler"},
                      {"c.htm", "common common filler filler filler filler"},
                      {"d.htm", "filler common filler common filler filler"}},
                     {"a.htm", "d.htm", "b.htm", "c.htm"}));
    // c and d score alike: d is read first.
    EXPECT_EQ(book.names("common"), QStringList({"b.htm", "d.htm", "c.htm", "a.htm"}));
}

TEST(FullTextSearchHits, EachHitTellsItsPlaceInTheContentsAndItsPage) {
    Book book(fixturePath("nested"));
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
