// Render and resize on pictures made in memory, decoded again with ImageMagick and libtiff.
#include "ImageRender.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "PDFPagesToImages.h"
#include "RenderTestSupport.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>

using namespace conversion;
using imagetest::Pixels;

namespace {

using rendertest::pixels;
using rendertest::render;
using rendertest::Rendered;

// Every pixel tells where it came from: red and green the low bytes of x and y, blue the rest.
Bitmap coordinatePicture(std::int64_t w, std::int64_t h, double dpi = 72) {
    Bitmap b = rendertest::makeBitmap(w, h, false, [](std::int64_t x, std::int64_t y) {
        return std::array<int, 4>{int(x % 256), int(y % 256), int((x / 256) + 16 * (y / 256)), 255};
    });
    b.dpiX = b.dpiY = dpi;
    return b;
}

using imagetest::at;

} // namespace

TEST(ImageRender, PixelTargetsGiveTheSizesOfEachFitMode) {
    const Bitmap photo = coordinatePicture(4000, 3000);
    struct Case {
        RenderSize size;
        bool enlarge;
        std::size_t w, h;
    } cases[] = {
        {pixels(800, 0, true), false, 800, 600},
        {pixels(800, 800, true, 2), false, 800, 600},
        {pixels(800, 500, true, 2), false, 667, 500},
        {pixels(0, 300, true), false, 400, 300},
        {pixels(5000, 100, false), false, 4000, 3000},
        {pixels(1000, 1000, false, 3), false, 1000, 1000},
    };
    for (const Case& c : cases) {
        RenderSize size = c.size;
        size.allowEnlarging = c.enlarge;
        const Rendered r = render(photo, size);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.pixels.width, c.w) << size.width << " x " << size.height;
        EXPECT_EQ(r.pixels.height, c.h) << size.width << " x " << size.height;
    }
}

TEST(ImageRender, CentredCanvasIsAFullScaleCropOfTheMiddle) {
    const Rendered r = render(coordinatePicture(4000, 3000), pixels(1000, 1000, false, 3));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.pixels.width, 1000u);
    for (std::size_t y : {0u, 500u, 999u})
        for (std::size_t x : {0u, 321u, 999u}) {
            const std::int64_t sx = 1500 + std::int64_t(x), sy = 1000 + std::int64_t(y);
            const std::uint8_t* p = at(r.pixels, x, y);
            EXPECT_EQ(p[0], sx % 256) << x << "," << y;
            EXPECT_EQ(p[1], sy % 256) << x << "," << y;
            EXPECT_EQ(p[2], sx / 256 + 16 * (sy / 256)) << x << "," << y;
        }
}

TEST(ImageRender, PhysicalUnitsAndPercentagesBecomePixelsAndResolutions) {
    // 10 cm x 5 cm at 300 dpi: truncated, not rounded.
    RenderSize cm;
    cm.unit = kLengthCentimetres;
    cm.width = 10;
    cm.height = 5;
    cm.dpi = 300;
    cm.resample = true;
    Rendered r = render(coordinatePicture(2000, 1000), cm);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels.width, 1181u);
    EXPECT_EQ(r.pixels.height, 590u);
    EXPECT_NEAR(r.dpiX, 300, 0.5);

    // Only the resolution changes: 600 pixels over 2 inches is 300 dpi; the vertical resolution
    // follows by the same factor.
    Bitmap tall = coordinatePicture(600, 400);
    tall.dpiY = 144;
    RenderSize inches;
    inches.unit = kLengthInches;
    inches.width = 2;
    inches.resample = false;
    r = render(tall, inches);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels.width, 600u);
    EXPECT_EQ(r.pixels.height, 400u);
    EXPECT_NEAR(r.dpiX, 300, 0.5);
    EXPECT_NEAR(r.dpiY, 600, 0.5);

    RenderSize half;
    half.unit = kLengthPercent;
    half.width = 50;
    half.keepAspectRatio = true;
    half.resample = true;
    r = render(coordinatePicture(600, 400), half);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels.width, 300u);
    EXPECT_EQ(r.pixels.height, 200u);
    half.resample = false;
    r = render(coordinatePicture(600, 400), half);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels.width, 600u);
    EXPECT_NEAR(r.dpiX, 144, 0.5);
    EXPECT_NEAR(r.dpiY, 144, 0.5);

    // Both sides in percent at 144 dpi: the picture's 300 x 200 points are not taken for pixels.
    half.height = 50;
    half.resample = true;
    half.fitMode = 2;
    r = render(coordinatePicture(600, 400, 144), half);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.pixels.width, 600u);
    EXPECT_EQ(r.pixels.height, 400u);
}

