// Pixels of PDF images that came out wrong: inverted Adobe CMYK with its Decode array, and a
// soft mask beside a colour-key mask. PDFs built with qpdf, checked against pdfimages.
#include "ConversionEntries.h"
#include "PDFTestDocument.h"

#include <Magick++.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// A 16 x 16 JPEG of one CMYK colour as ImageMagick writes it: with Adobe's marker and the
// samples inverted, as Photoshop does.
std::string adobeCMYKJPEG(const std::string& colour) {
    Magick::InitializeMagick(nullptr);
    Magick::Image image(Magick::Geometry(16, 16), Magick::Color(colour));
    image.colorSpace(MagickCore::CMYKColorspace);
    image.quality(100);
    image.magick("JPEG");
    Magick::Blob blob;
    image.write(&blob);
    return std::string(static_cast<const char*>(blob.data()), blob.length());
}

} // namespace

TEST(PDFImagePixels, InvertedAdobeCMYKWithItsDecodeArrayIsInvertedOnceAsPdfimagesDoes) {
    const fs::path dir = freshDir("adobe-cmyk");
    PDFTestDocument doc;
    const std::string jpeg = adobeCMYKJPEG("cmyk(0,255,255,0)"); // red
    ASSERT_NE(jpeg.find("Adobe"), std::string::npos);
    doc.addPage({doc.image("<< /Width 16 /Height 16 /ColorSpace /DeviceCMYK /BitsPerComponent 8 "
                           "/Filter /DCTDecode /Decode [1 0 1 0 1 0 1 0] >>",
                           jpeg),
                 doc.image("<< /Width 16 /Height 16 /ColorSpace /DeviceCMYK /BitsPerComponent 8 "
                           "/Filter /DCTDecode >>",
                           jpeg)});
    doc.write(dir / "cmyk.pdf");
    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "cmyk.pdf", dir / "out", 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&options));
    ASSERT_EQ(
        run("cd " + testfiles::shellQuote(dir) + " && pdfimages -f 1 -l 1 -png cmyk.pdf oracle"),
        0);
    const PNGPicture oracle = readPNG(dir / "oracle-000.png");
    ASSERT_TRUE(oracle.ok);
    EXPECT_GT(oracle.rgba[0], 200); // red
    // With the Decode array: as pdfimages shows it. Without: the inversion is undone here.
    for (const char* name : {"cmyk_Page1_1.png", "cmyk_Page1_2.png"}) {
        SCOPED_TRACE(name);
        const PNGPicture got = readPNG(dir / "out" / name);
        ASSERT_TRUE(got.ok);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got.rgba[c], oracle.rgba[c], 40) << "channel " << c;
    }
}

// PDF gives /SMask precedence over /Mask: a colour key that would hide every pixel is ignored.
TEST(PDFImagePixels, ASoftMaskTakesPrecedenceOverAColourKeyMask) {
    const fs::path dir = freshDir("smask-over-mask");
    PDFTestDocument doc;
    const std::string grey(16, char(5)), half(16, char(128));
    QPDFObjectHandle soft =
        doc.image("<< /Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 >>", half);
    QPDFObjectHandle keyed = doc.image("<< /Width 4 /Height 4 /ColorSpace /DeviceGray "
                                       "/BitsPerComponent 8 /Mask [0 10] >>",
                                       grey);
    keyed.getDict().replaceKey("/SMask", soft);
    QPDFObjectHandle keyedOnly = doc.image("<< /Width 4 /Height 4 /ColorSpace /DeviceGray "
                                           "/BitsPerComponent 8 /Mask [0 10] >>",
                                           grey);
    doc.addPage({keyed, keyedOnly});
    doc.write(dir / "masks.pdf");
    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "masks.pdf", dir / "out", 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&options));
    const PNGPicture both = readPNG(dir / "out" / "masks_Page1_1.png");
    const PNGPicture keyOnly = readPNG(dir / "out" / "masks_Page1_2.png");
    ASSERT_TRUE(both.ok && keyOnly.ok);
    EXPECT_EQ(both.rgba[3], 128);  // the soft mask's alpha
    EXPECT_EQ(keyOnly.rgba[3], 0); // the colour key alone still hides the pixel
}
