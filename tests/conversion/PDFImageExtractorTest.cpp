// The image extractor on PDFs made with qpdf.
#include "ConversionEntries.h"
#include "PDFTestDocument.h"

#include <gtest/gtest.h>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string grayImage(int w, int h, int seed) {
    std::string s;
    for (int i = 0; i < w * h; ++i)
        s += char((i * 7 + seed * 50) & 0xFF);
    return s;
}

QPDFObjectHandle grayXObject(PDFTestDocument& doc, int w, int h, int seed) {
    return doc.image("<< /Width " + std::to_string(w) + " /Height " + std::to_string(h) +
                         " /ColorSpace /DeviceGray /BitsPerComponent 8 >>",
                     grayImage(w, h, seed));
}

// An inline 4 x 2 RGB image with abbreviated keys and an ASCIIHex filter.
const char* kInlineImage = "q 50 0 0 25 300 300 cm BI /W 4 /H 2 /BPC 8 /CS /RGB /F /AHx ID\n"
                           "ff000000ff000000ffffffff 808080 404040 202020 101010 010101>\nEI Q\n";

// The document written as `name`.pdf into a fresh folder of that name, beside an empty "out".
fs::path written(PDFTestDocument& doc, const std::string& name) {
    const fs::path folder = freshDir(name);
    doc.write(folder / (name + ".pdf"));
    fs::create_directories(folder / "out");
    return folder;
}

} // namespace

TEST(PDFImageExtractor, XObjectsThenInlineImagesNumberedPerPage) {
    PDFTestDocument doc;
    doc.addPage({grayXObject(doc, 4, 4, 1), grayXObject(doc, 6, 3, 2)}, kInlineImage);
    doc.addPage({grayXObject(doc, 5, 5, 3)});
    const fs::path folder = written(doc, "report");
    ImageJobOptions opt = testfiles::jobOptions(folder / "report.pdf", folder / "out", 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&opt));
    EXPECT_EQ(testfiles::listFolder(folder / "out"),
              (std::vector<std::string>{"report_Page1_1.png", "report_Page1_2.png",
                                        "report_Page1_3.png", "report_Page2_1.png"}));
    // The inline image comes last and is read with its abbreviations.
    const PNGPicture inlinePicture = readPNG(folder / "out" / "report_Page1_3.png");
    ASSERT_TRUE(inlinePicture.ok);
    EXPECT_EQ(inlinePicture.width, 4);
    EXPECT_EQ(inlinePicture.height, 2);
    EXPECT_EQ(inlinePicture.rgba[0], 255);
    EXPECT_EQ(inlinePicture.rgba[1], 0);
    EXPECT_EQ(inlinePicture.rgba[4 * 1 + 1], 255);
    EXPECT_EQ(readPNG(folder / "out" / "report_Page1_2.png").width, 6);
}

TEST(PDFImageExtractor, FormsAreWalkedAndAFormThatDrawsItselfTerminates) {
    PDFTestDocument doc;
    QPDFObjectHandle form = doc.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] >>",
                                       std::string("/Self Do /Pic Do ") + kInlineImage);
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Self", form);
    xobjects.replaceKey("/Pic", grayXObject(doc, 3, 3, 4));
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    form.getDict().replaceKey("/Resources", resources);
    doc.addPage({form});
    const fs::path folder = written(doc, "loop");
    ImageJobOptions opt = testfiles::jobOptions(folder / "loop.pdf", folder / "out", 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&opt));
    // The form's picture once, then the inline image it draws.
    EXPECT_EQ(testfiles::listFolder(folder / "out"),
              (std::vector<std::string>{"loop_Page1_1.png", "loop_Page1_2.png"}));
    EXPECT_EQ(readPNG(folder / "out" / "loop_Page1_2.png").width, 4);
}

