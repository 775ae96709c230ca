// Documents to PDF, read back with pdftotext and pdfinfo; Word inputs are made by LibreOffice.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

void writeText(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

DocumentsToPDFOptions separateInto(const fs::path& folder, std::vector<fs::path> inputs) {
    DocumentsToPDFOptions o;
    o.outputURL = folder;
    o.jobList = std::move(inputs);
    return o;
}

std::string squeezed(std::string text) {
    std::string out;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += c;
    return out;
}

} // namespace

TEST(DocumentsToPDF, PlainTextInEveryEncodingAndHTMLAndWebArchivesReadBack) {
    const fs::path dir = imagetest::freshDir("texts");
    fs::create_directories(dir / "out");
    writeText(dir / "utf8.txt", "Grüße aus Köln, plain UTF-8");
    writeText(dir / "bom.txt", "\xEF\xBB\xBFThe BOM stays unseen");
    writeText(dir / "utf16.txt", std::string("\xFF\xFE"
                                             "W\0i\0d\0e\0 \0t\0e\0x\0t\0",
                                             20));
    // Windows-1252 with curly quotes: not UTF-8, so the detector decides.
    writeText(dir / "latin.txt", "Caf\xE9 cr\xE8me br\xFBl\xE9\x65 \x93quoted\x94 in a longer "
                                 "sentence of French words: \xE9t\xE9, \xE0 la fen\xEAtre.");
    writeText(dir / "page.html", "<html><body><h1>Heading here</h1><p>Body <b>bold</b></p>"
                                 "</body></html>");
    writeText(dir / "saved.webarchive",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
              "<key>WebMainResource</key><dict><key>WebResourceData</key><data>"
              "PGh0bWw+PGJvZHk+PHA+QXJjaGl2ZWQgcGFnZTwvcD48L2JvZHk+PC9odG1sPg==</data>"
              "<key>WebResourceMIMEType</key><string>text/html</string></dict></dict></plist>");
    DocumentsToPDFOptions o =
        separateInto(dir / "out", {dir / "utf8.txt", dir / "bom.txt", dir / "utf16.txt",
                                   dir / "latin.txt", dir / "page.html", dir / "saved.webarchive"});
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    EXPECT_NE(pdfText(dir / "out" / "utf8.pdf").find("Grüße aus Köln"), std::string::npos);
    const std::string bom = pdfText(dir / "out" / "bom.pdf");
    EXPECT_EQ(bom.find("\xEF\xBB\xBF"), std::string::npos);
    EXPECT_NE(bom.find("The BOM stays unseen"), std::string::npos);
    EXPECT_NE(pdfText(dir / "out" / "utf16.pdf").find("Wide text"), std::string::npos);
    const std::string latin = pdfText(dir / "out" / "latin.pdf");
    EXPECT_NE(latin.find("Café crème"), std::string::npos) << latin;
    const std::string html = pdfText(dir / "out" / "page.pdf");
    EXPECT_NE(html.find("Heading here"), std::string::npos);
    EXPECT_EQ(html.find("<h1>"), std::string::npos);
    EXPECT_NE(pdfText(dir / "out" / "saved.pdf").find("Archived page"), std::string::npos);
    EXPECT_TRUE(qpdfCheckPasses(dir / "out" / "page.pdf"));
}

TEST(DocumentsToPDF, RTFAndWordAndOpenDocumentInputsReadBackThroughLibreOffice) {
    const fs::path dir = imagetest::freshDir("office");
    writeText(dir / "styled.rtf", "{\\rtf1\\ansi{\\fonttbl{\\f0 Helvetica;}}\\f0 "
                                  "{\\b Document words} stay readable\\par}");
    for (const char* kind : {"doc", "docx", "odt"})
        capture("cd " + shellQuote(dir) + " && soffice -env:UserInstallation=file://" +
                dir.string() + "/profile --headless --convert-to " + kind +
                " styled.rtf >/dev/null 2>&1");
    for (const char* name : {"styled.doc", "styled.docx", "styled.odt"})
        ASSERT_TRUE(fs::exists(dir / name)) << "LibreOffice made no " << name;
    fs::create_directories(dir / "package.rtfd");
    fs::copy_file(dir / "styled.rtf", dir / "package.rtfd" / "TXT.rtf");
    DocumentsToPDFOptions o;
    o.merge = true;
    o.outputURL = dir / "all.pdf";
    o.jobList = {dir / "styled.rtf", dir / "styled.doc", dir / "styled.docx", dir / "styled.odt",
                 dir / "package.rtfd"};
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    const std::string text = pdfText(dir / "all.pdf");
    std::size_t found = 0;
    for (std::size_t at = text.find("Document words"); at != std::string::npos;
         at = text.find("Document words", at + 1))
        ++found;
    EXPECT_EQ(found, 5u) << text;
    EXPECT_EQ(pageSizes(dir / "all.pdf").size(), 5u);
}

