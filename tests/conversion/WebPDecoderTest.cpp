// The WebP decoder front end, its outputs read back with libtiff and libpng.
#include "WebPDecoder.h"
#include "WebPTestImages.h"

#include <cstring>
#include <gtest/gtest.h>
#include <webp/mux.h>

using namespace webptest;

namespace {

std::uint32_t le(const Bytes& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + i];
    return v;
}

// RGBA pixels with a fully transparent, a half transparent and opaque pixels.
Bytes alphaPixels(int width, int height) {
    Bytes p = patternPixels(width, height, 4);
    p[3] = 0;
    p[7] = 128;
    for (std::size_t i = 11; i < p.size(); i += 4)
        p[i] = 255;
    return p;
}

int toTIFF(const Bytes& webp, const std::string& path, std::string* messages = nullptr) {
    WebPDecoderConfig config;
    EXPECT_TRUE(WebPInitDecoderConfig(&config));
    testing::internal::CaptureStderr();
    const int code = DecodeWebPToTIFFFile(webp.data(), webp.size(), &config,
                                          path.empty() ? nullptr : path.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    if (messages)
        *messages = err;
    return code;
}

// Decodes into the mode `format` needs and saves; answers what SaveDecodedImage answered.
int save(const Bytes& webp, DecodedImageFormat format, const std::string& path) {
    WebPDecoderConfig config;
    EXPECT_TRUE(WebPInitDecoderConfig(&config));
    EXPECT_EQ(WebPGetFeatures(webp.data(), webp.size(), &config.input), VP8_STATUS_OK);
    config.output.colorspace = decodedColorMode(format, config.input.has_alpha);
    EXPECT_EQ(WebPDecode(webp.data(), webp.size(), &config), VP8_STATUS_OK);
    testing::internal::CaptureStderr();
    const int ok = SaveDecodedImage(&config.output, format, path.c_str());
    testing::internal::GetCapturedStderr();
    WebPFreeDecBuffer(&config.output);
    return ok;
}

TEST(WebPDecoder, TIFFWithoutAlphaReadsBackPixelForPixel) {
    const Bytes rgba = patternPixels(3, 2, 4);
    const std::string path = scratchPath("rgb.tif");
    ASSERT_EQ(toTIFF(encodeWebP(rgba, 3, 2, true, false), path), kWebPDecodeOK);
    EXPECT_EQ(readBytes(path).size(), 228u);
    int w = 0, h = 0;
    Bytes back;
    ASSERT_TRUE(readTIFFAsRGBA(path, &w, &h, &back));
    ASSERT_EQ(w * h, 6);
    for (int i = 0; i < 6; ++i) {
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(back[i * 4 + c], rgba[i * 4 + c]);
        EXPECT_EQ(back[i * 4 + 3], 255);
    }
}

TEST(WebPDecoder, TIFFWithAlphaStoresPremultipliedColours) {
    const Bytes rgba = alphaPixels(3, 2);
    const Bytes webp = encodeWebP(rgba, 3, 2, true, true);
    const std::string path = scratchPath("rgba.tif");
    ASSERT_EQ(toTIFF(webp, path), kWebPDecodeOK);
    const Bytes file = readBytes(path);
    ASSERT_EQ(file.size(), 234u);
    EXPECT_EQ(le(file, 178 + 8, 4), 1u); // ExtraSamples: associated alpha
    const Bytes transparent(file.begin() + 210, file.begin() + 214);
    EXPECT_EQ(transparent, Bytes(4, 0));
    for (int c = 0; c < 3; ++c) // half transparent: colour x 128 / 255
        EXPECT_NEAR(file[214 + c], rgba[4 + c] * 128 / 255, 1);
    for (int i = 2; i < 6; ++i)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(file[210 + i * 4 + c], rgba[i * 4 + c]);
    int w = 0, h = 0;
    Bytes back;
    ASSERT_TRUE(readTIFFAsRGBA(path, &w, &h, &back)); // libtiff accepts the file as it stands
    EXPECT_EQ(back[7], 128);
}

namespace {

// The header the decoder writes before the pixels of a w x h picture: "II", 42, the directory at
// 8 with its entries, then the BitsPerSample values (four 8s) at 194 and the resolution 72/1 at
// 202.
Bytes expectedTIFFHeader(std::uint32_t w, std::uint32_t h, bool alpha) {
    Bytes header(210, 0);
    auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
    };
    header[0] = header[1] = 'I';
    put(2, 42, 2);
    put(4, 8, 4);
    const std::uint32_t samples = alpha ? 4 : 3;
    const std::uint32_t entries[][4] = {
        {256, 3, 1, w},               // ImageWidth
        {257, 3, 1, h},               // ImageLength
        {258, 3, samples, 194},       // BitsPerSample, at 194
        {259, 3, 1, 1},               // Compression: none
        {262, 3, 1, 2},               // Photometric: RGB
        {273, 4, 1, 210},             // StripOffsets: right after the header
        {274, 3, 1, 1},               // Orientation: top left
        {277, 3, 1, samples},         // SamplesPerPixel
        {278, 3, 1, h},               // RowsPerStrip: one strip
        {279, 4, 1, w * h * samples}, // StripByteCounts
        {282, 5, 1, 202},             // XResolution, at 202
        {283, 5, 1, 202},             // YResolution, the same
        {284, 3, 1, 1},               // PlanarConfiguration: contiguous
        {296, 3, 1, 2},               // ResolutionUnit: inch
        {338, 3, 1, 1},               // ExtraSamples: associated alpha
    };
    const int count = alpha ? 15 : 14;
    put(8, std::uint32_t(count), 2);
    for (int i = 0; i < count; ++i) {
        const std::size_t at = 10 + 12 * std::size_t(i);
        put(at, entries[i][0], 2);
        put(at + 2, entries[i][1], 2);
        put(at + 4, entries[i][2], 4);
        put(at + 8, entries[i][3], 4);
    }
    // Without alpha the directory ends at 178 (four zero bytes), and the count and value of the
    // ExtraSamples entry it no longer holds stay behind at 182 to 189; 190 to 193 are 0.
    if (!alpha) {
        put(182, 1, 4);
        put(186, 1, 4);
    }
    for (std::size_t i = 0; i < 4; ++i) // four 8s, whatever the number of samples
        put(194 + 2 * i, 8, 2);
    put(202, 72, 4);
    put(206, 1, 4);
    return header;
}

} // namespace

