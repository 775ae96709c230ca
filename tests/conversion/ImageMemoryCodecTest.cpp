// The JPEG and JPEG 2000 memory codecs on real, truncated and hostile data.
#include "ImageTestSupport.h"
#include "JPEG2000Codec.h"
#include "JPEGMemoryCodec.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <openjpeg.h>
#include <random>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> jpegOf(Magick::Image image, const std::string& name) {
    const fs::path dir = imagetest::freshDir("jpeg-" + name);
    imagetest::writeWith(image, "JPEG", dir / "x.jpg");
    return imagetest::readBytes(dir / "x.jpg");
}

struct Decoded {
    int result = -9;
    int code = 0;
    std::size_t size = 0;
    std::uint32_t width = 0, height = 0;
    double rx = -1, ry = -1;
};

Decoded decompress(const std::vector<std::uint8_t>& bytes) {
    Decoded d;
    std::uint8_t* pixels = nullptr;
    d.result = DecompressJPEGData(bytes.data(), bytes.size(), &d.code, &pixels, &d.size, &d.width,
                                  &d.height, &d.rx, &d.ry);
    std::free(pixels);
    return d;
}

// One component of a hand-made JPEG 2000 image.
struct Component {
    OPJ_UINT32 dx = 1, dy = 1, prec = 8;
    bool sgnd = false;
    std::function<int(OPJ_UINT32 x, OPJ_UINT32 y)> value;
};

std::vector<std::uint8_t> encodeJPEG2000(OPJ_UINT32 w, OPJ_UINT32 h,
                                         const std::vector<Component>& components,
                                         OPJ_COLOR_SPACE space, OPJ_CODEC_FORMAT format) {
    std::vector<opj_image_cmptparm_t> parms(components.size());
    for (std::size_t i = 0; i < components.size(); ++i) {
        std::memset(&parms[i], 0, sizeof parms[i]);
        parms[i].dx = components[i].dx;
        parms[i].dy = components[i].dy;
        parms[i].w = (w + components[i].dx - 1) / components[i].dx;
        parms[i].h = (h + components[i].dy - 1) / components[i].dy;
        parms[i].prec = components[i].prec;
        parms[i].sgnd = components[i].sgnd;
    }
    opj_image_t* image = opj_image_create(OPJ_UINT32(parms.size()), parms.data(), space);
    image->x1 = w;
    image->y1 = h;
    for (std::size_t i = 0; i < components.size(); ++i)
        for (OPJ_UINT32 y = 0; y < parms[i].h; ++y)
            for (OPJ_UINT32 x = 0; x < parms[i].w; ++x)
                image->comps[i].data[y * parms[i].w + x] = components[i].value(x, y);
    opj_cparameters_t p;
    opj_set_default_encoder_parameters(&p);
    p.tcp_numlayers = 1;
    p.tcp_rates[0] = 0;
    p.cp_disto_alloc = 1;
    p.numresolution = 1;
    opj_codec_t* codec = opj_create_compress(format);
    opj_setup_encoder(codec, &p, image);
    const fs::path file = imagetest::freshDir("j2k-" + std::to_string(std::rand())) / "x.j2k";
    opj_stream_t* stream = opj_stream_create_default_file_stream(file.c_str(), OPJ_FALSE);
    const bool ok = opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    EXPECT_TRUE(ok);
    return imagetest::readBytes(file);
}

struct J2KResult {
    int result = -9;
    std::vector<std::uint8_t> pixels;
    int code = 0;
    int components = 0;
};

J2KResult decodeJ2K(const std::vector<std::uint8_t>& bytes) {
    J2KResult r;
    r.result = CreatePixelDataFromJPEG2000(bytes, &r.pixels, &r.code, &r.components, nullptr);
    return r;
}

// Truncations at many points and single-byte changes: every call answers, none crashes.
template <typename Decode>
void survivesDamage(const std::vector<std::uint8_t>& good, Decode decode) {
    std::mt19937 random(7);
    for (std::size_t cut = 0; cut < good.size(); cut += std::max<std::size_t>(1, good.size() / 97))
        decode(std::vector<std::uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(cut)));
    for (int i = 0; i < 300; ++i) {
        std::vector<std::uint8_t> bad = good;
        for (int k = 0; k < 1 + i % 4; ++k)
            bad[random() % bad.size()] = std::uint8_t(random());
        decode(bad);
    }
}

} // namespace

