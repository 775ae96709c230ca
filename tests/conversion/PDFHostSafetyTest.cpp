// PDFs built with qpdf that once took the host down or ran without bound: calculator functions
// nested past the stack, and calculator functions too long to run on every pixel.
#include "ConversionEntries.h"
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

} // namespace

// Poppler parses calculator programs one call per brace: 200,000 braces ran it off the stack.
// The deep function may sit in a shading, a form, or an annotation's appearance.
TEST(PDFHostSafety, PagesWithCalculatorFunctionsNestedTooDeepFailAndTheOthersRender) {
    const fs::path dir = freshDir("deep-function");
    PDFTestDocument doc;
    const std::string deep(200000, '{');
    addShadedPage(doc, calculator(doc, nestedProgram(4), 1));
    addShadedPage(doc, calculator(doc, deep, 1));
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
    doc.write(dir / "deep.pdf");
    EXPECT_LT(fs::file_size(dir / "deep.pdf"), 8000u);

    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "deep.pdf", dir / "out", 7);
    options.dpi = 36;
    EXPECT_FALSE(ConvertPDFToImages(&options)); // pages failed
    const std::vector<std::string> names = testfiles::listFolder(dir / "out");
    EXPECT_EQ(names, (std::vector<std::string>{"deep-1.png"}));
}