TEST(WebPDecoder, TIFFHeaderIsTheFixedLayoutByteForByte) {
    struct Case {
        int width, height;
        bool alpha;
    };
    for (const Case c : {Case{3, 2, false}, Case{3, 2, true}, Case{300, 7, false}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) +
                     (c.alpha ? " with alpha" : ""));
        const Bytes rgba =
            c.alpha ? alphaPixels(c.width, c.height) : patternPixels(c.width, c.height, 4);
        const std::string path = scratchPath("layout.tif");
        ASSERT_EQ(toTIFF(encodeWebP(rgba, c.width, c.height, true, c.alpha), path), kWebPDecodeOK);
        const Bytes file = readBytes(path);
        const std::size_t samples = c.alpha ? 4 : 3;
        ASSERT_EQ(file.size(), 210 + std::size_t(c.width * c.height) * samples);
        const Bytes header(file.begin(), file.begin() + 210);
        EXPECT_EQ(header,
                  expectedTIFFHeader(std::uint32_t(c.width), std::uint32_t(c.height), c.alpha));
        // The fields that tell the two layouts apart, named.
        EXPECT_EQ(le(file, 8, 2), c.alpha ? 15u : 14u);
        EXPECT_EQ(le(file, 10 + 8, 4), std::uint32_t(c.width));
        EXPECT_EQ(le(file, 22 + 8, 4), std::uint32_t(c.height));
        EXPECT_EQ(le(file, 94 + 8, 4), samples);
        EXPECT_EQ(le(file, 118 + 8, 4), std::uint32_t(c.width * c.height) * samples);
        EXPECT_EQ(le(file, 166, 2), 296u);
        EXPECT_EQ(le(file, 166 + 8, 4), 2u); // inch
        EXPECT_EQ(le(file, 202, 4), 72u);
        EXPECT_EQ(le(file, 206, 4), 1u);
        if (c.alpha) {
            EXPECT_EQ(le(file, 178, 2), 338u);
            EXPECT_EQ(le(file, 178 + 8, 4), 1u);
        } else {
            EXPECT_EQ(le(file, 178, 4), 0u);
        }
    }
}