TEST(ImageRender, ImpossibleTargetsFailWithAMessage) {
    // Keeping the aspect needs a one-sided target.
    const Rendered both = render(coordinatePicture(40, 30), pixels(20, 20, true, 0));
    EXPECT_FALSE(both.ok);
    EXPECT_NE(both.error.find("aspect ratio"), std::string::npos) << both.error;
    EXPECT_FALSE(render(coordinatePicture(40, 30), pixels(0, 0, true, 0)).ok);
    RenderSize huge = pixels(1e6, 1e6, false);
    huge.allowEnlarging = true;
    const Rendered r = render(coordinatePicture(40, 30), huge);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("pixels"), std::string::npos) << r.error;
    huge.width = std::nan("");
    EXPECT_FALSE(render(coordinatePicture(40, 30), huge).ok);
}

namespace {

// A B C
// D E F
const std::array<std::array<int, 3>, 6> kColours = {
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {0, 255, 255}, {255, 0, 255}}};

Bitmap letters() {
    return rendertest::makeBitmap(3, 2, false, [](std::int64_t x, std::int64_t y) {
        const auto& c = kColours[std::size_t(y * 3 + x)];
        return std::array<int, 4>{c[0], c[1], c[2], 255};
    });
}

// The picture as rows of letters, "?" for a colour that is none of the six.
std::string lettersOf(const Pixels& p) {
    std::string out;
    for (std::size_t y = 0; y < p.height; ++y) {
        if (y)
            out += '/';
        for (std::size_t x = 0; x < p.width; ++x) {
            const std::uint8_t* s = at(p, x, y);
            char letter = '?';
            for (std::size_t i = 0; i < kColours.size(); ++i)
                if (s[0] == kColours[i][0] && s[1] == kColours[i][1] && s[2] == kColours[i][2])
                    letter = char('A' + i);
            out += letter;
        }
    }
    return out;
}

} // namespace

TEST(ImageRender, EveryRotationAndFlipPlacesEachPixelExactly) {
    struct Case {
        std::int64_t degrees;
        std::int32_t flips;
        const char* expected;
    } cases[] = {
        {0, 0, "ABC/DEF"},
        {0, kFlipHorizontal, "CBA/FED"},
        {0, kFlipVertical, "DEF/ABC"},
        {0, kFlipHorizontal | kFlipVertical, "FED/CBA"},
        {180, 0, "FED/CBA"},
        {180, kFlipHorizontal | kFlipVertical, "ABC/DEF"},
        {180, kFlipHorizontal, "DEF/ABC"},
        {180, kFlipVertical, "CBA/FED"},
        {90, 0, "CF/BE/AD"},  // a quarter turn counter-clockwise
        {270, 0, "DA/EB/FC"}, // clockwise
        {-90, 0, "DA/EB/FC"},
        {90, kFlipHorizontal, "FC/EB/DA"},
        {90, kFlipVertical, "AD/BE/CF"},
        {270, kFlipHorizontal, "AD/BE/CF"},
        {270, kFlipVertical, "FC/EB/DA"},
        {450, 0, "CF/BE/AD"}, // beyond a full turn: taken modulo 360
        {-450, 0, "DA/EB/FC"},
        {360, 0, "ABC/DEF"},
        {45, 0, "ABC/DEF"}, // not a quarter turn: no turn, no exchange of sides
    };
    for (const Case& c : cases) {
        for (bool resample : {true, false}) {
            RenderSize size = pixels(3, 2, false);
            size.resample = resample;
            size.width = resample ? 3 : 0; // the resolution-only path with no target
            const Rendered r = render(letters(), size, [&](ImageConversionJob& job) {
                job.rotationDegrees = c.degrees;
                job.flipFlags = c.flips;
            });
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(lettersOf(r.pixels), c.expected)
                << c.degrees << " degrees, flips " << c.flips << (resample ? "" : ", no resample");
        }
    }
}

