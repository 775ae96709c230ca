// Pixels of PDF images that came out wrong: inverted Adobe CMYK with its Decode array, and a
// soft mask beside a colour-key mask. PDFs built with qpdf, checked against pdfimages.
#include "ConversionEntries.h"
#include "PDFTestDocument.h"

#include <Magick++.h>
#include <gtest/gtest.h>
#include <qpdf/Pl_DCT.hh>
#include <qpdf/Pl_String.hh>

#include <fstream>
#include <iterator>

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

// libjpeg told to store CMYK transformed (YCCK) or not, with or without Adobe's marker.
class StoredAs : public Pl_DCT::CompressConfig {
public:
    StoredAs(J_COLOR_SPACE space, bool adobeMarker) : space(space), adobeMarker(adobeMarker) {}
    void apply(jpeg_compress_struct* info) override {
        jpeg_set_colorspace(info, space);
        info->write_Adobe_marker = adobeMarker ? TRUE : FALSE;
    }

private:
    J_COLOR_SPACE space;
    bool adobeMarker;
};

// 32 x 16 CMYK samples of little ink (a pale page) with a dark square in one corner.
std::string paleCMYKJPEG(J_COLOR_SPACE space, bool adobeMarker) {
    std::string pixels;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x)
            pixels += x < 8 && y < 8 ? std::string{char(200), char(40), char(40), char(100)}
                                     : std::string{char(10), char(20), char(30), char(0)};
    std::string out;
    Pl_String sink("sink", nullptr, out);
    StoredAs config(space, adobeMarker);
    Pl_DCT dct("dct", &sink, 32, 16, 4, JCS_CMYK, &config);
    dct.write(reinterpret_cast<const unsigned char*>(pixels.data()), pixels.size());
    dct.finish();
    return out;
}

double meanBrightness(const PNGPicture& p) {
    double total = 0;
    for (std::size_t i = 0; i < p.rgba.size(); ++i)
        if (i % 4 != 3)
            total += p.rgba[i];
    return total / double(p.rgba.size() / 4 * 3) / 255.0;
}

} // namespace

// CMYK JPEGs without a Decode array, stored plain or as YCCK, device or ICC-based: shown as
// stored (no ink is no ink), as pdfimages and pdftoppm show them, never as a negative.
TEST(PDFImagePixels, CMYKJPEGWithoutDecodeArrayIsShownAsStoredWhetherPlainOrYCCK) {
    const fs::path dir = freshDir("cmyk-jpeg-as-stored");
    PDFTestDocument doc;
    const std::string head = "<< /Width 32 /Height 16 /BitsPerComponent 8 /Filter /DCTDecode ";
    const std::string ycck = paleCMYKJPEG(JCS_YCCK, true);
    ASSERT_NE(ycck.find("Adobe"), std::string::npos);
    QPDFObjectHandle iccBased = doc.image(head + "/ColorSpace /DeviceCMYK >>", ycck);
    std::ifstream profileFile("/usr/share/color/icc/ghostscript/default_cmyk.icc",
                              std::ios::binary);
    const std::string profile((std::istreambuf_iterator<char>(profileFile)),
                              std::istreambuf_iterator<char>());
    if (!profile.empty()) {
        QPDFObjectHandle space = QPDFObjectHandle::newArray();
        space.appendItem(QPDFObjectHandle::newName("/ICCBased"));
        space.appendItem(doc.stream("<< /N 4 /Alternate /DeviceCMYK >>", profile));
        iccBased.getDict().replaceKey("/ColorSpace", space);
    }
    doc.addPage({
        doc.image(head + "/ColorSpace /DeviceCMYK >>", paleCMYKJPEG(JCS_CMYK, true)),
        doc.image(head + "/ColorSpace /DeviceCMYK >>", ycck),
        iccBased,
        // No marker: the filter's /ColorTransform says the samples are YCCK.
        doc.image(head + "/ColorSpace /DeviceCMYK /DecodeParms << /ColorTransform 1 >> >>",
                  paleCMYKJPEG(JCS_YCCK, false)),
    });
    doc.write(dir / "pale.pdf");
    fs::create_directories(dir / "out");
    ImageJobOptions options = testfiles::jobOptions(dir / "pale.pdf", dir / "out", 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&options));
    ASSERT_EQ(run("cd " + testfiles::shellQuote(dir) + " && pdfimages -png pale.pdf oracle"), 0);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const PNGPicture got =
            readPNG(dir / "out" / ("pale_Page1_" + std::to_string(i + 1) + ".png"));
        const PNGPicture oracle = readPNG(dir / ("oracle-00" + std::to_string(i) + ".png"));
        ASSERT_TRUE(got.ok && oracle.ok);
        EXPECT_GT(meanBrightness(oracle), 0.7);
        EXPECT_NEAR(meanBrightness(got), meanBrightness(oracle), 0.08);
        // The dark corner stays dark and the pale rest pale.
        EXPECT_LT(got.rgba[0] + got.rgba[1] + got.rgba[2], 3 * 128);
        const std::size_t pale = (std::size_t(12) * 32 + 28) * 4;
        EXPECT_GT(got.rgba[pale] + got.rgba[pale + 1] + got.rgba[pale + 2], 3 * 180);
    }
}

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
    // With the Decode array: upright. Without: as stored, inverted, as pdfimages shows it too.
    const PNGPicture stored = readPNG(dir / "oracle-001.png");
    ASSERT_TRUE(stored.ok);
    EXPECT_LT(stored.rgba[0], 100);
    for (const auto& [name, expected] :
         {std::pair{"cmyk_Page1_1.png", &oracle}, std::pair{"cmyk_Page1_2.png", &stored}}) {
        SCOPED_TRACE(name);
        const PNGPicture got = readPNG(dir / "out" / name);
        ASSERT_TRUE(got.ok);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got.rgba[c], expected->rgba[c], 40) << "channel " << c;
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