TEST(WebPDecoder, BytesThatAreNoWebPGiveMinus234AndWriteNothing) {
    const Bytes junk = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'A', 'V', 'E', 0, 0, 0, 0};
    const std::string path = scratchPath("never.tif");
    EXPECT_EQ(toTIFF(junk, path), kWebPDecodeBadHeaders);
    EXPECT_FALSE(fs::exists(path));
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    EXPECT_EQ(DecodeWebPToRGBA(junk.data(), junk.size(), &config), kWebPDecodeBadHeaders);
    int w = -1, h = -1;
    EXPECT_EQ(GetWebPDimensions(junk.data(), junk.size(), &w, &h), kWebPDecodeBadHeaders);
    EXPECT_EQ(GetWebPDimensions(nullptr, 0, &w, &h), kWebPDecodeBadHeaders);

    const Bytes webp = encodeWebP(patternPixels(21, 9, 4), 21, 9, false, false);
    ASSERT_EQ(GetWebPDimensions(webp.data(), webp.size(), &w, &h), kWebPDecodeOK);
    EXPECT_EQ(w, 21);
    EXPECT_EQ(h, 9);
}

TEST(WebPDecoder, FailedDecodingOrWritingIsReportedAndLeavesNoFile) {
    const Bytes webp = encodeWebP(patternPixels(64, 64, 4), 64, 64, false, false);
    Bytes cut(webp.begin(), webp.begin() + long(webp.size() / 2)); // headers intact, data not
    const std::string path = scratchPath("cut.tif");
    EXPECT_EQ(toTIFF(cut, path), kWebPDecodeFailed);
    EXPECT_FALSE(fs::exists(path));
    writeBytes(path, {'o', 'l', 'd'});
    EXPECT_EQ(toTIFF(cut, path), kWebPDecodeFailed);
    EXPECT_EQ(readBytes(path), (Bytes{'o', 'l', 'd'}));

    EXPECT_EQ(toTIFF(webp, scratchPath("missing/folder.tif")), kWebPDecodeWriteFailed);
    EXPECT_EQ(toTIFF(webp, "/dev/full"), kWebPDecodeWriteFailed);
    EXPECT_EQ(toTIFF(webp, ""), kWebPDecodeOK); // decode only

    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    EXPECT_EQ(DecodeWebPToRGBA(cut.data(), cut.size(), &config), kWebPDecodeFailed);
    EXPECT_EQ(config.output.u.RGBA.rgba, nullptr);
    ASSERT_EQ(DecodeWebPToRGBA(webp.data(), webp.size(), &config), kWebPDecodeOK);
    EXPECT_EQ(config.output.colorspace, MODE_RGBA);
    EXPECT_EQ(config.output.width, 64);
    WebPFreeDecBuffer(&config.output);
}