TEST(ImageRender, QuarterTurnExchangesTheResolutions) {
    Bitmap b = letters();
    b.dpiX = 100;
    b.dpiY = 200;
    RenderSize size = pixels(3, 2, false);
    const Rendered r = render(b, size, [](ImageConversionJob& job) { job.rotationDegrees = 90; });
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NEAR(r.dpiX, 200, 0.5);
    EXPECT_NEAR(r.dpiY, 100, 0.5);
}

TEST(ImageRender, UnitConversions) {
    EXPECT_DOUBLE_EQ(PointsFromUnit(kLengthMillimetres, 25.4), 72);
    EXPECT_DOUBLE_EQ(PointsFromUnit(kLengthCentimetres, 2.54), 72);
    EXPECT_DOUBLE_EQ(PointsFromUnit(kLengthInches, 2), 144);
    EXPECT_DOUBLE_EQ(PointsFromUnit(99, 1), 72);
    EXPECT_NEAR(InchesFromUnit(kLengthMillimetres, 254), 10, 1e-6);
    EXPECT_NEAR(InchesFromUnit(kLengthCentimetres, 2.54), 1, 1e-6);
    EXPECT_DOUBLE_EQ(InchesFromUnit(kLengthPoints, 144), 2);
}

TEST(ImageRender, DownscaledGradientStaysWithinTwoLevels) {
    const Bitmap ramp = rendertest::makeBitmap(600, 400, false, [](std::int64_t x, std::int64_t y) {
        return std::array<int, 4>{int(x * 255 / 599), int(y * 255 / 399), 128, 255};
    });
    const Rendered r = render(ramp, pixels(150, 0, true));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.pixels.width, 150u);
    ASSERT_EQ(r.pixels.height, 100u);
    int worst = 0;
    for (std::size_t y = 0; y < 100; ++y)
        for (std::size_t x = 0; x < 150; ++x) {
            // Each output pixel covers four source pixels on each axis: their mean.
            double ex = 0, ey = 0;
            for (int i = 0; i < 4; ++i) {
                ex += double((4 * x + std::size_t(i)) * 255 / 599) / 4;
                ey += double((4 * y + std::size_t(i)) * 255 / 399) / 4;
            }
            const std::uint8_t* p = at(r.pixels, x, y);
            worst = std::max({worst, int(std::lround(std::fabs(p[0] - ex))),
                              int(std::lround(std::fabs(p[1] - ey))), std::abs(p[2] - 128)});
        }
    EXPECT_LE(worst, 2);
}

TEST(ImageRender, SharpeningRaisesEdgeContrastAndLeavesFlatAreas) {
    // A vertical edge from dark to light over four pixels, at x = 100.
    const Bitmap edge = rendertest::makeBitmap(200, 40, false, [](std::int64_t x, std::int64_t) {
        const int v = x < 98 ? 60 : x >= 102 ? 200 : 60 + int((x - 98) * 140 / 4);
        return std::array<int, 4>{v, v, v, 255};
    });
    // The largest step between neighbours on a row across the halved edge (now at x = 50).
    auto steepest = [](const Pixels& p) {
        int best = 0;
        for (std::size_t x = 1; x < p.width; ++x)
            best = std::max(best, int(at(p, x, 10)[0]) - int(at(p, x - 1, 10)[0]));
        return best;
    };
    RenderSize size = pixels(100, 0, true);
    const Rendered plain = render(edge, size);
    size.sharpen = true;
    const Rendered sharp = render(edge, size);
    ASSERT_TRUE(plain.ok && sharp.ok);
    EXPECT_GT(steepest(sharp.pixels), steepest(plain.pixels) + 5);
    // ... with the darker side darker and the lighter side lighter next to it.
    EXPECT_LT(at(sharp.pixels, 48, 10)[0], at(plain.pixels, 48, 10)[0] - 2);
    EXPECT_GT(at(sharp.pixels, 51, 10)[0], at(plain.pixels, 51, 10)[0] + 2);
    // Flat areas far from the edge keep their level.
    EXPECT_NEAR(at(sharp.pixels, 10, 10)[0], 60, 1);
    EXPECT_NEAR(at(sharp.pixels, 90, 10)[0], 200, 1);
}

