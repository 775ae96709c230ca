// The extractor's pictures against Poppler's pdfimages -png for the same PDF, pixel by pixel.
#include "Bitmap.h"
#include "ConversionEntries.h"
#include "JPEG2000Codec.h"
#include "PDFTestDocument.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <qpdf/Pl_DCT.hh>
#include <qpdf/Pl_String.hh>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool havePdfimages() {
    return run("pdfimages -v >/dev/null 2>&1") == 0;
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += char(v);
    return s;
}

// w x h samples of `components` bytes: a pattern that varies along both axes and per component.
std::string pattern(int w, int h, int components, int bits = 8) {
    std::string s;
    for (int y = 0; y < h; ++y) {
        int bitPos = 0;
        unsigned acc = 0;
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < components; ++c) {
                const unsigned full = unsigned((x * 37 + y * 23 + c * 71) * (c + 1)) & 0xFFFF;
                if (bits == 8) {
                    s += char(full & 0xFF);
                } else if (bits == 16) {
                    s += char(full >> 8);
                    s += char(full & 0xFF);
                } else {
                    const unsigned v = full & ((1u << bits) - 1);
                    acc = (acc << bits) | v;
                    bitPos += bits;
                    if (bitPos == 8) {
                        s += char(acc);
                        acc = 0;
                        bitPos = 0;
                    }
                }
            }
        }
        if (bitPos > 0)
            s += char(acc << (8 - bitPos)); // row padding
    }
    return s;
}

struct Result {
    bool ran = false;
    int maxColorDifference = 0;
    int maxAlphaDifference = 0;
    double meanColorDifference = 0;
    std::string note;
};

// Extracts with the library and with pdfimages; compares picture `index` of page 1 with
// pdfimages' file `oracleIndex` (and the alpha with `oracleMaskIndex` when given).
Result compare(PDFTestDocument& doc, const std::string& name, int oracleMaskIndex = -1) {
    Result r;
    const std::filesystem::path folder = freshDir(name);
    const std::filesystem::path input = folder / (name + ".pdf");
    doc.write(input);
    const std::filesystem::path ours = folder / "ours";
    const std::filesystem::path theirs = folder / "theirs";
    std::filesystem::create_directories(ours);
    std::filesystem::create_directories(theirs);
    ImageJobOptions options = testfiles::jobOptions(input, ours, 7);
    if (!ExtractImagesFromPDF(&options)) {
        r.note = "extraction failed";
        return r;
    }
    if (run("pdfimages -png '" + input.string() + "' '" + (theirs / "img").string() + "'") != 0) {
        r.note = "pdfimages failed";
        return r;
    }
    const PNGPicture a = readPNG(ours / (name + "_Page1_1.png"));
    const PNGPicture b = readPNG(theirs / "img-000.png");
    if (!a.ok || !b.ok || a.width != b.width || a.height != b.height) {
        r.note = "missing picture or size mismatch";
        return r;
    }
    double total = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3)
            continue;
        const int d = std::abs(int(a.rgba[i]) - int(b.rgba[i]));
        r.maxColorDifference = std::max(r.maxColorDifference, d);
        total += d;
    }
    r.meanColorDifference = total / double(a.rgba.size() / 4 * 3);
    if (oracleMaskIndex >= 0) {
        char file[32];
        std::snprintf(file, sizeof file, "img-%03d.png", oracleMaskIndex);
        const PNGPicture m = readPNG(theirs / file);
        if (!m.ok || m.width != a.width || m.height != a.height) {
            r.note = "mask missing";
            return r;
        }
        for (std::size_t i = 0; i < a.rgba.size(); i += 4)
            r.maxAlphaDifference =
                std::max(r.maxAlphaDifference, std::abs(int(a.rgba[i + 3]) - int(m.rgba[i])));
    }
    r.ran = true;
    return r;
}

#define EXPECT_MATCHES_POPPLER(result, tolerance)                                                  \
    do {                                                                                           \
        ASSERT_TRUE((result).ran) << (result).note;                                                \
        EXPECT_LE((result).maxColorDifference, tolerance);                                         \
        std::printf("difference from pdfimages: max %d, mean %.2f\n", (result).maxColorDifference, \
                    (result).meanColorDifference);                                                 \
    } while (0)

class PDFImageOracle : public testing::Test {
protected:
    void SetUp() override { REQUIRE_TOOL(havePdfimages(), "pdfimages (poppler-utils)"); }
};

