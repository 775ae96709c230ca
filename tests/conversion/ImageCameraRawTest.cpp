// Camera raw files: a small linear DNG written here with libtiff is developed by the image job
// and keeps its size and the hue of its patches; raw output is refused.
#include "ConversionEntries.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <tiffio.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

struct Patch {
    std::uint16_t r, g, b;
};

// A linear (already demosaicked) DNG of w x h (LibRaw takes no side under 22 pixels): the left half
// `left`, the right half `right`, in camera samples that the colour matrix makes equal to linear
// sRGB. `orientation` is the TIFF orientation tag (1 upright).
void writeLinearDNG(const fs::path& path, std::uint32_t w, std::uint32_t h, Patch left, Patch right,
                    int orientation = 1) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 34892); // LinearRaw
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(t, TIFFTAG_MAKE, "Lumeno");
    TIFFSetField(t, TIFFTAG_MODEL, "Test Camera");
    static const std::uint8_t version[4] = {1, 4, 0, 0};
    TIFFSetField(t, TIFFTAG_DNGVERSION, version);
    TIFFSetField(t, TIFFTAG_DNGBACKWARDVERSION, version);
    TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Lumeno Test Camera");
    // XYZ (D65) to linear sRGB: the camera sees in sRGB primaries.
    static const float matrix[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f,
                                    0.0415f, 0.0557f,  -0.2040f, 1.0570f};
    TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, matrix);
    TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21); // D65
    static const float neutral[3] = {1.0f, 1.0f, 1.0f};
    TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    std::vector<std::uint16_t> row(std::size_t(w) * 3);
    for (std::uint32_t x = 0; x < w; ++x) {
        const Patch& p = x < w / 2 ? left : right;
        row[x * 3] = p.r;
        row[x * 3 + 1] = p.g;
        row[x * 3 + 2] = p.b;
    }
    for (std::uint32_t y = 0; y < h; ++y)
        ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
    TIFFClose(t);
}

// The hue of an RGB sample in degrees.
double hue(const std::uint8_t* p) {
    const double r = p[0], g = p[1], b = p[2];
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
    if (mx - mn < 1)
        return -1;
    double h = mx == r   ? (g - b) / (mx - mn)
               : mx == g ? 2 + (b - r) / (mx - mn)
                         : 4 + (r - g) / (mx - mn);
    h *= 60;
    return h < 0 ? h + 360 : h;
}

} // namespace

TEST(ImageCameraRaw, LinearDNGDevelopsAtItsSizeAndKeepsTheHueOfItsPatches) {
    const fs::path dir = imagetest::freshDir("dng");
    const fs::path dng = dir / "shot.dng";
    // An orange-red patch beside a blue one.
    writeLinearDNG(dng, 64, 40, {30000, 6000, 2000}, {3000, 6000, 30000});
    const fs::path png = dir / "shot.png";
    ImageJobOptions options = imagetest::jobOptions(dng, png, kFormatPNG);
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Pixels p = imagetest::readPixels(png);
    ASSERT_EQ(p.width, 64u);
    ASSERT_EQ(p.height, 40u);
    const double left = hue(imagetest::at(p, 10, 20));
    const double right = hue(imagetest::at(p, 54, 20));
    EXPECT_TRUE(left >= 0 && (left < 30 || left > 345)) << "left hue " << left;
    EXPECT_NEAR(right, 225, 25) << "right hue";
}

TEST(ImageCameraRaw, ADNGWithoutItsExtensionIsKnownByItsVersionTag) {
    const fs::path dir = imagetest::freshDir("named");
    const fs::path dng = dir / "shot.tif";
    writeLinearDNG(dng, 32, 24, {20000, 20000, 20000}, {5000, 5000, 5000});
    const fs::path png = dir / "shot.png";
    ImageJobOptions options = imagetest::jobOptions(dng, png, kFormatPNG);
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Pixels p = imagetest::readPixels(png);
    EXPECT_EQ(p.width, 32u);
    EXPECT_EQ(p.height, 24u);
    EXPECT_GT(int(imagetest::at(p, 4, 12)[1]), int(imagetest::at(p, 28, 12)[1]) + 40)
        << "the light half stays lighter";
}

TEST(ImageCameraRaw, ASidewaysShotIsTurnedUprightOnce) {
    const fs::path dir = imagetest::freshDir("turned");
    const fs::path dng = dir / "side.dng";
    writeLinearDNG(dng, 48, 24, {30000, 3000, 3000}, {3000, 3000, 30000}, 6);
    const fs::path png = dir / "side.png";
    ImageJobOptions options = imagetest::jobOptions(dng, png, kFormatPNG);
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Pixels p = imagetest::readPixels(png);
    ASSERT_EQ(p.width, 24u);
    ASSERT_EQ(p.height, 48u);
    // Turned clockwise: the red left half of the sensor is now the top.
    EXPECT_GT(int(imagetest::at(p, 12, 6)[0]), int(imagetest::at(p, 12, 6)[2]) + 100);
    EXPECT_GT(int(imagetest::at(p, 12, 42)[2]), int(imagetest::at(p, 12, 42)[0]) + 100);
}

TEST(ImageCameraRaw, WritingCameraRawIsRefusedAndLeavesNoFile) {
    const fs::path dir = imagetest::freshDir("refused");
    const fs::path png = dir / "in.png";
    imagetest::writeWith(imagetest::gradient(8, 8), "PNG", png);
    ImageJobOptions options = imagetest::jobOptions(png, dir / "out.dng", kFormatCameraRaw);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ConvertImageFile(&options));
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(dir / "out.dng"));
}

TEST(ImageCameraRaw, DamagedRawFilesAreRefusedWithAMessage) {
    const fs::path dir = imagetest::freshDir("damaged");
    const fs::path dng = dir / "d.dng";
    writeLinearDNG(dng, 24, 24, {30000, 6000, 2000}, {3000, 6000, 30000});
    const imagetest::Bytes original = imagetest::readBytes(dng);
    int index = 0;
    for (const imagetest::Bytes& copy : imagetest::damagedCopies(original, 12, 24)) {
        const fs::path bad = dir / ("bad" + std::to_string(index++) + ".dng");
        imagetest::writeBytes(bad, copy);
        ImageJobOptions options = imagetest::jobOptions(bad, dir / "out.png", kFormatPNG);
        testing::internal::CaptureStderr();
        const bool ok = ConvertImageFile(&options);
        const std::string message = testing::internal::GetCapturedStderr();
        if (!ok) {
            EXPECT_NE(message, "");
        }
        std::error_code ignored;
        fs::remove(dir / "out.png", ignored);
    }
}
