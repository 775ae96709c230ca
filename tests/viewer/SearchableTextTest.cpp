// Edge cases of the text the search index takes from an object, beyond whole-book searches.
#include "SearchableText.h"
#include "CharsetSniffer.h"
#include "HTMLTextExtractor.h"

#include <gtest/gtest.h>

static QString visible(const char* html) {
    return HTMLTextExtractor::visibleText(QString::fromUtf8(html)).simplified();
}

TEST(HTMLTextExtractor, CharacterReferencesBecomeWhatBrowsersShow) {
    EXPECT_EQ(visible("&#20013;&#x6587; &#X4E2D; &#128512; &yuml;&mdash;"),
              QString::fromUtf8("中文 中 😀 ÿ—"));
    // Legacy names need no semicolon; anything else that is not a reference stays text.
    EXPECT_EQ(visible("&copy 2024 &amp x"), QString::fromUtf8("© 2024 & x"));
    EXPECT_EQ(visible("&hellip x &unknown; & alone &#; &#x;"),
              "&hellip x &unknown; & alone &#; &#x;");
    // C1 numbers are windows-1252's; zero, surrogates, out of range and overflow give U+FFFD.
    EXPECT_EQ(visible("&#150;&#x80;"), QString::fromUtf8("–€"));
    EXPECT_EQ(visible("&#0;&#xD800;&#x110000;&#99999999999999999999;"),
              QString::fromUtf8("\uFFFD\uFFFD\uFFFD\uFFFD"));
}

TEST(HTMLTextExtractor, HiddenOrUnterminatedMarkupIsDroppedAndOnlyRealTagsAreMarkup) {
    EXPECT_EQ(visible("a<SCRIPT type=x>var s = '</scripts>';</SCRIPT >b"), "a b");
    EXPECT_EQ(visible("a<!-- <p>hidden</p> -->b<!-->c<!--->d"), "abcd");
    EXPECT_EQ(visible("a<!-- never closed <p>b</p>"), "a");
    EXPECT_EQ(visible("a<script>never closed"), "a");
    EXPECT_EQ(visible("a<p title=\"never closed>b"), "a");
    EXPECT_EQ(visible("<a title=\"x > y\" href='<z>'>link</a>"), "link");
    EXPECT_EQ(visible("1 < 2 <3 <"), "1 < 2 <3 <");
}

TEST(CharsetSniffer, ByteOrderMarksBeatEarlyDeclarationsInRealMetaTags) {
    EXPECT_EQ(CharsetSniffer::declaredCharset("\xEF\xBB\xBF<meta charset=gbk>"), "UTF-8");
    EXPECT_EQ(CharsetSniffer::declaredCharset(QByteArray("\xFF\xFE<\0", 4)), "UTF-16LE");
    EXPECT_EQ(CharsetSniffer::declaredCharset(QByteArray("\xFE\xFF\0<", 4)), "UTF-16BE");
    EXPECT_EQ(CharsetSniffer::declaredCharset("<META CHARSET = 'Shift_JIS'>"), "Shift_JIS");
    // Markup read as ASCII cannot be UTF-16, whatever it claims.
    EXPECT_EQ(CharsetSniffer::declaredCharset("<meta charset=UTF-16>"), "UTF-8");
    for (const QByteArray& page :
         {QByteArray("<meta name=x-charset content=y>"), QByteArray("<p>charset=gbk</p>"),
          QByteArray("<meta charset>"),
          QByteArray(CharsetSniffer::kScanLength, ' ') + "<meta charset=gbk>"})
        EXPECT_TRUE(CharsetSniffer::declaredCharset(page).isEmpty()) << page.right(30).data();
}

TEST(SearchableText, KindFollowsTheFileNameNotItsFolderAndBinaryMeansANulInTheFirstKilobyte) {
    using Kind = SearchableText::Kind;
    EXPECT_EQ(SearchableText::kindOf("/dir.v2/file", "plain"), Kind::PlainText);
    EXPECT_EQ(SearchableText::kindOf("/a.htm", QByteArray("x\0y", 3)), Kind::Skipped);
    EXPECT_EQ(SearchableText::kindOf("/a.htm", QByteArray(2000, 'x') + '\0'), Kind::Page);
    EXPECT_EQ(SearchableText::kindOf("/a.htm", QByteArray("\xFF\xFEx\0", 4)), Kind::Page);
}

TEST(SearchableText, DecodingTriesDeclaredThenBookThenUtf8ThenLatin1) {
    const QByteArray gbk = "\xd6\xd0\xce\xc4"; // 中文
    // Declarations count only for pages, and only when they decode the bytes.
    EXPECT_EQ(SearchableText::decode("<meta charset=gbk>" + gbk, "CP1251", false),
              QString::fromUtf8("<meta charset=gbk>ЦРОД"));
    EXPECT_EQ(SearchableText::decode("<meta charset=nonsense>" + gbk, "CP936", true),
              QString::fromUtf8("<meta charset=nonsense>中文"));
    EXPECT_EQ(SearchableText::decode("\xc3\xa9", QString(), false), QString::fromUtf8("é"));
    EXPECT_EQ(SearchableText::decode("\xe9t\xe9", QString(), false), QString::fromUtf8("été"));
    // A page declaring UTF-8 keeps its good text despite bad bytes.
    const QString text =
        SearchableText::decode("<meta charset=utf-8>\xc3\xa9t\xe9", "CP1251", true);
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("<meta charset=utf-8>ét"))) << text.toStdString();
    // A stray lead byte before a space costs one character, not the page's words.
    EXPECT_EQ(SearchableText::decode("\xd6\xd0\x81 \xce\xc4", "CP936", false),
              QString::fromUtf8("中\uFFFD 文"));
}