std::string srgbProfile() {
    cmsHPROFILE p = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::string out(size, '\0');
    cmsSaveProfileToMem(p, out.data(), &size);
    cmsCloseProfile(p);
    return out;
}

std::string jpeg(int w, int h, int components) {
    std::string out;
    Pl_String sink("sink", nullptr, out);
    Pl_DCT dct("dct", &sink, JDIMENSION(w), JDIMENSION(h), components,
               components == 1   ? JCS_GRAYSCALE
               : components == 3 ? JCS_RGB
                                 : JCS_CMYK);
    const std::string pixels = pattern(w, h, components);
    dct.write(reinterpret_cast<const unsigned char*>(pixels.data()), pixels.size());
    dct.finish();
    return out;
}

// A 1-bit picture compressed as CCITT group 4 (or group 3 2-D) by libtiff: the raw strip.
std::string fax(int w, int h, int k, const std::filesystem::path& scratch) {
    TIFF* t = TIFFOpen(scratch.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, k < 0 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3);
    if (k > 0)
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    const std::string rows = pattern(w, h, 1, 1);
    const int rowBytes = (w + 7) / 8;
    for (int y = 0; y < h; ++y)
        TIFFWriteScanline(t, const_cast<char*>(rows.data()) + y * rowBytes, std::uint32_t(y), 0);
    TIFFClose(t);
    t = TIFFOpen(scratch.c_str(), "r");
    std::string raw(std::size_t(TIFFRawStripSize(t, 0)), '\0');
    TIFFReadRawStrip(t, 0, raw.data(), tmsize_t(raw.size()));
    TIFFClose(t);
    return raw;
}

} // namespace

TEST_F(PDFImageOracle, CCITTFaxGroup4AndGroup3) {
    for (int k : {-1, 1}) {
        SCOPED_TRACE(k);
        const std::filesystem::path scratch = freshDir("fax-source") / "fax.tif";
        PDFTestDocument doc;
        doc.addPage({doc.image("<< /Width 45 /Height 20 /ColorSpace /DeviceGray "
                               "/BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K " +
                                   std::to_string(k) + " /Columns 45 /Rows 20 /BlackIs1 true >> >>",
                               fax(45, 20, k, scratch))});
        EXPECT_MATCHES_POPPLER(compare(doc, k < 0 ? "g4" : "g3"), 0);
    }
}

TEST_F(PDFImageOracle, PlainColourSpacesAtEverySampleWidthDecodeArraysAndJPEG) {
    struct Case {
        const char* name;
        std::string dict; // after /Width w /Height h
        int width, height;
        std::string data;
        int tolerance;
    };
    auto flated = [](const char* cs, int components, int bits, int width) {
        return Case{cs,
                    std::string("/ColorSpace ") + cs + " /BitsPerComponent " +
                        std::to_string(bits) + " /Filter /FlateDecode",
                    width,
                    6,
                    flate(pattern(width, 6, components, bits)),
                    1};
    };
    const Case cases[] = {
        flated("/DeviceGray", 1, 8, 16),
        flated("/DeviceGray", 1, 4, 13),
        flated("/DeviceGray", 1, 2, 11),
        flated("/DeviceGray", 1, 1, 10),
        flated("/DeviceRGB", 3, 8, 16),
        flated("/DeviceRGB", 3, 4, 7),
        flated("/DeviceRGB", 3, 16, 9),
        {"decode", "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Decode [1 0 0 1 1 0]", 12, 5,
         pattern(12, 5, 3), 1},
        {"stencil", "/ImageMask true /Decode [1 0]", 10, 4, pattern(10, 4, 1, 1), 1},
        // Poppler converts device CMYK with its own ink model; ours is the plain complement.
        {"cmyk", "/ColorSpace /DeviceCMYK /BitsPerComponent 8", 16, 6, pattern(16, 6, 4), 80},
        {"jpeg", "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode", 24, 16,
         jpeg(24, 16, 3), 2},
        {"jpeggray", "/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /DCTDecode", 24, 16,
         jpeg(24, 16, 1), 2},
        {"separation",
         "/BitsPerComponent 8 /ColorSpace [/Separation /Spot /DeviceRGB << /FunctionType 2 "
         "/Domain [0 1] /C0 [1 1 1] /C1 [0.9 0.1 0.2] /N 1 >>]",
         16, 4, pattern(16, 4, 1), 2},
        // Poppler brings calibrated colour to the display by its own formula: within a few levels.
        {"calgray",
         "/BitsPerComponent 8 /ColorSpace [/CalGray << /WhitePoint [0.9505 1 1.089] /Gamma 1 >>]",
         16, 4, pattern(16, 4, 1), 12},
        {"calrgb",
         "/BitsPerComponent 8 /ColorSpace [/CalRGB << /WhitePoint [0.9505 1 1.089] /Gamma "
         "[2.2 2.2 2.2] /Matrix [0.4124 0.2126 0.0193 0.3576 0.7152 0.1192 0.1805 0.0722 "
         "0.9505] >>]",
         16, 4, pattern(16, 4, 3), 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " " << c.dict);
        PDFTestDocument doc;
        doc.addPage({doc.image("<< /Width " + std::to_string(c.width) + " /Height " +
                                   std::to_string(c.height) + " " + c.dict + " >>",
                               c.data)});
        const Result result = compare(doc, "case" + std::to_string(&c - cases));
        EXPECT_MATCHES_POPPLER(result, c.tolerance);
    }
}