TEST(DocumentsToPDF, LandscapeLaysTextOutAcrossTheLongSideWithTheAttributes) {
    const fs::path dir = imagetest::freshDir("landscape");
    std::string line;
    for (int i = 0; i < 30; ++i)
        line += "word" + std::to_string(i) + " ";
    writeText(dir / "long.txt", line);
    TextAttributes attributes;
    attributes.fontSize = 10;
    attributes.fontFamily = "DejaVu Sans Mono";
    DocumentsToPDFOptions o;
    o.merge = true;
    o.orientation = 1;
    o.textAttributes = &attributes;
    o.leftMargin = o.rightMargin = o.topMargin = o.bottomMargin = 36;
    o.outputURL = dir / "wide.pdf";
    o.jobList = {dir / "long.txt"};
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    const auto sizes = pageSizes(dir / "wide.pdf");
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(sizes[0].width, 792, 0.5);
    EXPECT_NEAR(sizes[0].height, 612, 0.5);
    // 30 words of 10-point monospace fit on two lines of 720 points, not on four of 540.
    const std::string text = pdfText(dir / "wide.pdf");
    EXPECT_EQ(squeezed(text), squeezed(line));
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    EXPECT_LE(lines, 3) << text;
    EXPECT_NE(capture("pdffonts " + shellQuote(dir / "wide.pdf")).find("DejaVuSansMono"),
              std::string::npos);
}

TEST(DocumentsToPDF, UnreadableDocumentsAndImpossibleLayoutsFailAndWriteNothing) {
    const fs::path dir = imagetest::freshDir("unreadable");
    fs::create_directories(dir / "out");
    imagetest::writeBytes(dir / "broken.docx", {'P', 'K', 3, 4, 0, 0, 1, 2, 3});
    writeText(dir / "fine.txt", "fine");
    DocumentsToPDFOptions o = separateInto(dir / "out", {dir / "fine.txt", dir / "missing.txt"});
    EXPECT_FALSE(ConvertDocumentsToPDF(&o));
    o.jobList = {dir / "broken.docx"};
    EXPECT_FALSE(ConvertDocumentsToPDF(&o));
    EXPECT_EQ(imagetest::listFolder(dir / "out"), (std::vector<std::string>{"fine.pdf"}));
    o.jobList = {dir / "fine.txt"};
    o.leftMargin = o.rightMargin = 400;
    EXPECT_FALSE(ConvertDocumentsToPDF(&o));
    o.leftMargin = -50; // clamped to 0, not wrapped round to a huge length
    o.rightMargin = 0;
    EXPECT_TRUE(ConvertDocumentsToPDF(&o));
    EXPECT_EQ(imagetest::listFolder(dir / "out").size(), 2u);
    o.merge = true;
    o.outputURL = dir / "none.pdf";
    o.jobList = {dir / "missing.txt"};
    EXPECT_FALSE(ConvertDocumentsToPDF(&o));
    EXPECT_FALSE(fs::exists(dir / "none.pdf"));
    EXPECT_EQ(imagetest::listFolder(dir).size(), 3u) << "no print or part file is left";
}

TEST(DocumentsToPDF, EmptyAndBlankDocumentsGiveOnePageLongOnesBreakAndMergesKeepTrailingBlanks) {
    const fs::path dir = imagetest::freshDir("pages");
    fs::create_directories(dir / "out");
    writeText(dir / "empty.txt", "");
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "Line " + std::to_string(i) + "\n";
    writeText(dir / "many.txt", many);
    // Empty lines that run over onto a second page leave it blank.
    writeText(dir / "tail.txt", "Only the first page has words\n" + std::string(120, '\n'));
    writeText(dir / "void.txt", std::string(120, '\n'));
    DocumentsToPDFOptions o = separateInto(
        dir / "out", {dir / "empty.txt", dir / "many.txt", dir / "tail.txt", dir / "void.txt"});
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    EXPECT_EQ(pageSizes(dir / "out" / "empty.pdf").size(), 1u);
    EXPECT_GE(pageSizes(dir / "out" / "many.pdf").size(), 3u);
    const std::string text = pdfText(dir / "out" / "many.pdf");
    EXPECT_NE(text.find("Line 0"), std::string::npos);
    EXPECT_NE(text.find("Line 199"), std::string::npos);
    EXPECT_EQ(pageSizes(dir / "out" / "tail.pdf").size(), 1u);
    EXPECT_EQ(pageSizes(dir / "out" / "void.pdf").size(), 1u) << "an all-blank document keeps one";
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    o.jobList = {dir / "tail.txt"};
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    EXPECT_GE(pageSizes(dir / "merged.pdf").size(), 2u);
}