TEST(WebPDecoder, BMPRowsArePaddedToFourBytes) {
    const Bytes rgba = patternPixels(1, 3, 4);
    const std::string path = scratchPath("thin.bmp");
    ASSERT_TRUE(save(encodeWebP(rgba, 1, 3, true, false), kDecodedBMP, path));
    const Bytes file = readBytes(path);
    ASSERT_EQ(file.size(), 54u + 3 * 4);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(le(file, 2, 4), file.size());
    EXPECT_EQ(le(file, 10, 4), 54u);
    EXPECT_EQ(le(file, 18, 4), 1u);
    EXPECT_EQ(std::int32_t(le(file, 22, 4)), -3);
    EXPECT_EQ(le(file, 28, 2), 24u);
    EXPECT_EQ(le(file, 38, 4), 2400u);
    for (int y = 0; y < 3; ++y) {
        const std::size_t row = 54 + 4 * y;
        EXPECT_EQ(file[row + 0], rgba[y * 4 + 2]); // B, G, R
        EXPECT_EQ(file[row + 1], rgba[y * 4 + 1]);
        EXPECT_EQ(file[row + 2], rgba[y * 4 + 0]);
        EXPECT_EQ(file[row + 3], 0);
    }
    ASSERT_TRUE(save(encodeWebP(alphaPixels(3, 2), 3, 2, true, true), kDecodedBMP, path));
    const Bytes withAlpha = readBytes(path);
    EXPECT_EQ(withAlpha.size(), 54u + 2 * 12);
    EXPECT_EQ(le(withAlpha, 28, 2), 32u);
}

TEST(WebPDecoder, PortableFormatsHaveTheirHeadersAndPixels) {
    const int w = 5, h = 3;
    const Bytes rgba = alphaPixels(w, h);
    const Bytes lossless = encodeWebP(rgba, w, h, true, true);
    ASSERT_TRUE(save(lossless, kDecodedPAM, scratchPath("x.pam")));
    const std::string pamHeader =
        "P7\nWIDTH 5\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    const Bytes pam = readBytes(scratchPath("x.pam"));
    ASSERT_EQ(pam.size(), pamHeader.size() + rgba.size());
    EXPECT_EQ(std::string(pam.begin(), pam.begin() + long(pamHeader.size())), pamHeader);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        if (rgba[i - i % 4 + 3] != 0) { // colour under alpha 0 is free
            EXPECT_EQ(pam[pamHeader.size() + i], rgba[i]) << i;
        }

    ASSERT_TRUE(save(lossless, kDecodedPPM, scratchPath("x.ppm")));
    const Bytes ppm = readBytes(scratchPath("x.ppm"));
    const std::string ppmHeader = "P6\n5 3\n255\n";
    ASSERT_EQ(ppm.size(), ppmHeader.size() + w * h * 3);
    for (int i = 1; i < w * h; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(ppm[ppmHeader.size() + i * 3 + c], rgba[i * 4 + c]);

    // Planes of an odd-sized image: Y rows padded to an even width, U|V rows side by side, alpha.
    ASSERT_TRUE(save(lossless, kDecodedPGM, scratchPath("x.pgm")));
    const std::string pgmHeader = "P5\n6 8\n255\n"; // 3 + 2 + 3 rows
    const Bytes pgm = readBytes(scratchPath("x.pgm"));
    EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + long(pgmHeader.size())), pgmHeader);
    EXPECT_EQ(pgm.size(), pgmHeader.size() + 6 * 8);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(pgm[pgmHeader.size() + y * 6 + 5], 0) << "Y row padding";
    for (int x = 0; x < 5; ++x) // the alpha rows carry the alpha exactly
        EXPECT_EQ(pgm[pgmHeader.size() + 5 * 6 + x], rgba[x * 4 + 3]);

    ASSERT_TRUE(save(lossless, kDecodedRawYUV, scratchPath("x.yuv")));
    EXPECT_EQ(readBytes(scratchPath("x.yuv")).size(), std::size_t(15 + 3 * 2 * 2 + 15));

    ASSERT_TRUE(save(lossless, kDecodedAlphaPlanePGM, scratchPath("a.pgm")));
    const Bytes alpha = readBytes(scratchPath("a.pgm"));
    const std::string alphaHeader = "P5\n5 3\n255\n";
    ASSERT_EQ(alpha.size(), alphaHeader.size() + 15);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(alpha[alphaHeader.size() + i], rgba[i * 4 + 3]);
}

