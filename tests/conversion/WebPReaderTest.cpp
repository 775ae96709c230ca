// The image file readers on PNG, JPEG and TIFF files written by the codec libraries.
#include "WebPEncoder.h"
#include "WebPTestImages.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

using namespace webptest;

namespace {

// Reads a file through the same dispatch the encoder uses.
struct ReadResult {
    int ok = 0;
    WebPPicture picture;
    ImageMetadata metadata;
    std::string messages;
    ReadResult() {
        WebPPictureInit(&picture);
        InitImageMetadata(&metadata);
    }
    ~ReadResult() {
        WebPPictureFree(&picture);
        FreeImageMetadata(&metadata);
    }
};

void readInput(const std::string& path, int keepAlpha, ReadResult* result) {
    testing::internal::CaptureStderr();
    result->ok = ReadInputPicture(path.c_str(), &result->picture, keepAlpha, &result->metadata);
    result->messages = testing::internal::GetCapturedStderr();
}

std::string hexProfile(const std::string& name, const Bytes& payload, std::size_t statedLength) {
    std::string text = "\n" + name + "\n" + std::to_string(statedLength) + "\n";
    static const char* digits = "0123456789abcdef";
    for (std::size_t i = 0; i < payload.size(); ++i) {
        text += digits[payload[i] >> 4];
        text += digits[payload[i] & 15];
        if (i % 36 == 35)
            text += '\n';
    }
    return text + "\n";
}

Bytes somePayload(std::size_t size, int seed) {
    return patternPixels(int(size), 1, 1, seed);
}

TEST(WebPReaders, PalettePNGWithTransparencyKeepsAlphaOnlyWhenAsked) {
    const int w = 5, h = 3;
    PNGOptions options;
    options.colorType = PNG_COLOR_TYPE_PALETTE;
    options.paletteRGB = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    options.transparency = {0, 128}; // entries 2 and 3 opaque
    Bytes rows(w * h);
    for (int i = 0; i < w * h; ++i)
        rows[i] = std::uint8_t(i % 4);
    const std::string path = scratchPath("palette.png");
    writePNG(path, w, h, options, rows);

    ReadResult withAlpha;
    readInput(path, 1, &withAlpha);
    ASSERT_TRUE(withAlpha.ok) << withAlpha.messages;
    const Bytes rgba = pictureRGBA(withAlpha.picture);
    const std::uint8_t alphaOf[4] = {0, 128, 255, 255};
    for (int i = 0; i < w * h; ++i) {
        const int entry = i % 4;
        EXPECT_EQ(rgba[i * 4 + 3], alphaOf[entry]) << "pixel " << i;
        if (entry >= 1) { // a fully transparent pixel's colour is free to change
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(rgba[i * 4 + c], options.paletteRGB[entry * 3 + c]) << "pixel " << i;
        }
    }

    ReadResult withoutAlpha;
    readInput(path, 0, &withoutAlpha);
    ASSERT_TRUE(withoutAlpha.ok);
    EXPECT_FALSE(WebPPictureHasTransparency(&withoutAlpha.picture));
    const Bytes rgb = pictureRGBA(withoutAlpha.picture);
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(rgb[i * 4 + c], options.paletteRGB[(i % 4) * 3 + c]);
}

TEST(WebPReaders, SixteenBitGreyAndInterlacedPNGDecodeEveryPixel) {
    const int w = 7, h = 4;
    PNGOptions grey;
    grey.colorType = PNG_COLOR_TYPE_GRAY;
    grey.bitDepth = 16;
    Bytes rows;
    for (int i = 0; i < w * h; ++i) {
        rows.push_back(std::uint8_t(i * 9)); // high byte: what survives
        rows.push_back(0xCD);
    }
    writePNG(scratchPath("grey16.png"), w, h, grey, rows);
    ReadResult g;
    readInput(scratchPath("grey16.png"), 1, &g);
    ASSERT_TRUE(g.ok) << g.messages;
    const Bytes greyPixels = pictureRGBA(g.picture);
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(greyPixels[i * 4 + c], std::uint8_t(i * 9));
    EXPECT_FALSE(WebPPictureHasTransparency(&g.picture));

    // Adam7 spreads pixels over seven passes; every one must land in its place.
    const int iw = 37, ih = 23;
    PNGOptions interlaced;
    interlaced.colorType = PNG_COLOR_TYPE_RGBA;
    interlaced.interlaced = true;
    const Bytes pixels = patternPixels(iw, ih, 4);
    writePNG(scratchPath("adam7.png"), iw, ih, interlaced, pixels);
    ReadResult r;
    readInput(scratchPath("adam7.png"), 1, &r);
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(pictureRGBA(r.picture), pixels);
}

TEST(WebPReaders, PNGMetadataFromRawProfilesXMPAndICC) {
    const Bytes exif = somePayload(101, 1);
    const Bytes exifSecond = somePayload(50, 2);
    const Bytes icc = iccProfile(300, 3);
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'>lumeno</x:xmpmeta>";
    PNGOptions options;
    options.texts = {{"Raw profile type exif", hexProfile("exif", exif, exif.size())},
                     {"Comment", "not metadata"}};
    options.textsAfterImage = {{"XML:com.adobe.xmp", xmp, true},
                               {"Raw profile type APP1", hexProfile("app1", exifSecond, 50)}};
    options.iccProfile = icc;
    writePNG(scratchPath("meta.png"), 4, 4, options, patternPixels(4, 4, 3));

    ReadResult r;
    readInput(scratchPath("meta.png"), 1, &r);
    ASSERT_TRUE(r.ok) << r.messages;
    EXPECT_EQ(metadataString(r.metadata.exif), std::string(exif.begin(), exif.end()));
    EXPECT_EQ(metadataString(r.metadata.iccp), std::string(icc.begin(), icc.end()));
    EXPECT_EQ(metadataString(r.metadata.xmp), xmp);
    EXPECT_NE(r.messages.find("Ignoring additional 'Raw profile type APP1'"), std::string::npos)
        << r.messages;
}

TEST(WebPReaders, PNGWithAProfileLongerThanItsDigitsFailsAndKeepsNoMetadata) {
    const Bytes exif = somePayload(40, 4);
    PNGOptions options;
    options.texts = {{"Raw profile type exif", hexProfile("exif", exif, 41)}};
    options.iccProfile = iccProfile(200, 5);
    writePNG(scratchPath("badprofile.png"), 3, 3, options, patternPixels(3, 3, 3));
    ReadResult r;
    readInput(scratchPath("badprofile.png"), 1, &r);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.messages.find("Failed to process: 'Raw profile type exif'"), std::string::npos);
    EXPECT_NE(r.messages.find("Error extracting PNG metadata!"), std::string::npos);
    EXPECT_EQ(r.metadata.exif.bytes, nullptr);
    EXPECT_EQ(r.metadata.iccp.bytes, nullptr);
}

