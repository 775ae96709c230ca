// Each text format read back by another program and compared with pdftotext of the same pages.
#include "PDFPageTextReader.h"
#include "PDFToTextTestSupport.h"
#include "TestSupport.h"
#include "TextReadBack.h"

#include <cstdlib>

namespace {

// Sets PATH for the life of the object.
class PathOverride {
public:
    explicit PathOverride(const std::string& value) {
        if (const char* old = std::getenv("PATH"))
            m_old = old;
        setenv("PATH", value.c_str(), 1);
    }
    ~PathOverride() { setenv("PATH", m_old.c_str(), 1); }

private:
    std::string m_old;
};

} // namespace

class PDFToTextFormatTest : public PDFToTextTest {
protected:
    // Converts pages 2-4 of the twelve-page PDF into one document of the format.
    std::string convert(int format, const std::string& extension) {
        PDFToTextOptions options = optionsFor("twelve.pdf");
        options.textFormat = format;
        options.outputExtension = extension;
        options.pageRangeMode = kPageRangeFromTo;
        options.firstPage = 2;
        options.lastPage = 4;
        EXPECT_TRUE(ConvertPDFToTextDocument(&options));
        return outputPath("Report." + extension);
    }
    std::string expected() const {
        return NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 2, 4));
    }
    // The text as pdftotext reads it, headings bold (and in DejaVu Sans 16 for `everyHeading`, or
    // at least one of them), the closing lines italic.
    void expectStyledText(const ReadDocument& document, bool everyHeading) const {
        ASSERT_TRUE(document.ok);
        EXPECT_EQ(NormalizeSpace(document.text), expected());
        for (const std::string page : {"2", "3", "4"}) {
            EXPECT_TRUE(HasRun(document, "Chapter " + page, true, false)) << page;
            EXPECT_FALSE(HasRun(document, "Chapter " + page, false, false)) << page;
            EXPECT_TRUE(HasRun(document, "End of page " + page + " in italics", false, true));
        }
        int headings = 0, styled = 0;
        for (const ReadRun& run : document.runs)
            if (run.text.find("Chapter") != std::string::npos) {
                ++headings;
                styled += run.font.find("DejaVuSans") == 0 && run.size == 16 &&
                          (!everyHeading || run.font == "DejaVuSans");
            }
        EXPECT_TRUE(everyHeading ? styled == headings : styled > 0) << styled << "/" << headings;
    }
};

TEST_F(PDFToTextFormatTest, PlainTextInUTF8AndUTF16MatchesPdftotext) {
    const std::string utf8 = convert(kTextFormatUTF8, "txt");
    const std::string bytes = testfiles::readText(utf8);
    EXPECT_NE(bytes.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte-order mark in UTF-8";
    EXPECT_EQ(NormalizeSpace(bytes), expected());
    EXPECT_NE(bytes.find("Größe"), std::string::npos);

    const std::string utf16 = convert(kTextFormatUTF16, "utf16");
    EXPECT_EQ(NormalizeSpace(ReadUTF16File(utf16)), expected());
}

TEST_F(PDFToTextFormatTest, RTFAndRTFDKeepTextFontsAndStyles) {
    expectStyledText(ReadRTF(convert(kTextFormatRTF, "rtf")), false);

    const std::string rtfd = convert(kTextFormatRTFD, "rtfd");
    ASSERT_TRUE(std::filesystem::is_directory(rtfd));
    EXPECT_EQ(testfiles::readText(rtfd + "/TXT.rtf"),
              testfiles::readText(outputPath("Report.rtf")));
}

TEST_F(PDFToTextFormatTest, DOCXKeepsTextFontsAndStyles) {
    const std::string path = convert(kTextFormatDOCX, "docx");
    int status = 0;
    testfiles::capture("unzip -tq " + testfiles::shellQuote(path) + " >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0) << "a sound ZIP archive";
    expectStyledText(ReadDOCX(path), true);
}

TEST_F(PDFToTextFormatTest, ODTKeepsTextFontsStylesAndItsPackageLayout) {
    const std::string path = convert(kTextFormatODT, "odt");
    std::string first;
    int method = -1;
    ASSERT_TRUE(FirstZipEntry(path, first, method));
    EXPECT_EQ(first, "mimetype");
    EXPECT_EQ(method, 0) << "stored, not compressed";
    EXPECT_EQ(testfiles::capture("unzip -p " + testfiles::shellQuote(path) + " mimetype"),
              "application/vnd.oasis.opendocument.text");
    expectStyledText(ReadODT(path), true);
}

TEST_F(PDFToTextFormatTest, WordDocumentReadsBackThroughLibreOffice) {
    REQUIRE_TOOL(HaveLibreOffice(), "LibreOffice (soffice)");
    const std::string path = convert(kTextFormatDoc, "doc");
    // An OLE2 compound file, as Word 97 writes.
    EXPECT_EQ(testfiles::readText(path).substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    std::string text;
    ASSERT_TRUE(LibreOfficeText(path, text));
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    EXPECT_EQ(NormalizeSpace(text), expected());
    // No LibreOffice process or profile is left behind.
    for (const std::string& name : outputNames())
        EXPECT_EQ(name, "Report.doc");
}

TEST_F(PDFToTextFormatTest, WithoutLibreOfficeOnlyWordOutputFails) {
    ASSERT_FALSE(TestPDF("twelve.pdf").empty()); // made while the tools are in reach
    const std::filesystem::path emptyBin = m_folder / "bin";
    std::filesystem::create_directory(emptyBin);
    PathOverride path(emptyBin.string());
    PDFToTextOptions options = optionsFor("twelve.pdf");
    options.outputFolderURL = m_folder / "out";
    std::filesystem::create_directory(options.outputFolderURL);
    options.textFormat = kTextFormatDoc;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ConvertPDFToTextDocument(&options));
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("LibreOffice"), std::string::npos) << message;
    EXPECT_TRUE(std::filesystem::is_empty(options.outputFolderURL));

    for (int format : {kTextFormatUTF8, kTextFormatUTF16, kTextFormatRTF, kTextFormatRTFD,
                       kTextFormatDOCX, kTextFormatODT}) {
        options.textFormat = format;
        options.outputExtension = "f" + std::to_string(format);
        EXPECT_TRUE(ConvertPDFToTextDocument(&options)) << format;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(options.outputFolderURL),
                            std::filesystem::directory_iterator()),
              6);
}

TEST(PDFFontNames, NamesOfCommonProducersGiveFamilyWeightAndSlant) {
    using conversion::styleFromFontName;
    using conversion::TextStyle;
    // Word's, TeX's, the base 14 and comma-styled names; subset prefixes go.
    EXPECT_EQ(styleFromFontName("BCDEEE+Arial-BoldItalicMT"), (TextStyle{"Arial", 0, true, true}));
    EXPECT_EQ(styleFromFontName("ArialMT"), (TextStyle{"ArialMT", 0, false, false}));
    EXPECT_EQ(styleFromFontName("Times-Roman"), (TextStyle{"Times", 0, false, false}));
    EXPECT_EQ(styleFromFontName("Helvetica-Oblique"), (TextStyle{"Helvetica", 0, false, true}));
    EXPECT_EQ(styleFromFontName("Verdana,Bold"), (TextStyle{"Verdana", 0, true, false}));
    EXPECT_EQ(styleFromFontName("QJKZPA+LMRoman10-Regular"),
              (TextStyle{"LMRoman10", 0, false, false}));
    // A name in a legacy CJK encoding gives no family rather than bytes no writer can hold.
    EXPECT_EQ(styleFromFontName("\xcb\xce\xcc\xe5"), TextStyle{});
}
