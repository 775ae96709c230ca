// Text taken out of a PDF made from a document is the text that went in, though the CJK font
// draws an ideograph and its radical with one glyph. Read back with pdftotext.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"
#include "TypedCharacters.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace topdftest;
using conversion::TypedTextFor;

namespace {

// pdftotext's text without the page's closing form feed and blank lines.
std::string readBack(const fs::path& pdf) {
    std::string text = capture("pdftotext -enc UTF-8 " + shellQuote(pdf) + " - 2>/dev/null");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\f'))
        text.pop_back();
    return text;
}

std::string convertText(const fs::path& dir, const std::string& name, const std::string& text) {
    fs::create_directories(dir / "out");
    std::ofstream(dir / (name + ".txt"), std::ios::binary) << text;
    DocumentsToPDFOptions o;
    o.outputURL = dir / "out";
    o.jobList = {dir / (name + ".txt")};
    EXPECT_TRUE(ConvertDocumentsToPDF(&o));
    return readBack(dir / "out" / (name + ".pdf"));
}

} // namespace

TEST(TypedText, IdeographsSharingGlyphsWithRadicalsReadBackAsTyped) {
    const fs::path dir = imagetest::freshDir("typed-ideographs");
    // Each of 一 人 日 月 木 水 火 土 金 has a Kangxi radical that Noto CJK draws alike.
    const std::string text = "日本語のテキスト\n一人日月木水火土金";
    EXPECT_EQ(convertText(dir, "ideographs", text), text);
    EXPECT_TRUE(qpdfCheckPasses(dir / "out" / "ideographs.pdf"));
}

TEST(TypedText, RadicalsTypedAsRadicalsStayRadicals) {
    const fs::path dir = imagetest::freshDir("typed-radicals");
    const std::string text = "\u2F47\u2F49 radicals"; // ⽇⽉
    EXPECT_EQ(convertText(dir, "radicals", text), text);
}

TEST(TypedText, IdeographsBeyondTheBasicPlaneReadBack) {
    const fs::path dir = imagetest::freshDir("typed-extension");
    // 𠮷 (U+20BB7) and 𩸽 (U+29E3D), from CJK extension B, among ideographs of the basic plane.
    const std::string text = "𠮷野家の𩸽定食";
    EXPECT_EQ(convertText(dir, "extension", text), text);
}

TEST(TypedText, LettersDrawnAsLigaturesReadBackAsLetters) {
    const fs::path dir = imagetest::freshDir("typed-ligatures");
    EXPECT_EQ(convertText(dir, "letters", "fine office waffle"), "fine office waffle");
    // A ligature typed as such stays one.
    EXPECT_EQ(convertText(dir, "ligature", "\uFB01"), "\uFB01");
}

TEST(TypedText, GlyphNamesFollowTheDocumentsOwnCharacters) {
    struct Case {
        char32_t named;
        std::u32string text;
        std::u32string expected;
    } cases[] = {
        {U'\u2F47', U"日", U"日"},         // Kangxi radical, the text has the ideograph
        {U'\u2F47', U"", U"日"},           // neither: the ideograph is the likelier
        {U'\u2F47', U"\u2F47", U"\u2F47"}, // the text has the radical only
        {U'\u2F47', U"\u2F47日", U"日"},   // both: one glyph cannot be both
        {U'\u2E9F', U"母", U"母"},         // CJK radicals supplement with a compatibility form
        {U'\u2E85', U"", U"\u2E85"},       // a supplement radical without one stays
        {U'\uF900', U"豈", U"豈"},         // compatibility ideograph
        {U'\uFA0E', U"", U"\uFA0E"},       // a unified ideograph inside the compatibility block
        {U'\uFB01', U"fine", U"fi"},       // the ligature drawn for typed letters
        {U'\uFB03', U"office", U"ffi"},
        {U'\uFB01', U"\uFB01ne", U"\uFB01"}, // a ligature typed as such
        {U'\t', U"a b", U" "},               // the space glyph named by the tab
        {U'\t', U"a\tb", U"\t"},             // a text of tabs and no spaces keeps the tab
        {U'A', U"A", U"A"},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(TypedTextFor(c.named, c.text) == c.expected) << std::hex << unsigned(c.named);
}