TEST(PDFImageExtractor, InheritedResourcesAreFound) {
    PDFTestDocument doc;
    doc.addPage({grayXObject(doc, 2, 2, 5)});
    // Move the page's resources up to the page tree node.
    QPDFObjectHandle page = QPDFPageDocumentHelper(doc.pdf).getAllPages()[0].getObjectHandle();
    QPDFObjectHandle resources = page.getKey("/Resources");
    page.removeKey("/Resources");
    doc.pdf.getRoot().getKey("/Pages").replaceKey("/Resources", resources);
    const fs::path folder = written(doc, "inherit");
    ImageJobOptions opt = testfiles::jobOptions(folder / "inherit.pdf", folder / "out", 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&opt));
    EXPECT_EQ(testfiles::listFolder(folder / "out"),
              (std::vector<std::string>{"inherit_Page1_1.png"}));
}

TEST(PDFImageExtractor, PageRangesProgressCancellationAndNames) {
    PDFTestDocument doc;
    for (int p = 0; p < 12; ++p)
        doc.addPage({grayXObject(doc, 2, 2, p)});
    const fs::path folder = written(doc, "book");
    const fs::path out = folder / "out";
    ImageJobOptions opt = testfiles::jobOptions(folder / "book.pdf", out, 7);
    opt.pageRangeMode = 1;
    opt.firstPage = 0;
    EXPECT_FALSE(ExtractImagesFromPDF(&opt));
    opt.firstPage = 13;
    EXPECT_FALSE(ExtractImagesFromPDF(&opt));
    EXPECT_TRUE(testfiles::listFolder(out).empty());
    opt.firstPage = 12;
    opt.outputBaseName = "named";
    EXPECT_TRUE(ExtractImagesFromPDF(&opt));
    EXPECT_EQ(testfiles::listFolder(out), (std::vector<std::string>{"named_Page12_1.png"}));
    // Pages 10 to the end, with progress.
    testfiles::ProgressRecorder progress;
    opt.pageRangeMode = 2;
    opt.firstPage = 10;
    opt.lastPage = 0;
    opt.progressTarget = &progress;
    opt.progressSelector = true;
    opt.replaceExisting = true;
    EXPECT_TRUE(ExtractImagesFromPDF(&opt));
    EXPECT_EQ(progress.reports, (std::vector<std::int64_t>{10, 11, 12}));
    EXPECT_EQ(testfiles::listFolder(out).size(), 3u);
    // Without replaceExisting an existing name is kept and a numbered one chosen.
    opt.replaceExisting = false;
    opt.pageRangeMode = 1;
    opt.firstPage = 12;
    opt.progressTarget = nullptr;
    EXPECT_TRUE(ExtractImagesFromPDF(&opt));
    EXPECT_EQ(testfiles::listFolder(out).size(), 4u);
    // Cancelled after two pages: true, and only those pages written.
    const fs::path cancelled = folder / "cancelled";
    fs::create_directories(cancelled);
    testfiles::ProgressRecorder cancel;
    cancel.cancelAfterReports = 2;
    ImageJobOptions c = testfiles::jobOptions(folder / "book.pdf", cancelled, 7);
    c.progressTarget = &cancel;
    c.progressSelector = true;
    EXPECT_TRUE(ExtractImagesFromPDF(&c));
    EXPECT_EQ(testfiles::listFolder(cancelled),
              (std::vector<std::string>{"book_Page1_1.png", "book_Page2_1.png"}));
}