TEST(WebPReaders, RawProfileLengthIsBoundedByTheText) {
    MetadataBuffer buffer;
    const Bytes payload = somePayload(20, 6);
    std::string good = hexProfile("exif", payload, 20);
    ASSERT_TRUE(DecodeRawProfile(good.c_str(), good.size(), &buffer));
    EXPECT_EQ(metadataString(buffer), std::string(payload.begin(), payload.end()));
    FreeMetadataBuffer(&buffer);

    const std::string refused[] = {
        hexProfile("exif", payload, 21),         // longer than its digits
        "\nexif\n-5\n0011\n",                    // negative
        "\nexif\n0\n\n",                         // empty
        "\nexif\n99999999999999999999999\n00\n", // overflowing
        "\nexif\n4294967297\n0011\n",            // wraps to 1 in 32 bits
        "exif\n2\n0011\n",                       // no leading newline
        "\nexif\n2 0011\n",                      // no newline after the length
        "\nexif\n2\n00zz\n",                     // not hexadecimal
        "\nexif",                                // ends in the name
    };
    testing::internal::CaptureStderr();
    for (const std::string& text : refused) {
        EXPECT_FALSE(DecodeRawProfile(text.c_str(), text.size(), &buffer)) << text;
        EXPECT_EQ(buffer.bytes, nullptr);
    }
    // The stated length counts only the characters given, not a terminator beyond them.
    const std::string cut = good.substr(0, good.size() - 10);
    EXPECT_FALSE(DecodeRawProfile(cut.c_str(), cut.size(), &buffer));
    testing::internal::GetCapturedStderr();
}

const Bytes kICC = iccProfile(1000, 9);

std::string writeJPEGWith(const std::string& name, const std::vector<JPEGMarker>& markers) {
    const std::string path = scratchPath(name);
    writeJPEG(path, 16, 8, 3, patternPixels(16, 8, 3), markers);
    return path;
}