TEST_F(PDFImageOracle, IndexedWithRGBBaseAndShortTable) {
    PDFTestDocument doc;
    // hival 9: samples 10 to 15 take entry 9.
    std::string table;
    for (int i = 0; i < 10; ++i)
        table += bytes({i * 25, 255 - i * 20, (i * 70) % 256});
    QPDFObjectHandle cs = QPDFObjectHandle::parse("[/Indexed /DeviceRGB 9 <>]");
    cs.setArrayItem(3, QPDFObjectHandle::newString(table));
    QPDFObjectHandle img =
        doc.image("<< /Width 15 /Height 4 /BitsPerComponent 4 >>", pattern(15, 4, 1, 4));
    img.getDict().replaceKey("/ColorSpace", cs);
    doc.addPage({img});
    EXPECT_MATCHES_POPPLER(compare(doc, "indexed"), 1);
}

TEST_F(PDFImageOracle, DeviceNThroughItsCalculatorTintTransform) {
    PDFTestDocument devn;
    QPDFObjectHandle calc = devn.stream("<< /FunctionType 4 /Domain [0 1 0 1] "
                                        "/Range [0 1 0 1 0 1] >>",
                                        "{ 2 copy add 2 div 3 1 roll 1 exch sub exch }");
    QPDFObjectHandle cs = QPDFObjectHandle::parse("[/DeviceN [/Cyan /Spot] /DeviceRGB null]");
    cs.setArrayItem(3, calc);
    QPDFObjectHandle img =
        devn.image("<< /Width 16 /Height 4 /BitsPerComponent 8 >>", pattern(16, 4, 2));
    img.getDict().replaceKey("/ColorSpace", cs);
    devn.addPage({img});
    EXPECT_MATCHES_POPPLER(compare(devn, "devicen"), 2);
}

TEST_F(PDFImageOracle, LabAndICCBasedSpaces) {
    PDFTestDocument icc;
    QPDFObjectHandle profile = icc.stream("<< /N 3 >>", srgbProfile());
    QPDFObjectHandle img =
        icc.image("<< /Width 16 /Height 4 /BitsPerComponent 8 >>", pattern(16, 4, 3));
    img.getDict().replaceKey("/ColorSpace", QPDFObjectHandle::newArray(
                                                {QPDFObjectHandle::newName("/ICCBased"), profile}));
    icc.addPage({img});
    EXPECT_MATCHES_POPPLER(compare(icc, "iccbased"), 3);

    PDFTestDocument lab;
    lab.addPage({lab.image("<< /Width 16 /Height 4 /BitsPerComponent 8 /ColorSpace [/Lab "
                           "<< /WhitePoint [0.9505 1 1.089] /Range [-40 40 -40 40] >>] >>",
                           pattern(16, 4, 3))});
    // Saturated blues leave sRGB's gamut, and Poppler clips them differently from Little CMS
    // (their red channel); everywhere else the two agree within a few levels.
    const Result labResult = compare(lab, "lab");
    EXPECT_MATCHES_POPPLER(labResult, 48);
    EXPECT_LE(labResult.meanColorDifference, 4.0);
}