TEST(WebPDecoder, PNGOutputReadsBackPixelForPixel) {
    for (bool withAlpha : {false, true}) {
        const int w = 17, h = 11;
        const Bytes rgba = withAlpha ? alphaPixels(w, h) : patternPixels(w, h, 4);
        const std::string path = scratchPath("out.png");
        ASSERT_TRUE(save(encodeWebP(rgba, w, h, true, withAlpha), kDecodedPNG, path));
        const PNGPicture png = readPNG(path);
        ASSERT_TRUE(png.ok);
        ASSERT_EQ(png.width, w);
        ASSERT_EQ(png.height, h);
        const Bytes& back = png.rgba;
        for (std::size_t i = 0; i < back.size(); ++i) {
            const bool isAlpha = i % 4 == 3;
            const std::uint8_t alpha = withAlpha ? rgba[i - i % 4 + 3] : 255;
            if (isAlpha) {
                EXPECT_EQ(back[i], alpha) << i;
            } else if (alpha != 0) {
                EXPECT_EQ(back[i], rgba[i]) << i;
            }
        }
    }
}

// A caller's buffer whose rows are longer than width x samples: rows are taken by stride.
TEST(WebPDecoder, RowsAreWrittenByTheBufferStride) {
    const int w = 6, h = 4, stride = 32;
    const Bytes rgba = patternPixels(w, h, 4);
    const Bytes webp = encodeWebP(rgba, w, h, true, false);
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    Bytes memory(stride * h, 0xEE);
    config.output.colorspace = MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = memory.data();
    config.output.u.RGBA.stride = stride;
    config.output.u.RGBA.size = memory.size();
    ASSERT_EQ(WebPDecode(webp.data(), webp.size(), &config), VP8_STATUS_OK);
    for (DecodedImageFormat format : {kDecodedTIFF, kDecodedPPM, kDecodedPNG}) {
        const std::string path = scratchPath("strided");
        testing::internal::CaptureStderr();
        ASSERT_TRUE(SaveDecodedImage(&config.output, format, path.c_str()));
        testing::internal::GetCapturedStderr();
        Bytes pixels;
        const Bytes file = readBytes(path);
        if (format == kDecodedTIFF)
            pixels.assign(file.begin() + 210, file.end());
        else if (format == kDecodedPPM)
            pixels.assign(file.end() - w * h * 3, file.end());
        else {
            const Bytes back = readPNG(path).rgba;
            for (std::size_t i = 0; i < back.size(); ++i)
                if (i % 4 != 3)
                    pixels.push_back(back[i]);
        }
        ASSERT_EQ(pixels.size(), std::size_t(w * h * 3)) << format;
        for (int i = 0; i < w * h; ++i)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(pixels[i * 3 + c], rgba[i * 4 + c]) << format;
    }
}

TEST(WebPDecoder, BuffersInAModeTheFormatCannotTakeAreRefused) {
    const Bytes webp = encodeWebP(patternPixels(4, 4, 4), 4, 4, false, false);
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    config.output.colorspace = MODE_YUV;
    ASSERT_EQ(WebPDecode(webp.data(), webp.size(), &config), VP8_STATUS_OK);
    const std::string path = scratchPath("refused.out");
    testing::internal::CaptureStderr();
    for (DecodedImageFormat format :
         {kDecodedPNG, kDecodedTIFF, kDecodedBMP, kDecodedPAM, kDecodedAlphaPlanePGM}) {
        EXPECT_FALSE(SaveDecodedImage(&config.output, format, path.c_str())) << format;
        EXPECT_FALSE(fs::exists(path));
    }
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("Error writing file " + path + " !!"), std::string::npos);
    EXPECT_NE(messages.find("no alpha plane"), std::string::npos);
    WebPFreeDecBuffer(&config.output);
}