TEST(ImageRender, CMYKWithAlphaIsWrittenAsTIFFWithFiveSamples) {
    const Bitmap glass = rendertest::makeBitmap(64, 32, true, [](std::int64_t x, std::int64_t) {
        return std::array<int, 4>{200, 30, 30, int(x * 4)};
    });
    const imagetest::fs::path dir = imagetest::freshDir("render-cmyk-alpha");
    ImageConversionJob job;
    job.inputImage = std::make_unique<InputImage>();
    job.inputImage->representations.push_back(glass);
    job.inputImageRep = &job.inputImage->representations.front();
    job.inputURL = "glass.png";
    job.SetOutputFormat(kFormatTIFF, dir / "glass.tif", 0.9);
    job.SetColorMode(kColorModeCMYK);
    ASSERT_TRUE(RenderImage(job, pixels(64, 32, false))) << job.lastError;
    const auto pages = imagetest::readTIFFPages(dir / "glass.tif");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].samples, 5);
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_SEPARATED);
    EXPECT_EQ(pages[0].extraSamples, 1);
    EXPECT_EQ(pages[0].firstPixel[4], 0);         // transparent at the left
    EXPECT_NEAR(pages[0].centrePixel[4], 128, 2); // half way across
    EXPECT_GT(pages[0].centrePixel[1], 150);      // red is mostly magenta and yellow ink
    EXPECT_GT(pages[0].centrePixel[2], 150);
    EXPECT_LT(pages[0].centrePixel[0], 60);

    // JPEG has no alpha: the same render is drawn in RGB.
    const Rendered jpeg = render(
        glass, pixels(64, 32, false), [](ImageConversionJob& j) { j.SetColorMode(kColorModeCMYK); },
        kFormatJPEG);
    ASSERT_TRUE(jpeg.ok) << jpeg.error;
    Magick::Image image;
    image.read(Magick::Blob(jpeg.bytes.data(), jpeg.bytes.size()));
    EXPECT_EQ(image.colorSpace(), MagickCore::sRGBColorspace);
}

TEST(ImageRender, CMYKJPEGReadsBackInItsColoursElsewhere) {
    const Bitmap red = rendertest::makeBitmap(32, 16, false, [](std::int64_t, std::int64_t) {
        return std::array<int, 4>{220, 20, 20, 255};
    });
    const Rendered r = render(
        red, pixels(32, 16, false), [](ImageConversionJob& j) { j.SetColorMode(kColorModeCMYK); },
        kFormatJPEG);
    ASSERT_TRUE(r.ok) << r.error;
    Magick::Image image;
    image.read(Magick::Blob(r.bytes.data(), r.bytes.size()));
    EXPECT_EQ(image.colorSpace(), MagickCore::CMYKColorspace);
    const std::uint8_t* p = at(r.pixels, 16, 8);
    EXPECT_GT(p[0], 170);
    EXPECT_LT(p[1], 90);
    EXPECT_LT(p[2], 90);

    // The plain CMYK writer: full magenta and yellow is red, not its complement.
    ImageConversionJob job;
    job.quality = 0.9f;
    job.resolutionX = job.resolutionY = 150;
    std::vector<std::uint8_t> ink(16 * 8 * 4);
    for (std::size_t i = 0; i < ink.size(); i += 4) {
        ink[i] = 0;
        ink[i + 1] = 255;
        ink[i + 2] = 255;
        ink[i + 3] = 0;
    }
    ASSERT_TRUE(WriteCMYKJPEG(job, 16, 8, ink.data(), 4 /* JCS_CMYK */, 4));
    ASSERT_TRUE(job.encodedData);
    const Pixels decoded = rendertest::pixelsOfBytes(*job.encodedData);
    const std::uint8_t* q = at(decoded, 8, 4);
    EXPECT_GT(q[0], 200);
    EXPECT_LT(q[1], 60);
    EXPECT_LT(q[2], 60);
}

TEST(ImageRender, GreyModeAndTheSourceModel) {
    const Bitmap colour = rendertest::makeBitmap(16, 16, false, [](std::int64_t, std::int64_t) {
        return std::array<int, 4>{0, 200, 0, 255};
    });
    const Rendered grey = render(colour, pixels(8, 8, false),
                                 [](ImageConversionJob& j) { j.SetColorMode(kColorModeGray); });
    ASSERT_TRUE(grey.ok) << grey.error;
    const auto pages = [&] {
        const auto dir = imagetest::freshDir("render-grey");
        imagetest::writeBytes(dir / "g.tif", grey.bytes);
        return imagetest::readTIFFPages(dir / "g.tif");
    }();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].samples, 1);
    EXPECT_NEAR(pages[0].centrePixel[0], 117, 3); // the luminance of that green
}