TEST_F(PDFImageOracle, JPEG2000ImagesWithTheirOwnColourAndAlpha) {
    conversion::Bitmap rgb;
    std::string error;
    ASSERT_TRUE(rgb.allocate(20, 12, conversion::ColorModel::RGB, false, &error));
    const std::string samples = pattern(20, 12, 3);
    std::copy(samples.begin(), samples.end(), rgb.pixels.begin());
    std::vector<std::uint8_t> jp2;
    ASSERT_TRUE(conversion::encodeJPEG2000Bitmap(rgb, 1.0, false, jp2, error)) << error;
    PDFTestDocument doc;
    // No ColorSpace: the file's own colour decides.
    doc.addPage({doc.image("<< /Width 20 /Height 12 /BitsPerComponent 8 /Filter /JPXDecode >>",
                           std::string(jp2.begin(), jp2.end()))});
    EXPECT_MATCHES_POPPLER(compare(doc, "jpx"), 1);

    // With alpha: the alpha is split off into the picture's alpha channel.
    conversion::Bitmap rgba;
    ASSERT_TRUE(rgba.allocate(20, 12, conversion::ColorModel::RGB, true, &error));
    const std::string withAlpha = pattern(20, 12, 4);
    std::copy(withAlpha.begin(), withAlpha.end(), rgba.pixels.begin());
    std::vector<std::uint8_t> jp2a;
    ASSERT_TRUE(conversion::encodeJPEG2000Bitmap(rgba, 1.0, true, jp2a, error)) << error;
    PDFTestDocument alpha;
    alpha.addPage({alpha.image("<< /Width 20 /Height 12 /BitsPerComponent 8 /Filter /JPXDecode >>",
                               std::string(jp2a.begin(), jp2a.end()))});
    const std::filesystem::path folder = freshDir("jpxalpha");
    alpha.write(folder / "a.pdf");
    ImageJobOptions options = testfiles::jobOptions(folder / "a.pdf", folder, 7);
    ASSERT_TRUE(ExtractImagesFromPDF(&options));
    const PNGPicture picture = readPNG(folder / "a_Page1_1.png");
    ASSERT_TRUE(picture.ok);
    int alphaDifference = 0, colorDifference = 0;
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) {
        const int d = std::abs(int(picture.rgba[i]) - int(std::uint8_t(withAlpha[i])));
        (i % 4 == 3 ? alphaDifference : colorDifference) =
            std::max(i % 4 == 3 ? alphaDifference : colorDifference, d);
    }
    EXPECT_EQ(alphaDifference, 0);
    EXPECT_EQ(colorDifference, 0);
}

TEST_F(PDFImageOracle, PDFOutputWritesEachPictureAsItsOwnOnePagePDF) {
    PDFTestDocument doc;
    doc.addPage({doc.image("<< /Width 8 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>",
                           pattern(8, 4, 3)),
                 doc.image("<< /Width 6 /Height 6 /ColorSpace /DeviceGray /BitsPerComponent 8 >>",
                           pattern(6, 6, 1))});
    const std::filesystem::path folder = freshDir("pdfout");
    doc.write(folder / "two.pdf");
    std::filesystem::create_directories(folder / "out");
    ImageJobOptions options = testfiles::jobOptions(folder / "two.pdf", folder / "out", 8);
    ASSERT_TRUE(ExtractImagesFromPDF(&options));
    for (const char* name : {"two_Page1_1.pdf", "two_Page1_2.pdf"}) {
        QPDF pdf;
        ASSERT_NO_THROW(pdf.processFile((folder / "out" / name).c_str())) << name;
        EXPECT_EQ(pdf.getAllPages().size(), 1u) << name;
    }
    // pdfimages reads the picture back out of the written PDF unchanged.
    ASSERT_EQ(run("pdfimages -png '" + (folder / "out" / "two_Page1_1.pdf").string() + "' '" +
                  (folder / "back").string() + "'"),
              0);
    const PNGPicture back = readPNG(folder / "back-000.png");
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.width, 8);
    const std::string original = pattern(8, 4, 3);
    for (int i = 0; i < 8 * 4; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(back.rgba[std::size_t(4 * i + c)],
                      std::uint8_t(original[std::size_t(3 * i + c)]));
}

TEST_F(PDFImageOracle, SoftMaskBecomesAlpha) {
    PDFTestDocument doc;
    QPDFObjectHandle smask = doc.image(
        "<< /Width 8 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 >>", pattern(8, 4, 1));
    QPDFObjectHandle img = doc.image(
        "<< /Width 8 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>", pattern(8, 4, 3));
    img.getDict().replaceKey("/SMask", smask);
    doc.addPage({img});
    const Result r = compare(doc, "smask", 1);
    EXPECT_MATCHES_POPPLER(r, 1);
    EXPECT_LE(r.maxAlphaDifference, 1);
}
