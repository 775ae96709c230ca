// Where words of the exported text are kept apart and where they are kept together, on pages
// whose text blocks stand side by side or overlap, as pdftotext shows them.
#include "PDFToTextTestSupport.h"
#include "TestFiles.h"

#include <sstream>

namespace {

std::string words(const std::string& text) {
    std::istringstream in(text);
    std::string joined, word;
    while (in >> word)
        joined += (joined.empty() ? "" : " ") + word;
    return joined;
}

// A page of Helvetica text drawn by `content`.
void writeHelveticaPage(const std::string& path, const std::string& content) {
    writeRawPDF(
        path,
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font "
         "<< /F1 5 0 R >> >> /Contents 4 0 R >>",
         "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
}

} // namespace

class PDFToTextWordSpacingTest : public PDFToTextTest {
protected:
    std::string exported(const std::string& name, const std::string& content) {
        const std::string pdf = (m_folder / (name + ".pdf")).string();
        writeHelveticaPage(pdf, content);
        PDFToTextOptions options = optionsFor("one.pdf");
        options.inputURL = pdf;
        options.outputBaseName = name;
        EXPECT_TRUE(ConvertPDFToTextDocument(&options));
        return words(testfiles::readText(outputPath(name + ".txt")));
    }
};

// A block of small text beside a large heading, starting just after it (2 points on) or back
// inside its width: the layout makes them blocks of their own, and the words stay apart.
TEST_F(PDFToTextWordSpacingTest, WordsOfBlocksSideBySideAreKeptApart) {
    for (const int x : {270, 160}) {
        SCOPED_TRACE(x);
        const std::string body = "BT /F1 10 Tf " + std::to_string(x) +
                                 " 413 Td (translates the PostScript file) Tj ET "
                                 "BT /F1 10 Tf " +
                                 std::to_string(x) + " 399.4 Td (via an external program) Tj ET";
        const std::string text = exported("beside" + std::to_string(x),
                                          "BT /F1 36 Tf 24 395 Td (HTML Specials) Tj ET " + body);
        EXPECT_NE(text.find("Specials translates"), std::string::npos) << text;
        EXPECT_EQ(text.find("Specialstranslates"), std::string::npos) << text;
        for (const char* word : {"HTML", "the", "PostScript", "file", "via", "external"})
            EXPECT_NE((" " + text + " ").find(std::string(" ") + word + " "), std::string::npos)
                << word << " in " << text;
    }
}

// Letters the layout keeps in one line, each a word of its own without a space between (a raised
// small A kerned back under the L and over the T, as TeX sets the LaTeX logo; a change of size
// within a word), stay one word.
TEST_F(PDFToTextWordSpacingTest, LettersSetCloseOrKernedBackStayOneWord) {
    const std::string text =
        exported("logo", "BT /F1 10 Tf 72 700 Td (L) Tj 2.6 2.2 Td /F1 7 Tf (A) Tj 3.3 -2.2 Td "
                         "/F1 10 Tf (TEX) Tj ( is set) Tj ET "
                         "BT /F1 10 Tf 72 680 Td (Small) Tj /F1 7 Tf (caps) Tj ET");
    EXPECT_EQ(text, "LATEX is set Smallcaps");
}