TEST(WebPReaders, JPEGICCProfileIsJoinedFromItsSegmentsInSequenceOrder) {
    const Bytes exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
    for (const std::vector<int>& order : {std::vector<int>{1, 2, 3}, std::vector<int>{2, 3, 1}}) {
        std::vector<JPEGMarker> markers = iccMarkers(kICC, 3, order);
        markers.insert(markers.begin(), exifMarker(exif));
        ReadResult r;
        readInput(writeJPEGWith("icc.jpg", markers), 1, &r);
        ASSERT_TRUE(r.ok) << r.messages;
        EXPECT_EQ(r.picture.width, 16);
        EXPECT_EQ(r.picture.height, 8);
        EXPECT_EQ(metadataString(r.metadata.iccp), std::string(kICC.begin(), kICC.end()));
        EXPECT_EQ(metadataString(r.metadata.exif), std::string(exif.begin(), exif.end()));
    }
}

TEST(WebPReaders, JPEGWithBrokenICCSegmentsFailsWithTheReason) {
    const struct {
        std::vector<JPEGMarker> markers;
        const char* message;
    } cases[] = {
        {iccMarkers(kICC, 3, {1, 3}), "[ICCP] Discontinuous segments, expected: 2 actual: 3!"},
        {iccMarkers(kICC, 3, {1, 2}), "[ICCP] Segment count: 2 does not match expected: 3!"},
        {iccMarkers(kICC, 3, {1, 1, 2}), "[ICCP] Duplicate segment number (1)!"},
        {[] {
             auto m = iccMarkers(kICC, 2, {1});
             auto more = iccMarkers(kICC, 3, {2});
             m.insert(m.end(), more.begin(), more.end());
             return m;
         }(),
         "[ICCP] Inconsistent segment count (2 / 3)!"},
        {iccMarkers(kICC, 3, {0}), "cannot be 0!"},
    };
    for (const auto& c : cases) {
        ReadResult r;
        readInput(writeJPEGWith("badicc.jpg", c.markers), 1, &r);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.messages.find(c.message), std::string::npos) << r.messages;
        EXPECT_NE(r.messages.find("Error extracting JPEG metadata!"), std::string::npos);
        EXPECT_EQ(r.metadata.iccp.bytes, nullptr);
    }
}

TEST(WebPReaders, TwoPageTIFFReadsItsFirstPageWithICCAndXMP) {
    const TIFFPage first{6, 5, patternPixels(6, 5, 3, 1)};
    const TIFFPage second{3, 3, patternPixels(3, 3, 3, 2)};
    TIFFOptions options;
    options.exifDirectory = true;
    options.iccProfile = iccProfile(160, 7);
    options.xmp = "<x:xmpmeta>tiff</x:xmpmeta>";
    for (bool bigEndian : {false, true}) {
        options.bigEndian = bigEndian;
        const std::string path = scratchPath(bigEndian ? "be.tif" : "le.tif");
        writeTIFF(path, {first, second}, options);
        ASSERT_EQ(readBytes(path)[0], bigEndian ? 'M' : 'I');
        ReadResult r;
        readInput(path, 1, &r);
        ASSERT_TRUE(r.ok) << r.messages;
        EXPECT_NE(r.messages.find("Only the first will be used, 1 will be ignored."),
                  std::string::npos);
        EXPECT_NE(r.messages.find("Warning: EXIF extraction from TIFF is unsupported."),
                  std::string::npos);
        EXPECT_EQ(r.metadata.exif.bytes, nullptr);
        EXPECT_EQ(metadataString(r.metadata.iccp),
                  std::string(options.iccProfile.begin(), options.iccProfile.end()));
        EXPECT_EQ(metadataString(r.metadata.xmp), options.xmp);
        const Bytes rgba = pictureRGBA(r.picture);
        ASSERT_EQ(rgba.size(), std::size_t(6 * 5 * 4));
        for (int i = 0; i < 30; ++i)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(rgba[i * 4 + c], first.rgb[i * 3 + c]);
    }
}

TEST(WebPReaders, PicturesWiderThanWebPAllowsAreRefusedBeforeDecoding) {
    // PNG: 16384 x 1 is valid PNG but no WebP can hold it.
    PNGOptions grey;
    grey.colorType = PNG_COLOR_TYPE_GRAY;
    writePNG(scratchPath("wide.png"), 16384, 1, grey, Bytes(16384, 7));
    ReadResult png;
    readInput(scratchPath("wide.png"), 1, &png);
    EXPECT_FALSE(png.ok);
    EXPECT_NE(png.messages.find("16384 x 1 pixels is larger than"), std::string::npos)
        << png.messages;

    const std::string jpegPath = scratchPath("wide.jpg");
    writeJPEG(jpegPath, 16400, 8, 3, Bytes(16400 * 8 * 3, 100), {}, 50);
    ReadResult jpeg;
    readInput(jpegPath, 1, &jpeg);
    EXPECT_FALSE(jpeg.ok);
    EXPECT_NE(jpeg.messages.find("16400 x 8 pixels"), std::string::npos);

    // A TIFF header that claims 60000 x 60000 pixels over a few bytes of data: refused without
    // allocating the 14 GB raster.
    writeTIFF(scratchPath("small.tif"), {{2, 2, patternPixels(2, 2, 3)}}, {});
    Bytes tiff = readBytes(scratchPath("small.tif"));
    TIFF* tif = TIFFOpen(scratchPath("small.tif").c_str(), "r+");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 60000u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 60000u);
    TIFFRewriteDirectory(tif);
    TIFFClose(tif);
    ReadResult big;
    readInput(scratchPath("small.tif"), 1, &big);
    EXPECT_FALSE(big.ok);
    EXPECT_NE(big.messages.find("60000 x 60000"), std::string::npos) << big.messages;
}

