// The font of every run of exported text, for fonts given in each way a PDF's resources allow:
// as objects of their own, directly in a font dictionary that is an object of its own or not, in
// a form's resources, and fonts the PDF does not embed. Read back from DOCX.
#include "PDFToTextTestSupport.h"
#include "TextReadBack.h"

#include <cstdio>
#include <fstream>

namespace {

std::string streamObject(const std::string& contents, const std::string& entries = "") {
    return "<< /Length " + std::to_string(contents.size()) + " " + entries + " >>\nstream\n" +
           contents + "\nendstream";
}

std::string showText(const char* font, int size, int y, const char* text) {
    return "BT /" + std::string(font) + " " + std::to_string(size) + " Tf 72 " + std::to_string(y) +
           " Td (" + text + ") Tj ET ";
}

std::string type1(const char* name) {
    return "<< /Type /Font /Subtype /Type1 /BaseFont /" + std::string(name) + " >>";
}

} // namespace

class PDFToTextFontsTest : public PDFToTextTest {};

TEST_F(PDFToTextFontsTest, EveryWayOfGivingAFontKeepsItsNameAndStyle) {
    const std::string pdf = outputPath("fonts.pdf");
    // The third page's only font is given in place in a font dictionary given in place: Poppler
    // names such a font by a hash of it, which its own scanner works out.
    const std::string page1 = showText("F1", 12, 720, "Helvetica from an object") + "/X1 Do " +
                              showText("F3", 10, 600, "Courier after the form");
    const std::string page2 = showText("FA", 12, 720, "Times from a shared dictionary") +
                              showText("FB", 12, 700, "Italic from the same dictionary");
    const std::string page3 = showText("F2", 14, 690, "Bold given in place");
    writeRawPDF(pdf,
                {
                    "<< /Type /Catalog /Pages 2 0 R >>",
                    "<< /Type /Pages /Kids [3 0 R 4 0 R 12 0 R] /Count 3 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R "
                    "/Resources << /Font << /F1 7 0 R /F3 8 0 R >> /XObject << /X1 9 0 R >> >> >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R "
                    "/Resources << /Font 10 0 R >> >>",
                    streamObject(page1),
                    streamObject(page2),
                    type1("Helvetica"),
                    type1("Courier"),
                    streamObject(showText("G1", 11, 650, "Words of the form"),
                                 "/Type /XObject /Subtype /Form /BBox [0 0 612 792] "
                                 "/Resources << /Font << /G1 11 0 R >> >>"),
                    "<< /FA " + type1("Times-Roman") + " /FB " + type1("Times-Italic") + " >>",
                    type1("Symbol-Oblique"),
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 13 0 R "
                    "/Resources << /Font << /F2 " +
                        type1("Helvetica-Bold") + " >> >> >>",
                    streamObject(page3),
                });
    PDFToTextOptions options = optionsFor(pdf);
    options.textFormat = kTextFormatDOCX;
    options.outputExtension = "docx";
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    const ReadDocument document = ReadDOCX(outputPath("Report.docx"));
    ASSERT_TRUE(document.ok);
    struct Expected {
        const char* text;
        const char* font;
        double size;
        bool bold, italic;
    };
    const Expected expected[] = {
        {"Helvetica from an object", "Helvetica", 12, false, false},
        {"Words of the form", "Symbol", 11, false, true},
        {"Courier after the form", "Courier", 10, false, false},
        {"Times from a shared dictionary", "Times", 12, false, false},
        {"Italic from the same dictionary", "Times", 12, false, true},
        {"Bold given in place", "Helvetica", 14, true, false},
    };
    for (const Expected& line : expected) {
        bool found = false;
        for (const ReadRun& run : document.runs)
            if (run.text.find(line.text) != std::string::npos) {
                found = true;
                EXPECT_EQ(run.font, line.font) << line.text;
                EXPECT_EQ(run.size, line.size) << line.text;
                EXPECT_EQ(run.bold, line.bold) << line.text;
                EXPECT_EQ(run.italic, line.italic) << line.text;
            }
        EXPECT_TRUE(found) << line.text;
    }
}
