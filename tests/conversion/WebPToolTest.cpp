// convtool webp-encode and webp-decode as a user runs them.
#include "WebPTestImages.h"

#include <gtest/gtest.h>
#include <webp/demux.h>

using namespace webptest;

namespace {

const std::string kConvtool = LUMENO_CONVTOOL;

int convtool(const std::string& arguments, Bytes* out = nullptr, std::string* err = nullptr) {
    const std::string errors = scratchPath("convtool.err");
    int status = -1;
    const std::string text = capture(shellQuote(kConvtool) + " " + arguments + " 2>" +
                                         shellQuote(errors) + " </dev/null",
                                     &status);
    if (out)
        out->assign(text.begin(), text.end());
    if (err)
        *err = readText(errors);
    return status;
}

TEST(Convtool, HelpListsTheWebPCommands) {
    Bytes out;
    ASSERT_EQ(convtool("--help", &out), 0);
    const std::string help(out.begin(), out.end());
    EXPECT_NE(help.find("webp-encode"), std::string::npos);
    EXPECT_NE(help.find("webp-decode"), std::string::npos);
    std::string err;
    EXPECT_NE(convtool("no-such-command", nullptr, &err), 0);
    EXPECT_NE(err.find("unknown command 'no-such-command'"), std::string::npos);
}

// The WebP commands start as the codecs' own tools do: the program that runs them links the
// image libraries alone, and hands every other command to the one that carries the rest.
TEST(Convtool, WebPCommandsRunInAProgramThatLoadsNeitherQtNorThePDFLibraries) {
    int status = -1;
    const std::string needed = capture("readelf -d " + shellQuote(kConvtool), &status);
    ASSERT_EQ(status, 0);
    ASSERT_NE(needed.find("libwebp"), std::string::npos) << needed;
    for (const char* library : {"libQt6", "libpoppler", "libqpdf", "libMagick", "libcairo"})
        EXPECT_EQ(needed.find(library), std::string::npos) << library << " in\n" << needed;
    Bytes out;
    ASSERT_EQ(convtool("webp-decode -version", &out), 0);
    EXPECT_FALSE(out.empty());
}

TEST(Convtool, EncodeKeepsTheAskedMetadataAndDecodeWritesTIFF) {
    const std::string jpeg = scratchPath("tool.jpg");
    std::vector<JPEGMarker> markers = iccMarkers(iccProfile(700, 2), 3, {1, 2, 3});
    markers.insert(markers.begin(), exifMarker({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0}));
    writeJPEG(jpeg, 30, 20, 3, patternPixels(30, 20, 3), markers);
    const std::string webp = scratchPath("tool.webp");
    std::string err;
    ASSERT_EQ(convtool("webp-encode -q 80 -metadata exif,icc " + shellQuote(jpeg) + " -o " +
                           shellQuote(webp),
                       nullptr, &err),
              0)
        << err;
    const Bytes file = readBytes(webp);
    WebPData data{file.data(), file.size()};
    WebPDemuxer* demuxer = WebPDemux(&data);
    ASSERT_TRUE(demuxer);
    EXPECT_EQ(WebPDemuxGetI(demuxer, WEBP_FF_FORMAT_FLAGS), std::uint32_t(ICCP_FLAG | EXIF_FLAG));
    WebPDemuxDelete(demuxer);

    const std::string tiff = scratchPath("tool.tif");
    ASSERT_EQ(convtool("webp-decode " + shellQuote(webp) + " -tiff -o " + shellQuote(tiff), nullptr,
                       &err),
              0)
        << err;
    EXPECT_NE(err.find("Dimensions: 30 x 20"), std::string::npos) << err;
    EXPECT_NE(err.find("Saved file " + tiff), std::string::npos) << err;
    int w = 0, h = 0;
    Bytes rgba;
    ASSERT_TRUE(readTIFFAsRGBA(tiff, &w, &h, &rgba));
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
}

TEST(Convtool, DecodeToDashWritesStandardOutput) {
    const std::string webp = scratchPath("stdout.webp");
    writeBytes(webp, encodeWebP(patternPixels(7, 5, 4), 7, 5, true, false));
    const std::string ppm = scratchPath("stdout.ppm");
    ASSERT_EQ(convtool("webp-decode -ppm " + shellQuote(webp) + " -o " + shellQuote(ppm)), 0);
    Bytes out;
    std::string err;
    ASSERT_EQ(convtool("webp-decode -ppm " + shellQuote(webp) + " -o -", &out, &err), 0);
    EXPECT_EQ(out, readBytes(ppm));
    EXPECT_NE(err.find("Saved to stdout"), std::string::npos) << err;
}

TEST(Convtool, BadArgumentsAreReportedWithTheirMessages) {
    std::string err;
    EXPECT_NE(convtool("webp-decode", nullptr, &err), 0);
    EXPECT_NE(err.find("missing input file!!"), std::string::npos);
    EXPECT_NE(convtool("webp-decode -bogus x.webp", nullptr, &err), 0);
    EXPECT_NE(err.find("Unknown option '-bogus'"), std::string::npos);
    EXPECT_NE(convtool("webp-decode " + shellQuote(scratchPath("absent.webp")), nullptr, &err), 0);
    EXPECT_NE(err.find("cannot open input file"), std::string::npos);
    const std::string notWebP = scratchPath("not.webp");
    writeBytes(notWebP, Bytes(64, 'x'));
    EXPECT_NE(convtool("webp-decode " + shellQuote(notWebP), nullptr, &err), 0);
    EXPECT_NE(err.find("Status: 3 (BITSTREAM_ERROR)"), std::string::npos) << err;

    EXPECT_NE(convtool("webp-encode -metadata exif,gps x.png", nullptr, &err), 0);
    EXPECT_NE(err.find("Unknown metadata type 'gps'"), std::string::npos);
    EXPECT_NE(convtool("webp-encode -zap x.png", nullptr, &err), 0);
    EXPECT_NE(err.find("Error! Unknown option '-zap'"), std::string::npos);
    EXPECT_NE(convtool("webp-encode -q", nullptr, &err), 0);
    EXPECT_NE(convtool("webp-encode -q high x.png", nullptr, &err), 0);
    EXPECT_NE(convtool("webp-encode -crop 0 0 1", nullptr, &err), 0);
}

TEST(Convtool, EncoderOptionsShapeThePicture) {
    const std::string png = scratchPath("options.png");
    PNGOptions rgba;
    rgba.colorType = 6;
    writePNG(png, 40, 30, rgba, patternPixels(40, 30, 4));
    const std::string webp = scratchPath("options.webp");
    std::string err;
    ASSERT_EQ(convtool("webp-encode -quiet -crop 4 2 20 10 -resize 10 5 " + shellQuote(png) +
                           " -o " + shellQuote(webp),
                       nullptr, &err),
              0)
        << err;
    Bytes file = readBytes(webp);
    WebPBitstreamFeatures features;
    ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
    EXPECT_EQ(features.width, 10);
    EXPECT_EQ(features.height, 5);
    EXPECT_TRUE(features.has_alpha);

    ASSERT_EQ(convtool("webp-encode -quiet -noalpha -lossless " + shellQuote(png) + " -o " +
                       shellQuote(webp)),
              0);
    file = readBytes(webp);
    ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
    EXPECT_FALSE(features.has_alpha);
    EXPECT_EQ(features.format, 2);
}

} // namespace