TEST(WebPReaders, DamagedUnknownAndCMYKFilesFailWithAMessage) {
    PNGOptions rgb;
    writePNG(scratchPath("whole.png"), 20, 20, rgb, patternPixels(20, 20, 3));
    Bytes png = readBytes(scratchPath("whole.png"));
    png.resize(png.size() / 2);
    writeBytes(scratchPath("half.png"), png);
    writeBytes(scratchPath("head.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00});
    writeBytes(scratchPath("image.gif"), {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    writeBytes(scratchPath("empty.png"), {});
    writeJPEG(scratchPath("cmyk.jpg"), 8, 8, 4, patternPixels(8, 8, 4), {});
    for (const char* name : {"half.png", "head.jpg", "image.gif", "empty.png", "cmyk.jpg"}) {
        ReadResult r;
        readInput(scratchPath(name), 1, &r);
        EXPECT_FALSE(r.ok) << name;
        EXPECT_NE(r.messages.find("Error! Could not process file"), std::string::npos) << name;
    }
    ReadResult missing;
    readInput(scratchPath("absent.png"), 1, &missing);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.messages.find("Error! Cannot open input file"), std::string::npos);
}

// Truncations and flipped bytes of valid files, with metadata: each read answers, and the
// metadata record is empty whenever the read failed. Run under the sanitizers in CI, this is
// where a read past a buffer would show.
TEST(WebPReaders, DamagedCopiesOfValidFilesAreReadOrRefusedSafely) {
    PNGOptions png;
    png.colorType = PNG_COLOR_TYPE_RGBA;
    png.interlaced = true;
    png.iccProfile = iccProfile(200, 1);
    const Bytes exif = somePayload(30, 2);
    png.texts = {{"Raw profile type exif", hexProfile("exif", exif, exif.size())}};
    writePNG(scratchPath("seed.png"), 12, 9, png, patternPixels(12, 9, 4));
    std::vector<JPEGMarker> markers = iccMarkers(iccProfile(400, 3), 2, {1, 2});
    markers.push_back(exifMarker(somePayload(40, 4)));
    writeJPEG(scratchPath("seed.jpg"), 24, 16, 3, patternPixels(24, 16, 3), markers);
    TIFFOptions tiff;
    tiff.exifDirectory = true;
    tiff.iccProfile = iccProfile(150, 5);
    tiff.xmp = "<x/>";
    writeTIFF(scratchPath("seed.tif"), {{8, 6, patternPixels(8, 6, 3)}, {2, 2, Bytes(12, 1)}},
              tiff);

    int reads = 0, successes = 0;
    testing::internal::CaptureStderr();
    for (const char* seed : {"seed.png", "seed.jpg", "seed.tif"}) {
        for (const Bytes& variant : damagedCopies(readBytes(scratchPath(seed)), 60, 90)) {
            const std::string path = scratchPath(std::string("damaged-") + seed);
            writeBytes(path, variant);
            WebPPicture picture;
            ImageMetadata metadata;
            WebPPictureInit(&picture);
            InitImageMetadata(&metadata);
            const int ok = ReadInputPicture(path.c_str(), &picture, 1, &metadata);
            ++reads;
            successes += ok;
            if (!ok) {
                EXPECT_EQ(metadata.exif.bytes, nullptr);
                EXPECT_EQ(metadata.iccp.bytes, nullptr);
                EXPECT_EQ(metadata.xmp.bytes, nullptr);
            } else {
                EXPECT_GT(picture.width, 0);
            }
            WebPPictureFree(&picture);
            FreeImageMetadata(&metadata);
        }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(reads, 400);
    EXPECT_GT(successes, 0);     // some damage leaves a readable image...
    EXPECT_LT(successes, reads); // ...and some does not
}

} // namespace