TEST(JPEGMemoryCodec, GreyAndCMYKGiveTheirCodesAndSampleCounts) {
    auto grey = imagetest::gradient(33, 21);
    grey.type(Magick::GrayscaleType);
    const Decoded g = decompress(jpegOf(grey, "grey"));
    EXPECT_EQ(g.result, 0);
    EXPECT_EQ(g.code, 1);
    EXPECT_EQ(g.size, 33u * 21u);

    std::vector<std::uint8_t> cmyk(100 * 50 * 4);
    for (std::size_t i = 0; i < cmyk.size(); ++i)
        cmyk[i] = std::uint8_t(i * 7);
    std::uint8_t* out = nullptr;
    std::size_t size = 0;
    CompressJPEGData(100, 50, cmyk.data(), JCS_CMYK, 4, &out, &size, 80, 300, 300);
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> jpeg(out, out + size);
    std::free(out);
    const Decoded c = decompress(jpeg);
    EXPECT_EQ(c.result, 0);
    EXPECT_EQ(c.code, 4);
    EXPECT_EQ(c.size, 100u * 50u * 4u);
    EXPECT_DOUBLE_EQ(c.rx, 300);
    // ImageMagick reads the density and the size of the same file.
    const fs::path dir = imagetest::freshDir("cmyk-jpeg");
    imagetest::writeBytes(dir / "c.jpg", jpeg);
    Magick::Image image;
    image.read((dir / "c.jpg").string());
    EXPECT_EQ(image.columns(), 100u);
    EXPECT_NEAR(image.density().width(), 300, 0.01);
}

TEST(JPEGMemoryCodec, ResolutionComesFromTheJFIFDensityUnit) {
    auto image = imagetest::gradient(16, 16);
    image.resolutionUnits(Magick::PixelsPerCentimeterResolution);
    image.density(Magick::Geometry(28, 28));
    const Decoded perCm = decompress(jpegOf(image, "dpcm"));
    EXPECT_NEAR(perCm.rx, 71.12, 0.001);
    EXPECT_NEAR(perCm.ry, 71.12, 0.001);

    std::vector<std::uint8_t> rgb(16 * 16 * 3, 128);
    std::uint8_t* out = nullptr;
    std::size_t size = 0;
    CompressJPEGData(16, 16, rgb.data(), JCS_RGB, 3, &out, &size, 90, 0, 0);
    std::vector<std::uint8_t> jpeg(out, out + size);
    std::free(out);
    // Density unit 0 (no unit): the resolution outputs stay as they were.
    for (std::size_t i = 2; i + 16 < jpeg.size(); ++i)
        if (jpeg[i] == 'J' && jpeg[i + 1] == 'F' && jpeg[i + 2] == 'I' && jpeg[i + 3] == 'F') {
            jpeg[i + 7] = 0;
            break;
        }
    const Decoded none = decompress(jpeg);
    EXPECT_EQ(none.result, 0);
    EXPECT_EQ(none.rx, -1);
}

TEST(JPEGMemoryCodec, TruncatedDataStillDecodesAndHostileDataFails) {
    const std::vector<std::uint8_t> good = jpegOf(imagetest::gradient(120, 80), "truncate");
    const Decoded half = decompress(std::vector<std::uint8_t>(
        good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3)));
    EXPECT_EQ(half.result, 0);
    EXPECT_EQ(half.width, 120u);
    EXPECT_EQ(half.size, 120u * 80u * 3u);

    EXPECT_EQ(decompress({}).result, 1);
    EXPECT_EQ(decompress({0xFF, 0xD8}).result, 1);
    EXPECT_EQ(decompress({'h', 'e', 'l', 'l', 'o'}).result, 1);
    // A frame header claiming 65000 x 65000 pixels is refused before anything is allocated.
    std::vector<std::uint8_t> huge = good;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xFD;
            huge[i + 6] = huge[i + 8] = 0xE8;
            break;
        }
    EXPECT_EQ(decompress(huge).result, 1);
    conversion::Bitmap bitmap;
    std::string error;
    EXPECT_FALSE(conversion::decodeJPEGBitmap(huge.data(), huge.size(), bitmap, error));
    EXPECT_FALSE(error.empty());

    survivesDamage(good, [](const std::vector<std::uint8_t>& bytes) {
        const Decoded d = decompress(bytes);
        EXPECT_TRUE(d.result == 0 || d.result == 1);
        conversion::Bitmap b;
        std::string e;
        conversion::decodeJPEGBitmap(bytes.data(), bytes.size(), b, e);
    });
}

TEST(JPEG2000MemoryCodec, HighPrecisionKeepsTheHighByteAndAlphaIsCounted) {
    const auto sixteen =
        encodeJPEG2000(20, 10,
                       {{1, 1, 16, false, [](auto x, auto) { return int(x * 3000); }},
                        {1, 1, 16, false, [](auto, auto y) { return int(y * 6000); }},
                        {1, 1, 16, false, [](auto, auto) { return 0xAB12; }}},
                       OPJ_CLRSPC_SRGB, OPJ_CODEC_J2K);
    const J2KResult r = decodeJ2K(sixteen);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.components, 3);
    ASSERT_EQ(r.pixels.size(), 20u * 10u * 3u);
    EXPECT_EQ(r.pixels[(0 * 20 + 5) * 3 + 0], (5 * 3000) >> 8);
    EXPECT_EQ(r.pixels[(7 * 20 + 0) * 3 + 1], (7 * 6000) >> 8);
    EXPECT_EQ(r.pixels[2], 0xAB);

    const fs::path dir = imagetest::freshDir("jp2-rgba");
    imagetest::writeWith(imagetest::gradient(12, 8, true), "JP2", dir / "a.jp2");
    const J2KResult rgba = decodeJ2K(imagetest::readBytes(dir / "a.jp2"));
    ASSERT_EQ(rgba.result, 0);
    EXPECT_EQ(rgba.code, 2);
    EXPECT_EQ(rgba.components, 4);
    EXPECT_EQ(rgba.pixels.size(), 12u * 8u * 4u);
}

