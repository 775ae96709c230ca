// Documents to PDF, read back with pdftotext and pdfinfo; Word inputs are made by LibreOffice.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

// The words of the text, in order.
std::vector<std::string> wordsOf(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

// For each link on a page of the PDF: the page it is on, and the page its GoTo action leads to
// with the height it leads to there (-1 for a link that is no GoTo to a page of the document).
struct InternalLink {
    int page = -1;
    int target = -1;
    double top = 0;
};
std::vector<InternalLink> internalLinks(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.c_str());
    std::vector<QPDFObjectHandle> pages = q.getAllPages();
    std::vector<InternalLink> links;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        QPDFObjectHandle annotations = pages[p].getKey("/Annots");
        for (int i = 0; annotations.isArray() && i < annotations.getArrayNItems(); ++i) {
            QPDFObjectHandle a = annotations.getArrayItem(i);
            if (!a.getKey("/Subtype").isNameAndEquals("/Link"))
                continue;
            InternalLink link;
            link.page = int(p);
            QPDFObjectHandle action = a.getKey("/A");
            QPDFObjectHandle d =
                action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo")
                    ? action.getKey("/D")
                    : QPDFObjectHandle::newNull();
            for (std::size_t t = 0; d.isArray() && d.getArrayNItems() >= 4 && t < pages.size(); ++t)
                if (d.getArrayItem(0).getObjGen() == pages[t].getObjGen()) {
                    link.target = int(t);
                    link.top = d.getArrayItem(3).getNumericValue();
                }
            links.push_back(link);
        }
    }
    return links;
}

// The height of the top of the first line that holds `word`, in PDF points on its page, as
// pdftotext places it.
double topOfWord(const fs::path& pdf, int page, const std::string& word) {
    const std::string html = capture("pdftotext -bbox -f " + std::to_string(page + 1) + " -l " +
                                     std::to_string(page + 1) + " " + shellQuote(pdf) + " -");
    const std::size_t at = html.find(">" + word + "<");
    const std::size_t line = html.rfind("<word", at);
    double yMin = -1;
    if (at != std::string::npos && line != std::string::npos)
        std::sscanf(html.c_str() + html.find("yMin=\"", line), "yMin=\"%lf", &yMin);
    return yMin < 0 ? -1 : pageSizes(pdf).at(std::size_t(page)).height - yMin;
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

TEST(DocumentsToPDF, LinesWiderThanThePaperAreFittedToItWithEveryWordKept) {
    const fs::path dir = imagetest::freshDir("wide");
    std::string line;
    for (int i = 0; i < 40; ++i)
        line += "word" + std::to_string(i) + (i % 3 ? " " : "_");
    // A table wider than the paper, as its author fixed it.
    std::string table = "<table border=\"1\" width=\"1500\"><tr>";
    for (int i = 0; i < 30; ++i)
        table += "<td>cell" + std::to_string(i) + "</td>";
    writeText(dir / "wide.html",
              "<html><body><p>A paragraph of ordinary words that wraps.</p><pre>" + line +
                  "</pre><p>After the line</p>" + table + "</tr></table></body></html>");
    DocumentsToPDFOptions o;
    o.merge = true;
    o.outputURL = dir / "wide.pdf";
    o.jobList = {dir / "wide.html"};
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    const std::string text = pdfText(dir / "wide.pdf");
    for (const std::string& word : wordsOf(line))
        EXPECT_NE(text.find(word), std::string::npos) << word << " is lost";
    for (int i = 0; i < 30; ++i)
        EXPECT_NE(text.find("cell" + std::to_string(i)), std::string::npos) << i;
    // The preformatted line stays one line.
    EXPECT_NE(squeezed(text).find(squeezed(line)), std::string::npos) << text;
}

TEST(DocumentsToPDF, LinksToTheDocumentsOwnAnchorsLeadToTheirPlaces) {
    const fs::path dir = imagetest::freshDir("anchors");
    fs::create_directories(dir / "out");
    std::string html = "<html><body><p><a href=\"#INTRODUCTION\">Read the introduction</a> or "
                       "<a href=\"#late\">the ending</a> or <a href=\"#nowhere\">nothing</a>"
                       "</p>";
    for (int i = 0; i < 120; ++i)
        html += "<p>Filler paragraph " + std::to_string(i) + "</p>";
    // An empty anchor before a heading, as man pages and Doxygen write them, and an id.
    html += "<a name=\"INTRODUCTION\"></a><h2>INTRODUCTION</h2><p>Words</p>";
    for (int i = 0; i < 60; ++i)
        html += "<p>More filler " + std::to_string(i) + "</p>";
    html += "<p id=\"late\">Ending</p></body></html>";
    writeText(dir / "manual.html", html);
    DocumentsToPDFOptions o = separateInto(dir / "out", {dir / "manual.html"});
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    o.jobList = {dir / "manual.html", dir / "manual.html"};
    ASSERT_TRUE(ConvertDocumentsToPDF(&o));
    MergeFilesOptions m;
    m.merge = true;
    m.outputURL = dir / "mixed.pdf";
    m.jobList = {{kMergeFileDocument, dir / "manual.html", {}, {}}};
    ASSERT_TRUE(MergeFilesToPDF(&m));
    for (const fs::path& pdf : {dir / "out" / "manual.pdf", dir / "merged.pdf", m.outputURL}) {
        SCOPED_TRACE(pdf.filename());
        const std::vector<InternalLink> links = internalLinks(pdf);
        const std::size_t pages = pageSizes(pdf).size();
        // Per copy of the document: two links to its anchors, one to a name it lacks.
        ASSERT_EQ(links.size() % 3, 0u);
        for (std::size_t copy = 0; copy < links.size() / 3; ++copy) {
            const InternalLink& intro = links[copy * 3];
            const InternalLink& late = links[copy * 3 + 1];
            const int first = links[copy * 3].page;
            ASSERT_GE(intro.target, first + 1) << "the heading is pages later";
            EXPECT_NEAR(intro.top, topOfWord(pdf, intro.target, "INTRODUCTION"), 20);
            ASSERT_GE(late.target, intro.target);
            EXPECT_LT(std::size_t(late.target), pages);
            EXPECT_NEAR(late.top, topOfWord(pdf, late.target, "Ending"), 20);
            EXPECT_EQ(links[copy * 3 + 2].target, -1) << "a link to no anchor stays as it was";
        }
        EXPECT_TRUE(qpdfCheckPasses(pdf));
    }
    // The anchor holds no text of its own.
    EXPECT_EQ(pdfText(dir / "out" / "manual.pdf").find("\u200B"), std::string::npos);
}
