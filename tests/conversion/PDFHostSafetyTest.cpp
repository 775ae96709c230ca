// PDFs built with qpdf that once took the host down or ran without bound: calculator functions
// nested past the stack, and calculator functions too long to run on every pixel.
#include "ConversionEntries.h"
#include "PDFColorSpace.h"
#include "PDFTestDocument.h"

#include <gtest/gtest.h>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace fs = std::filesystem;

namespace {

// A FunctionType 4 program nested `depth` levels deep; valid as a program for small depths.
std::string nestedProgram(int depth) {
    std::string text = "{ ";
    for (int i = 1; i < depth; ++i)
        text += "true { ";
    text += "pop 0.5";
    for (int i = 1; i < depth; ++i)
        text += " } if";
    return text + " }";
}

QPDFObjectHandle calculator(PDFTestDocument& doc, const std::string& program, int outputs) {
    std::string range;
    for (int i = 0; i < outputs; ++i)
        range += "0 1 ";
    return doc.stream("<< /FunctionType 4 /Domain [0 1] /Range [" + range +
                          "] /Filter /FlateDecode >>",
                      flate(program));
}

// A page that paints an axial shading driven by `function` over its lower half, and a rectangle.
QPDFObjectHandle addShadedPage(PDFTestDocument& doc, QPDFObjectHandle function) {
    QPDFObjectHandle page = doc.addPage({}, "/Sh1 sh 0 0 1 rg 10 10 20 20 re f\n");
    QPDFObjectHandle shading = QPDFObjectHandle::parse(
        "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 612 0] /Extend [true true] >>");
    shading.replaceKey("/Function", function);
    QPDFObjectHandle shadings = QPDFObjectHandle::newDictionary();
    shadings.replaceKey("/Sh1", shading);
    page.getKey("/Resources").replaceKey("/Shading", shadings);
    return page;
}

// A calculator program of about `operations` operations that maps its inputs to their mean.
std::string longProgram(int inputs, int operations) {
    std::string text = "{ ";
    for (int i = 1; i < inputs; ++i)
        text += "add ";
    text += std::to_string(inputs) + " div";
    for (int done = inputs + 1; done < operations; done += 2)
        text += " dup pop";
    return text + " }";
}

// A 2-input DeviceN colour space over DeviceGray whose tint transform is `program`.
std::shared_ptr<PDFColorSpace> deviceNSpace(PDFTestDocument& doc, const std::string& program) {
    QPDFObjectHandle array = QPDFObjectHandle::parse("[/DeviceN [/A /B] /DeviceGray null]");
    array.setArrayItem(3,
                       doc.stream("<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1] >>", program));
    return CreateColorSpaceFromPDF(array, QPDFObjectHandle::newNull());
}

} // namespace