TEST(JPEG2000MemoryCodec, LowPrecisionIsScaledUpAndSYCCBecomesRGB) {
    const auto fourBit = encodeJPEG2000(
        8, 2, {{1, 1, 4, false, [](auto x, auto) { return int(x * 2 > 15 ? 15 : x * 2); }}},
        OPJ_CLRSPC_GRAY, OPJ_CODEC_J2K);
    const J2KResult grey = decodeJ2K(fourBit);
    ASSERT_EQ(grey.result, 0);
    EXPECT_EQ(grey.code, 1);
    EXPECT_EQ(grey.pixels[0], 0);
    EXPECT_EQ(grey.pixels[7], 14 * 255 / 15);

    const auto sycc = encodeJPEG2000(4, 4,
                                     {{1, 1, 8, false, [](auto, auto) { return 128; }},
                                      {1, 1, 8, false, [](auto, auto) { return 128; }},
                                      {1, 1, 8, false, [](auto, auto) { return 200; }}},
                                     OPJ_CLRSPC_SYCC, OPJ_CODEC_JP2);
    const J2KResult rgb = decodeJ2K(sycc);
    ASSERT_EQ(rgb.result, 0);
    EXPECT_NEAR(rgb.pixels[0], 229, 1); // 128 + 1.402 x 72
    EXPECT_NEAR(rgb.pixels[1], 77, 1);  // 128 - 0.714 x 72
    EXPECT_NEAR(rgb.pixels[2], 128, 1);

    const auto signedSamples =
        encodeJPEG2000(4, 1, {{1, 1, 8, true, [](auto x, auto) { return int(x) * 40 - 100; }}},
                       OPJ_CLRSPC_GRAY, OPJ_CODEC_J2K);
    const J2KResult s = decodeJ2K(signedSamples);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.pixels[0], 28); // -100 + 128
}

TEST(JPEG2000MemoryCodec, ManyComponentsArePackedConsistently) {
    std::vector<Component> six;
    for (int c = 0; c < 6; ++c)
        six.push_back({1, 1, 8, false, [c](auto, auto) { return 10 * (c + 1); }});
    const J2KResult r = decodeJ2K(encodeJPEG2000(8, 4, six, OPJ_CLRSPC_UNSPECIFIED, OPJ_CODEC_J2K));
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.components, 5); // four colours and alpha, the count the buffer holds
    ASSERT_EQ(r.pixels.size(), 8u * 4u * 5u);
    EXPECT_EQ(r.pixels[5 * 14 + 4], 50);
}

TEST(JPEG2000MemoryCodec, SubsampledOversizedTruncatedAndHostileDataFail) {
    const auto subsampled = encodeJPEG2000(8, 8,
                                           {{1, 1, 8, false, [](auto, auto) { return 1; }},
                                            {2, 2, 8, false, [](auto, auto) { return 2; }},
                                            {2, 2, 8, false, [](auto, auto) { return 3; }}},
                                           OPJ_CLRSPC_SYCC, OPJ_CODEC_J2K);
    EXPECT_EQ(decodeJ2K(subsampled).result, -1);
    EXPECT_EQ(decodeJ2K({}).result, -1);
    EXPECT_EQ(decodeJ2K({0xFF}).result, -1);
    EXPECT_EQ(decodeJ2K({0xFF, 0x4F, 0xFF, 0x51}).result, -1);

    const auto good = encodeJPEG2000(
        40, 30, {{1, 1, 8, false, [](auto x, auto y) { return int((x * 5 + y * 3) & 255); }}},
        OPJ_CLRSPC_GRAY, OPJ_CODEC_J2K);
    ASSERT_EQ(decodeJ2K(good).result, 0);
    // The size marker claiming 2^28 x 2^28 pixels is refused before decoding.
    std::vector<std::uint8_t> huge = good;
    ASSERT_EQ(huge[2], 0xFF);
    ASSERT_EQ(huge[3], 0x51);
    for (int i = 0; i < 8; ++i)
        huge[8 + i] = i % 4 == 0 ? 0x10 : 0x00; // Xsiz, Ysiz
    EXPECT_EQ(decodeJ2K(huge).result, -1);
    survivesDamage(good, [](const std::vector<std::uint8_t>& bytes) {
        const J2KResult r = decodeJ2K(bytes);
        EXPECT_TRUE(r.result == 0 || r.result == -1);
    });
}
