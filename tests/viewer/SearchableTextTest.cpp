// The text the search index takes from an object: markup stripped the way a browser hides it,
// character references decoded, charsets found in the page, non-text objects left out.
#include "SearchableText.h"
#include "CharsetSniffer.h"
#include "HTMLTextExtractor.h"

#include <gtest/gtest.h>

namespace {

QString visible(const char* html) {
    return HTMLTextExtractor::visibleText(QString::fromUtf8(html)).simplified();
}

} // namespace

TEST(HTMLTextExtractor, CharacterReferencesBecomeTheirCharacters) {
    EXPECT_EQ(visible("a&amp;b &lt;p&gt; &quot;q&quot; &apos;"), "a&b <p> \"q\" '");
    EXPECT_EQ(visible("caf&eacute; &Agrave; &yuml; &copy;"), QString::fromUtf8("café À ÿ ©"));
    EXPECT_EQ(visible("&#20013;&#x6587; &#X4E2D;"), QString::fromUtf8("中文 中"));
    EXPECT_EQ(visible("&#128512;"), QString::fromUtf8("😀"));
    EXPECT_EQ(visible("&mdash;&hellip;&euro;"), QString::fromUtf8("—…€"));
}

TEST(HTMLTextExtractor, LegacyReferencesWithoutSemicolonAreReadAndOthersKeptAsText) {
    EXPECT_EQ(visible("&copy 2024 &amp x"), QString::fromUtf8("© 2024 & x"));
    EXPECT_EQ(visible("&hellip x &unknown; & alone &#; &#x;"),
              QString::fromUtf8("&hellip x &unknown; & alone &#; &#x;"));
}

TEST(HTMLTextExtractor, OddNumericReferencesBecomeWhatBrowsersShow) {
    // 0x80-0x9F are windows-1252's characters; zero, surrogates and the out of range become
    // the replacement character; a huge number does not overflow.
    EXPECT_EQ(visible("&#150;&#x80;"), QString::fromUtf8("–€"));
    EXPECT_EQ(visible("&#0;&#xD800;&#x110000;&#99999999999999999999;"),
              QString::fromUtf8("\uFFFD\uFFFD\uFFFD\uFFFD"));
}

TEST(HTMLTextExtractor, ScriptsStylesAndCommentsAreDropped) {
    EXPECT_EQ(visible("a<script>if (x < y) document.write('<p>no</p>');</script>b"), "a b");
    EXPECT_EQ(visible("a<SCRIPT type=x>var s = '</scripts>';</SCRIPT >b"), "a b");
    EXPECT_EQ(visible("a<style>p > b { }</style>b"), "a b");
    EXPECT_EQ(visible("a<!-- <p>hidden</p> -->b<!-->c<!--->d"), "abcd");
    EXPECT_EQ(visible("<!DOCTYPE html><?xml version=\"1.0\"?>text"), "text");
}

TEST(HTMLTextExtractor, UnterminatedMarkupRunsToTheEnd) {
    EXPECT_EQ(visible("a<!-- never closed <p>b</p>"), "a");
    EXPECT_EQ(visible("a<script>never closed"), "a");
    EXPECT_EQ(visible("a<p title=\"never closed>b"), "a");
}

TEST(HTMLTextExtractor, QuotedAttributeValuesMayHoldAngleBrackets) {
    EXPECT_EQ(visible("<a title=\"x > y\" href='<z>'>link</a>"), "link");
    EXPECT_EQ(visible("<p class=wide>text</p>"), "text");
}

TEST(HTMLTextExtractor, BlockTagsSeparateWordsAndInlineTagsDoNot) {
    EXPECT_EQ(visible("lan<b>tern</b>"), "lantern");
    EXPECT_EQ(visible("<span>a</span><font>b</font><a href=x>c</a>"), "abc");
    EXPECT_EQ(visible("a<br>b<p>c</p><td>d</td><div>e"), "a b c d e");
}

TEST(HTMLTextExtractor, LessThanThatStartsNoTagIsText) {
    EXPECT_EQ(visible("1 < 2 <3 <"), "1 < 2 <3 <");
}

TEST(CharsetSniffer, ByteOrderMarksComeFirst) {
    EXPECT_EQ(CharsetSniffer::declaredCharset("\xEF\xBB\xBF<meta charset=gbk>"), "UTF-8");
    EXPECT_EQ(CharsetSniffer::declaredCharset(QByteArray("\xFF\xFE<\0", 4)), "UTF-16LE");
    EXPECT_EQ(CharsetSniffer::declaredCharset(QByteArray("\xFE\xFF\0<", 4)), "UTF-16BE");
}