TEST(PDFImageExtractor, DamagedStreamsAreSkippedAndTheLastOutcomeIsTheResult) {
    PDFTestDocument doc;
    QPDFObjectHandle good = grayXObject(doc, 4, 4, 1);
    // Flate data that is not deflate, a width of zero, a colour space that does not exist,
    // a huge width, an indexed table shorter than hival, a Decode array with too few values.
    QPDFObjectHandle badFlate = doc.image(
        "<< /Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode >>",
        "garbage garbage garbage");
    QPDFObjectHandle zero =
        doc.image("<< /Width 0 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 >>", "abcd");
    QPDFObjectHandle huge = doc.image(
        "<< /Width 2000000000 /Height 2000000000 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>",
        "abcd");
    QPDFObjectHandle shortTable = doc.image(
        "<< /Width 4 /Height 1 /BitsPerComponent 8 /ColorSpace [/Indexed /DeviceRGB 200 <ff00>] "
        "/Decode [0] >>",
        std::string("\x00\x10\x80\xff", 4));
    QPDFObjectHandle shortData =
        doc.image("<< /Width 64 /Height 64 /ColorSpace /DeviceRGB /BitsPerComponent 16 >>", "xy");
    doc.addPage({good, badFlate, zero, huge});
    doc.addPage({shortTable, shortData});
    const fs::path folder = written(doc, "damaged");
    ImageJobOptions opt = testfiles::jobOptions(folder / "damaged.pdf", folder / "out", 7);
    // The last image on the last page decodes (its missing rows are blank): the run succeeds.
    EXPECT_TRUE(ExtractImagesFromPDF(&opt));
    EXPECT_EQ(testfiles::listFolder(folder / "out"),
              (std::vector<std::string>{"damaged_Page1_1.png", "damaged_Page2_1.png",
                                        "damaged_Page2_2.png"}));
    // Page 1 alone ends with an image that cannot be decoded: the run reports failure.
    opt.pageRangeMode = 1;
    opt.firstPage = 1;
    opt.replaceExisting = true;
    EXPECT_FALSE(ExtractImagesFromPDF(&opt));
}

TEST(PDFImageExtractor, InputsThatCannotBeOpenedGiveFalse) {
    const fs::path folder = freshDir("badinput");
    std::ofstream(folder / "not.pdf") << "this is not a PDF";
    ImageJobOptions opt = testfiles::jobOptions(folder / "not.pdf", folder, 7);
    EXPECT_FALSE(ExtractImagesFromPDF(&opt));
    ImageJobOptions missing = testfiles::jobOptions(folder / "missing.pdf", folder, 7);
    EXPECT_FALSE(ExtractImagesFromPDF(&missing));
    EXPECT_FALSE(ExtractImagesFromPDF(nullptr));
    ImageJobOptions noOutput = testfiles::jobOptions(folder / "not.pdf", "", 7);
    EXPECT_FALSE(ExtractImagesFromPDF(&noOutput));
}

TEST(PDFImageExtractor, ConvtoolPdfImagesRunsTheEntry) {
    PDFTestDocument doc;
    doc.addPage({grayXObject(doc, 4, 4, 1), grayXObject(doc, 4, 4, 2)});
    const fs::path folder = written(doc, "in");
    const std::string tool = LUMENO_CONVTOOL;
    EXPECT_EQ(run(tool + " pdf-images '" + (folder / "in.pdf").string() + "' '" +
                  (folder / "out").string() + "' -base x > /dev/null"),
              0);
    EXPECT_EQ(testfiles::listFolder(folder / "out"),
              (std::vector<std::string>{"x_Page1_1.png", "x_Page1_2.png"}));
    EXPECT_EQ(run(tool + " pdf-images -format nonsense a b 2>/dev/null"), 2);
    // Another format through the image job's encoders: JPEG files.
    fs::create_directories(folder / "jpeg");
    EXPECT_EQ(run(tool + " pdf-images -format jpg '" + (folder / "in.pdf").string() + "' '" +
                  (folder / "jpeg").string() + "'"),
              0);
    EXPECT_EQ(testfiles::listFolder(folder / "jpeg"),
              (std::vector<std::string>{"in_Page1_1.jpg", "in_Page1_2.jpg"}));
    EXPECT_EQ(run(tool + " pdf-images '" + (folder / "in.pdf").string() + "' '" +
                  (folder / "nowhere").string() + "' 2>/dev/null"),
              1);
    EXPECT_EQ(run(tool + " pdf-images -h > /dev/null"), 0);
}