// Poppler parses calculator programs one call per brace: 200,000 braces ran it off the stack.
// The deep function may sit in a shading, a form, or an annotation's appearance. Programs longer
// than one evaluation may run are refused too.
TEST(PDFHostSafety, PagesWithCalculatorFunctionsNestedTooDeepFailAndTheOthersRender) {
    const fs::path dir = freshDir("deep-function");
    PDFTestDocument doc;
    const std::string deep(200000, '{');
    QPDFObjectHandle shallow = calculator(doc, nestedProgram(4), 1);
    QPDFObjectHandle deepFunction = calculator(doc, deep, 1);
    addShadedPage(doc, shallow);
    addShadedPage(doc, deepFunction);
    // A form drawing a DeviceN fill whose tint transform is deep.
    QPDFObjectHandle form =
        doc.stream("<< /Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources << /ColorSpace "
                   "<< /CS1 [/Separation /Spot /DeviceGray null] >> >> >>",
                   "/CS1 cs 1 scn 0 0 50 50 re f");
    form.getDict()
        .getKey("/Resources")
        .getKey("/ColorSpace")
        .getKey("/CS1")
        .setArrayItem(3, calculator(doc, deep, 1));
    doc.addPage({form});
    // An annotation whose appearance uses a deep transfer function.
    QPDFObjectHandle appearance = doc.stream(
        "<< /Type /XObject /Subtype /Form /BBox [0 0 50 50] /Resources << /ExtGState << /G1 << "
        "/TR null >> >> >> >>",
        "/G1 gs 0 g 0 0 50 50 re f");
    appearance.getDict()
        .getKey("/Resources")
        .getKey("/ExtGState")
        .getKey("/G1")
        .replaceKey("/TR", calculator(doc, deep, 1));
    QPDFObjectHandle annotated = doc.addPage({});
    QPDFObjectHandle annotation =
        QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Square /Rect [100 100 150 150] >>");
    annotation.replaceKey("/AP", QPDFObjectHandle::newDictionary());
    annotation.getKey("/AP").replaceKey("/N", appearance);
    annotated.replaceKey("/Annots", QPDFObjectHandle::newArray({annotation}));
    // Not deep but long: Poppler would run all of it for every colour it needs.
    addShadedPage(doc, calculator(doc, longProgram(1, 2 * kPSMaxOperationsPerEvaluation), 1));
    // Functions shared with earlier pages: what was refused stays refused, what was found safe
    // stays safe.
    addShadedPage(doc, deepFunction);
    addShadedPage(doc, shallow);
    doc.write(dir / "deep.pdf");

    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "deep.pdf", dir / "out", 7);
    options.dpi = 36;
    EXPECT_TRUE(ConvertPDFToImages(&options)); // the result is the last page's
    const std::vector<std::string> names = testfiles::listFolder(dir / "out");
    EXPECT_EQ(names, (std::vector<std::string>{"deep-1.png", "deep-7.png"}));
}

// A calculator function of two million operations on a 1000 x 1000 image ran for hours: one
// evaluation may run 100,000 operations, and the image that needs more is skipped.
TEST(PDFHostSafety, ImagesWhoseColourFunctionRunsPastItsBudgetAreSkipped) {
    const fs::path dir = freshDir("long-function");
    PDFTestDocument doc;
    std::string tints;
    for (int i = 0; i < 200 * 200; ++i)
        tints += char(i % 251);
    QPDFObjectHandle slow = doc.image(
        "<< /Width 200 /Height 200 /BitsPerComponent 8 /ColorSpace /DeviceGray >>", tints);
    QPDFObjectHandle space = QPDFObjectHandle::parse("[/Separation /Spot /DeviceGray null]");
    QPDFObjectHandle function =
        calculator(doc, longProgram(1, 2 * kPSMaxOperationsPerEvaluation), 1);
    space.setArrayItem(3, function);
    slow.getDict().replaceKey("/ColorSpace", space);
    QPDFObjectHandle quick = doc.image(
        "<< /Width 100 /Height 400 /BitsPerComponent 8 /ColorSpace /DeviceGray >>", tints);
    QPDFObjectHandle quickSpace = QPDFObjectHandle::parse("[/Separation /Spot /DeviceGray null]");
    quickSpace.setArrayItem(3, calculator(doc, longProgram(1, 40), 1));
    quick.getDict().replaceKey("/ColorSpace", quickSpace);
    doc.addPage({slow, quick});
    doc.write(dir / "long.pdf");
    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "long.pdf", dir / "out", 7);
    EXPECT_TRUE(ExtractImagesFromPDF(&options)); // the last image was written
    ASSERT_EQ(testfiles::listFolder(dir / "out"), (std::vector<std::string>{"long_Page1_1.png"}));
    EXPECT_EQ(readPNG(dir / "out" / "long_Page1_1.png").width, 100); // the quick one
}