namespace {

// A photo-like JPEG (a fractal plasma, full of fine detail) of 320 x 240.
std::string photoJPEG() {
    const std::string path = scratchPath("plasma.jpg");
    if (run("convert -seed 7 -size 320x240 plasma:fractal -quality 92 " + shellQuote(path)) != 0)
        return {};
    return path;
}

std::size_t sizeOf(const std::string& path) {
    return readBytes(path).size();
}

} // namespace

TEST(Convtool, LosslessFromJPEGKeepsEveryDecodedPixel) {
    const std::string jpeg = photoJPEG();
    ASSERT_FALSE(jpeg.empty());
    const std::string webp = scratchPath("lossless.webp");
    ASSERT_EQ(
        convtool("webp-encode -quiet -lossless " + shellQuote(jpeg) + " -o " + shellQuote(webp)),
        0);
    const std::string fromWebP = scratchPath("lossless.pam");
    const std::string fromJPEG = scratchPath("plasma.pam");
    ASSERT_EQ(run("dwebp -quiet -pam " + shellQuote(webp) + " -o " + shellQuote(fromWebP)), 0);
    ASSERT_EQ(run("convert " + shellQuote(jpeg) + " " + shellQuote(fromJPEG)), 0);
    // ImageMagick decodes the JPEG with libjpeg as the encoder's reader does: not one pixel
    // may differ.
    EXPECT_EQ(capture("compare -metric AE " + shellQuote(fromWebP) + " " + shellQuote(fromJPEG) +
                      " null: 2>&1"),
              "0");
}

TEST(Convtool, TargetSizeAndQualityAreReachedAsCwebpReachesThem) {
    const std::string jpeg = photoJPEG();
    ASSERT_FALSE(jpeg.empty());
    const std::string plain = scratchPath("plain.webp");
    ASSERT_EQ(convtool("webp-encode -quiet " + shellQuote(jpeg) + " -o " + shellQuote(plain)), 0);
    for (const std::string option : {"-size 4000", "-psnr 30", "-size 4000 -pass 3"}) {
        SCOPED_TRACE(option);
        const std::string ours = scratchPath("ours.webp");
        const std::string theirs = scratchPath("theirs.webp");
        ASSERT_EQ(convtool("webp-encode -quiet " + option + " " + shellQuote(jpeg) + " -o " +
                           shellQuote(ours)),
                  0);
        ASSERT_EQ(
            run("cwebp -quiet " + option + " " + shellQuote(jpeg) + " -o " + shellQuote(theirs)),
            0);
        // The target moves the size, and as far as cwebp's search takes it (within 5 %).
        EXPECT_LT(sizeOf(ours), sizeOf(plain) * 9 / 10);
        EXPECT_NEAR(double(sizeOf(ours)), double(sizeOf(theirs)), 0.05 * double(sizeOf(theirs)));
    }
}