TEST(WebPDecoder, WholeFileReadAndWrite) {
    const std::uint8_t* data = reinterpret_cast<const std::uint8_t*>(1);
    std::size_t size = 7;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ReadFileToMemory(nullptr, &data, &size));
    EXPECT_EQ(size, 7u); // untouched
    writeBytes(scratchPath("empty"), {});
    EXPECT_FALSE(ReadFileToMemory(scratchPath("empty").c_str(), &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_FALSE(ReadFileToMemory(scratchPath("absent").c_str(), &data, &size));
    const std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("Could not read 0 bytes of data from file"), std::string::npos);
    EXPECT_NE(messages.find("cannot open input file"), std::string::npos);

    const Bytes content = patternPixels(10, 10, 3);
    const std::string path = scratchPath("whole");
    ASSERT_TRUE(WriteMemoryToFile(path.c_str(), content.data(), content.size()));
    ASSERT_TRUE(ReadFileToMemory(path.c_str(), &data, &size));
    EXPECT_EQ(Bytes(data, data + size), content);
    std::free(const_cast<std::uint8_t*>(data));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteMemoryToFile("/dev/full", content.data(), content.size()));
    EXPECT_FALSE(WriteMemoryToFile(scratchPath("no/dir").c_str(), content.data(), 3));
    testing::internal::GetCapturedStderr();
}

TEST(WebPDecoder, DamagedWebPFilesDecodeOrFailWithoutLeavingAFile) {
    const Bytes seeds[] = {
        encodeWebP(alphaPixels(33, 17), 33, 17, true, true),
        encodeWebP(alphaPixels(33, 17), 33, 17, false, true),
        encodeWebP(patternPixels(40, 20, 4), 40, 20, false, false),
    };
    const std::string path = scratchPath("damaged.tif");
    int failures = 0;
    for (const Bytes& original : seeds) {
        for (const Bytes& variant : damagedCopies(original, 50, 80)) {
            std::remove(path.c_str());
            const int code = toTIFF(variant, path);
            if (code == kWebPDecodeOK) {
                int w = 0, h = 0;
                Bytes back;
                EXPECT_TRUE(readTIFFAsRGBA(path, &w, &h, &back));
            } else {
                ++failures;
                EXPECT_TRUE(code == kWebPDecodeBadHeaders || code == kWebPDecodeFailed) << code;
                EXPECT_FALSE(fs::exists(path));
            }
        }
    }
    EXPECT_GT(failures, 50);
}

Bytes animatedWebP() {
    WebPAnimEncoderOptions options;
    EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(8, 8, &options);
    WebPConfig config;
    EXPECT_TRUE(WebPConfigInit(&config));
    for (int frame = 0; frame < 3; ++frame) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.use_argb = 1;
        picture.width = picture.height = 8;
        const Bytes pixels = patternPixels(8, 8, 4, frame);
        WebPPictureImportRGBX(&picture, pixels.data(), 32);
        EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config));
        WebPPictureFree(&picture);
    }
    WebPAnimEncoderAdd(encoder, nullptr, 300, nullptr);
    WebPData data;
    WebPDataInit(&data);
    EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
    Bytes out(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    return out;
}

TEST(WebPDecoder, AnimatedFilesAreRefusedWithTheirMessage) {
    const Bytes animated = animatedWebP();
    const std::string path = scratchPath("animated.tif");
    std::string messages;
    EXPECT_EQ(toTIFF(animated, path, &messages), kWebPDecodeFailed);
    EXPECT_NE(messages.find("Decoding of an animated WebP file is not supported."),
              std::string::npos);
    EXPECT_FALSE(fs::exists(path));
    int w = 0, h = 0;
    EXPECT_EQ(GetWebPDimensions(animated.data(), animated.size(), &w, &h), kWebPDecodeOK);
    EXPECT_EQ(w, 8);
}

} // namespace