TEST(CharsetSniffer, FindsMetaCharsetAndHttpEquivContent) {
    EXPECT_EQ(CharsetSniffer::declaredCharset("<META CHARSET = 'Shift_JIS'>"), "Shift_JIS");
    EXPECT_EQ(CharsetSniffer::declaredCharset("<meta http-equiv=\"Content-Type\" "
                                              "content=\"text/html; charset=gb2312\">"),
              "gb2312");
    EXPECT_EQ(CharsetSniffer::declaredCharset("<meta charset=\"utf-8\"/>"), "utf-8");
}

TEST(CharsetSniffer, IgnoresLookalikesAndLateDeclarations) {
    EXPECT_TRUE(CharsetSniffer::declaredCharset("<meta name=x-charset content=y>").isEmpty());
    EXPECT_TRUE(CharsetSniffer::declaredCharset("<p>charset=gbk</p>").isEmpty());
    EXPECT_TRUE(CharsetSniffer::declaredCharset("<meta charset>").isEmpty());
    const QByteArray late = QByteArray(CharsetSniffer::kScanLength, ' ') + "<meta charset=gbk>";
    EXPECT_TRUE(CharsetSniffer::declaredCharset(late).isEmpty());
}

TEST(CharsetSniffer, AsciiMarkupThatClaimsUtf16IsUtf8) {
    EXPECT_EQ(CharsetSniffer::declaredCharset("<meta charset=UTF-16>"), "UTF-8");
}

TEST(SearchableText, ObjectsAreSortedByPathAndContent) {
    using Kind = SearchableText::Kind;
    EXPECT_EQ(SearchableText::kindOf("/a.HTM", "x"), Kind::Page);
    EXPECT_EQ(SearchableText::kindOf("/a.txt", "<html>"), Kind::PlainText);
    EXPECT_EQ(SearchableText::kindOf("/README", "<!DOCTYPE HTML><p>"), Kind::Page);
    EXPECT_EQ(SearchableText::kindOf("/README", "plain"), Kind::PlainText);
    EXPECT_EQ(SearchableText::kindOf("/dir.v2/file", "plain"), Kind::PlainText);
    for (const char* path : {"/s.css", "/s.JS", "/i.png", "/i.gif", "/i.jpg", "/i.bmp", "/i.ico",
                             "/toc.hhc", "/#SYSTEM", "/$FIftiMain"})
        EXPECT_EQ(SearchableText::kindOf(path, "text"), Kind::Skipped) << path;
    EXPECT_EQ(SearchableText::kindOf("/a.htm", QByteArray("x\0y", 3)), Kind::Skipped);
    EXPECT_EQ(SearchableText::kindOf("/a.htm", QByteArray("\xFF\xFEx\0", 4)), Kind::Page);
    // A NUL after the first kilobyte does not make a page binary.
    EXPECT_EQ(SearchableText::kindOf("/a.htm", QByteArray(2000, 'x') + '\0'), Kind::Page);
}

TEST(SearchableText, DecodingTriesDeclaredThenBookThenUtf8ThenLatin1) {
    const QByteArray gbk = "\xd6\xd0\xce\xc4"; // 中文
    EXPECT_EQ(SearchableText::decode("<meta charset=gbk>" + gbk, "CP1252", true),
              QString::fromUtf8("<meta charset=gbk>中文"));
    // Declarations count only for pages.
    EXPECT_EQ(SearchableText::decode("<meta charset=gbk>" + gbk, "CP1251", false),
              QString::fromUtf8("<meta charset=gbk>ЦРОД"));
    // A declared charset that cannot decode the bytes gives way to the book's.
    EXPECT_EQ(SearchableText::decode("<meta charset=nonsense>" + gbk, "CP936", true),
              QString::fromUtf8("<meta charset=nonsense>中文"));
    EXPECT_EQ(SearchableText::decode(QByteArray("\xc3\xa9"), QString(), false),
              QString::fromUtf8("é"));
    EXPECT_EQ(SearchableText::decode(QByteArray("\xe9t\xe9"), QString(), false),
              QString::fromUtf8("été"));
}

TEST(SearchableText, APageDeclaringUtf8KeepsItsGoodTextDespiteBadBytes) {
    const QString text =
        SearchableText::decode("<meta charset=utf-8>\xc3\xa9t\xe9", "CP1251", true);
    EXPECT_TRUE(text.startsWith(QString::fromUtf8("<meta charset=utf-8>ét"))) << text.toStdString();
}

TEST(SearchableText, TextOfAPageIsItsVisibleText) {
    EXPECT_EQ(SearchableText::textOf("/a.htm", "<p>x&amp;y</p>", QString()).simplified(), "x&y");
    EXPECT_EQ(SearchableText::textOf("/a.txt", "<p>x&amp;y</p>", QString()), "<p>x&amp;y</p>");
    EXPECT_TRUE(SearchableText::textOf("/a.css", "p {}", QString()).isNull());
    EXPECT_TRUE(SearchableText::textOf("/a.htm", QByteArray(), QString()).isNull());
}
