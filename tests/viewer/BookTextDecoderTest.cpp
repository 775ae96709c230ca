// Text in a book's code page with bytes that are invalid in it: the bad sequence becomes U+FFFD
// and everything after it is kept, in strings, in sitemaps (contents and index) and in titles.
#include "BookTextDecoder.h"
#include "CHMDocument.h"
#include "CHMMetadataReader.h"
#include "CHMTableOfContent.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString kFFFD = QString(QChar(0xFFFD));

struct BadByteCase {
    const char* encoding;
    QByteArray bad; // invalid where it stands
};

// A lead byte before a quote or a space in each double-byte code page, and the single bytes the
// Windows code pages leave undefined.
const BadByteCase kBadBytes[] = {
    {"CP936", "\x81"}, {"CP950", "\xA3"},  {"CP932", "\x81"},
    {"CP949", "\x81"}, {"CP1252", "\x81"}, {"CP1251", "\x98"},
};

QByteArray sitemapWithBadName(const QByteArray& bad, char after) {
    return "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Before" + bad +
           QByteArray(1, after) +
           "\"><param name=\"Local\" value=\"bad.htm\"></object>"
           "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"After\">"
           "<param name=\"Local\" value=\"after.htm\"></object></ul>";
}

} // namespace

TEST(BookTextDecoder, ABadByteBecomesOneReplacementAndTheAsciiAfterItIsReadAgain) {
    for (const BadByteCase& c : kBadBytes) {
        for (char after : {'"', ' ', '<'}) {
            const QString text =
                BookTextDecoder::decode("A" + c.bad + QByteArray(1, after) + "B", c.encoding);
            EXPECT_EQ(text, "A" + kFFFD + QChar::fromLatin1(after) + "B")
                << c.encoding << " before '" << after << "'";
        }
    }
}

TEST(BookTextDecoder, ValidTextDecodesAsTheCodePageHasIt) {
    EXPECT_EQ(BookTextDecoder::decode("7-Zip \xb0\xef\xd6\xfa", "CP936"), "7-Zip 帮助");
    EXPECT_EQ(BookTextDecoder::decode("\xc0\x78\xa6\x73", "CP950"), "儲存");
    EXPECT_EQ(BookTextDecoder::decode("\x83\x7d\x83\x6a\x83\x85\x83\x41\x83\x8b", "CP932"),
              "マニュアル");
    EXPECT_EQ(BookTextDecoder::decode("\xcf\xf0\xe8\xe2\xe5\xf2", "CP1251"), "Привет");
    EXPECT_EQ(BookTextDecoder::decode("caf\xc3\xa9", QString()), "café");
    EXPECT_EQ(BookTextDecoder::toUtf8(QByteArray("a\0b", 3), "CP1252"), QByteArray("a\0b", 3));
}

TEST(BookTextDecoder, ASequenceCutOffAtTheEndGivesOneReplacementAndAnUnknownEncodingStillDecodes) {
    EXPECT_EQ(BookTextDecoder::decode("ab\xb0", "CP936"), "ab" + kFFFD);
    EXPECT_EQ(BookTextDecoder::decode("ab\xe5\xb8", "UTF-8"), "ab" + kFFFD);
    EXPECT_EQ(BookTextDecoder::decode("caf\xc3\xa9", "no-such-encoding"), "café");
    EXPECT_EQ(BookTextDecoder::decode("caf\xe9 ok", "no-such-encoding"), "café ok");
}

TEST(SitemapDecoding, ABadByteInANameKeepsTheEntryItsPageAndEveryLaterEntry) {
    for (const BadByteCase& c : kBadBytes) {
        for (char after : {'"', ' '}) {
            for (bool index : {false, true}) {
                QByteArray sitemap = sitemapWithBadName(c.bad, after);
                if (index)
                    sitemap.replace("\"Name\"", "\"Keyword\"");
                CHMTableOfContent toc(sitemap, c.encoding);
                ASSERT_EQ(toc.rootChildrenCount(), 2u) << c.encoding << " before '" << after << "'";
                const LinkItem* first = toc.rootItems()->childAtIndex(0);
                EXPECT_TRUE(first->name().startsWith("Before" + kFFFD)) << c.encoding;
                EXPECT_EQ(first->path(), "bad.htm") << c.encoding;
                EXPECT_EQ(toc.rootItems()->childAtIndex(1)->name(), "After") << c.encoding;
            }
        }
    }
}

TEST(MetadataDecoding, ABadByteInTheTitleDoesNotEmptyIt) {
    QByteArray lcid(8, '\0');
    putU32(lcid, 0, 0x0804);
    CHMMetadata meta;
    CHMMetadataReader::readSystem(
        systemFile({{4, lcid}, {3, QByteArray("Help \x81\" Book\0", 13)}}), {}, &meta);
    EXPECT_EQ(meta.title, "Help " + kFFFD + "\" Book");
}

TEST(SitemapDecoding, TheBig5CorpusBookListsAsManyContentsEntriesAsItsKoreanEdition) {
    // The same book compiled in CP949 has no bad bytes in its contents; the Big5 edition writes
    // "®" as a lone lead byte before the closing quote of several names.
    REQUIRE_CORPUS("zh-big5-nero-burningrom.chm");
    REQUIRE_CORPUS("ko-cp949-nero-burningrom.chm");
    QString error;
    auto zh = CHMDocument::open(corpusPath("zh-big5-nero-burningrom.chm"), &error);
    auto ko = CHMDocument::open(corpusPath("ko-cp949-nero-burningrom.chm"), &error);
    ASSERT_TRUE(zh && ko) << error.toStdString();
    quint64 zhItems = 0, koItems = 0;
    zh->tocSource()->rootItems()->enumerateItems([&](LinkItem*) { ++zhItems; });
    ko->tocSource()->rootItems()->enumerateItems([&](LinkItem*) { ++koItems; });
    EXPECT_EQ(zhItems, koItems);
    EXPECT_EQ(zh->tocSource()->pageList().size(), ko->tocSource()->pageList().size());
    // The entry with the bad byte keeps its name up to it, and the entries after it are there.
    bool lightScribe = false;
    zh->tocSource()->rootItems()->enumerateItems([&](LinkItem* item) {
        lightScribe = lightScribe || item->name() == "LightScribe" + kFFFD;
    });
    EXPECT_TRUE(lightScribe);
}