// Each image has a total: a short function applied to many distinct colours stops there.
TEST(PDFHostSafety, TintTransformsStopAtTheImagesTotalBudgetWithAMessage) {
    PDFTestDocument doc;
    const auto space = deviceNSpace(doc, longProgram(2, 50));
    ASSERT_TRUE(space);
    std::vector<std::uint8_t> samples;
    for (int a = 0; a < 64; ++a)
        for (int b = 0; b < 64; ++b)
            samples.insert(samples.end(), {std::uint8_t(a * 4), std::uint8_t(b * 4)});
    std::vector<std::uint8_t> out;
    std::string reason;
    // 4096 colours of about 50 operations each.
    EXPECT_FALSE(applyTintTransform(*space, samples, out, &reason, 100000));
    EXPECT_EQ(reason, "the colour function of this image needs more than 100000 operations in all");
    reason.clear();
    ASSERT_TRUE(applyTintTransform(*space, samples, out, &reason, 1000000)) << reason;
    ASSERT_EQ(out.size(), 4096u);
    EXPECT_EQ(out[0], 0);
    EXPECT_NEAR(out[4095], (252 + 252) / 2, 1);
}

// A calculator program nested 150 deep (Poppler draws it) gives its colours to the extracted
// picture, in a Separation space and through an Indexed palette over one, and the page it is on
// is drawn. A program the calculator refuses refuses its picture with a message, never drawing
// it with an empty function, also when it colours a palette.
TEST(PDFHostSafety, DeeplyNestedCalculatorProgramsGiveTheirColoursAndRefusedOnesRefuseThePicture) {
    const fs::path dir = freshDir("nested-150");
    PDFTestDocument doc;
    // 0.25 whatever the tint: grey 64, where an empty function would leave the tint (128).
    std::string deep = "{ pop ";
    for (int i = 1; i < 150; ++i)
        deep += "true { ";
    deep += "0.25";
    for (int i = 1; i < 150; ++i)
        deep += " } if";
    deep += " }";
    auto separation = [&](const std::string& program) {
        QPDFObjectHandle space = QPDFObjectHandle::parse("[/Separation /Spot /DeviceGray null]");
        space.setArrayItem(3, calculator(doc, program, 1));
        return space;
    };
    auto picture = [&](QPDFObjectHandle space, char sample) {
        QPDFObjectHandle image =
            doc.image("<< /Width 8 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceGray >>",
                      std::string(64, sample));
        image.getDict().replaceKey("/ColorSpace", space);
        return image;
    };
    auto palette = [&](QPDFObjectHandle base) {
        QPDFObjectHandle indexed = QPDFObjectHandle::parse("[/Indexed null 1 <0080>]");
        indexed.setArrayItem(1, base);
        return indexed;
    };
    const std::string refused(kPSMaxProgramOperations + 10, '{');
    doc.addPage({picture(separation(deep), char(128)), picture(palette(separation(deep)), 1)});
    doc.addPage(
        {picture(separation(refused), char(128)), picture(palette(separation(refused)), 1)});
    doc.write(dir / "nested.pdf");

    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "nested.pdf", dir / "out", 7);
    testing::internal::CaptureStderr();
    ExtractImagesFromPDF(&options);
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testfiles::listFolder(dir / "out"),
              (std::vector<std::string>{"nested_Page1_1.png", "nested_Page1_2.png"}));
    for (const char* name : {"nested_Page1_1.png", "nested_Page1_2.png"}) {
        const PNGPicture p = readPNG(dir / "out" / name);
        ASSERT_TRUE(p.ok) << name;
        EXPECT_NEAR(p.rgba[0], 64, 1) << name;
    }
    EXPECT_NE(messages.find("page 2"), std::string::npos) << messages;
    EXPECT_NE(messages.find("operations"), std::string::npos) << messages;

    fs::create_directories(dir / "pages");
    ImageJobOptions pages = testfiles::jobOptions(dir / "nested.pdf", dir / "pages", 7);
    pages.pageRangeMode = 1;
    pages.firstPage = 1;
    pages.dpi = 36;
    EXPECT_TRUE(ConvertPDFToImages(&pages));
    EXPECT_EQ(testfiles::listFolder(dir / "pages"), (std::vector<std::string>{"nested.png"}));
}
