// Reductions: the resampler shared among threads, and JPEGs decoded reduced by their DCT when a
// render draws them at half their size or less.
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "ImageMetadataCopier.h"
#include "ImageRender.h"
#include "JPEGMemoryCodec.h"
#include "RenderTestSupport.h"
#include "Resample.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

// Fine detail everywhere (a hash of the position), so that any tap taken from the wrong row or
// column shows in the result.
Bitmap noisyPicture(std::int64_t w, std::int64_t h, ColorModel model) {
    Bitmap b;
    b.allocate(w, h, model, false, nullptr);
    for (std::int64_t y = 0; y < h; ++y)
        for (std::int64_t x = 0; x < w; ++x)
            for (int c = 0; c < b.channels(); ++c) {
                std::uint32_t v = std::uint32_t(x * 73856093u ^ y * 19349663u ^ c * 83492791u);
                v ^= v >> 13;
                b.row(y)[x * b.channels() + c] = std::uint8_t(v * 2654435761u >> 24);
            }
    return b;
}

// A photograph-like picture: smooth colour ramps and soft circles, which JPEG keeps well.
Bitmap smoothPicture(std::int64_t w, std::int64_t h) {
    return rendertest::makeBitmap(w, h, false, [w, h](std::int64_t x, std::int64_t y) {
        const double fx = double(x) / double(w), fy = double(y) / double(h);
        const double ring = 0.5 + 0.5 * std::sin(std::hypot(fx - 0.4, fy - 0.6) * 18.0);
        return std::array<int, 4>{int(255 * fx), int(255 * ring), int(255 * (1 - fy)), 255};
    });
}

std::vector<std::uint8_t> jpegOf(const Bitmap& b) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(encodeJPEGBitmap(b, 95, 72, 72, bytes, error)) << error;
    return bytes;
}

int largestDifference(const Bitmap& a, const Bitmap& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return worst;
}

double meanDifference(const Bitmap& a, const Bitmap& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return a.pixels.empty() ? 0 : sum / double(a.pixels.size());
}

} // namespace

TEST(ImageReduce, RowsSharedAmongWorkersGiveTheBytesOfOneWorker) {
    struct Case {
        std::int64_t w, h, tw, th;
        ColorModel model;
    } cases[] = {
        {1001, 777, 333, 259, ColorModel::RGB}, // odd factors, blocks of unequal height
        {640, 480, 640, 480, ColorModel::RGB},  // the same size
        {999, 1001, 17, 1000, ColorModel::Gray}, {300, 2000, 299, 31, ColorModel::CMYK},
        {50, 40, 1, 1, ColorModel::RGB},
    };
    for (const Case& c : cases) {
        const Bitmap source = noisyPicture(c.w, c.h, c.model);
        Bitmap one;
        std::string error;
        ASSERT_TRUE(reduceBitmap(source, c.tw, c.th, 1, one, &error)) << error;
        ASSERT_EQ(one.width, c.tw);
        ASSERT_EQ(one.height, c.th);
        for (unsigned workers : {2u, 3u, 7u, 64u}) {
            Bitmap many;
            ASSERT_TRUE(reduceBitmap(source, c.tw, c.th, workers, many, &error)) << error;
            EXPECT_TRUE(many.pixels == one.pixels) << c.w << " x " << c.h << " -> " << c.tw << " x "
                                                   << c.th << ", " << workers << " workers";
        }
    }
}

TEST(ImageReduce, AverageOfAFlatAreaStaysAndSizesOverTheSourceAreRefused) {
    Bitmap flat;
    flat.allocate(400, 300, ColorModel::RGB, false, nullptr);
    for (std::size_t i = 0; i < flat.pixels.size(); ++i)
        flat.pixels[i] = std::uint8_t(i % 3 == 0 ? 200 : i % 3 == 1 ? 17 : 99);
    Bitmap out;
    std::string error;
    ASSERT_TRUE(reduceBitmap(flat, 123, 77, 0, out, &error)) << error;
    for (std::size_t i = 0; i < out.pixels.size(); ++i)
        ASSERT_EQ(out.pixels[i], flat.pixels[i % 3]) << "sample " << i;
    EXPECT_FALSE(reduceBitmap(flat, 401, 77, 0, out, &error));
    EXPECT_FALSE(reduceBitmap(flat, 10, 0, 0, out, &error));
}

TEST(ImageReduce, ReductionIsTheLargestDCTScaleThatKeepsTheDrawnSize) {
    struct Case {
        double w, h, sx, sy;
        int reduction;
    } cases[] = {
        {6000, 4000, 1732.0 / 6000, 1155.0 / 4000, 2}, // 1/4 would give 1500 wide
        {6000, 4000, 1500.0 / 6000, 1000.0 / 4000, 4}, // exactly a quarter
        {6000, 4000, 700.0 / 6000, 467.0 / 4000, 8},
        {6000, 4000, 100.0 / 6000, 67.0 / 4000, 8}, // never below an eighth
        {6000, 4000, 3001.0 / 6000, 2000.0 / 4000, 1},
        {6001, 4001, 3001.0 / 6001, 2001.0 / 4001, 2}, // sides round up
        {800, 600, 1.0, 1.0, 1},
        {800, 600, 0.2, 0.6, 1}, // the taller side decides
    };
    for (const Case& c : cases)
        EXPECT_EQ(JPEGReductionFor(c.w, c.h, c.sx, c.sy), c.reduction)
            << c.w << " x " << c.h << " at " << c.sx << ", " << c.sy;
}

TEST(ImageReduce, ReducedJPEGDecodeGivesTheRequestedSizeAndCloseColours) {
    const fs::path dir = testfiles::freshDir("reduced-jpeg");
    const Bitmap picture = smoothPicture(1600, 1200);
    const std::vector<std::uint8_t> jpeg = jpegOf(picture);
    testfiles::writeBytes(dir / "in.jpg", jpeg);
    // The whole decode reduced by the resampler alone, as the reference.
    Bitmap full, reference;
    std::string error;
    ASSERT_TRUE(decodeJPEGBitmap(jpeg.data(), jpeg.size(), full, error)) << error;
    struct Case {
        std::int64_t width, height;
        int reduction;
    } cases[] = {{700, 525, 2}, {400, 300, 4}, {150, 112, 8}, {301, 226, 4}};
    for (const Case& c : cases) {
        ImageJobOptions options =
            testfiles::jobOptions(dir / "in.jpg", dir / "out.tif", kFormatTIFF);
        options.renderSize = rendertest::pixels(double(c.width), 0, true);
        // The plan the entry makes before decoding.
        ImageConversionJob probe;
        ASSERT_TRUE(probe.LoadInputHeader(dir / "in.jpg"));
        EXPECT_EQ(probe.GetPixelsWide(), 1600);
        probe.planOnly = true;
        probe.SetOutputFormat(kFormatTIFF, dir / "planned.tif", 0.8);
        ASSERT_TRUE(RenderImage(probe, options.renderSize)) << probe.lastError;
        EXPECT_FALSE(fs::exists(dir / "planned.tif"));
        EXPECT_EQ(JPEGReductionFor(1600, 1200, probe.plannedScaleX, probe.plannedScaleY),
                  c.reduction)
            << c.width;
        // The reduced load stands for the whole picture.
        ImageConversionJob job;
        ASSERT_TRUE(job.LoadInputImage(dir / "in.jpg", c.reduction)) << job.lastError;
        EXPECT_EQ(job.inputImageRep->width, (1600 + c.reduction - 1) / c.reduction);
        EXPECT_EQ(job.GetPixelsWide(), 1600);
        EXPECT_EQ(job.GetPixelsHigh(), 1200);
        // And the entry's output has the size asked for, close to the reference.
        ASSERT_TRUE(RenderImageFile(&options));
        const std::vector<std::uint8_t> tiff = testfiles::readBytes(dir / "out.tif");
        std::vector<Bitmap> pictures;
        ASSERT_TRUE(decodeImageBytes(tiff.data(), tiff.size(), "tif", pictures, error)) << error;
        ASSERT_EQ(pictures.size(), 1u);
        ASSERT_EQ(pictures[0].width, c.width);
        ASSERT_EQ(pictures[0].height, c.height);
        ASSERT_TRUE(reduceBitmap(full, c.width, c.height, 1, reference, &error)) << error;
        EXPECT_LT(meanDifference(pictures[0], reference), 2.0) << c.width;
        EXPECT_LE(largestDifference(pictures[0], reference), 40) << c.width;
    }
}

TEST(ImageReduce, TurnedJPEGIsPlannedOnItsUprightSize) {
    const fs::path dir = testfiles::freshDir("reduced-turned");
    const Bitmap picture = smoothPicture(800, 600);
    std::vector<std::uint8_t> jpeg = jpegOf(picture);
    std::string error;
    ASSERT_TRUE(writeImageOrientation(jpeg, 6, error)) << error;
    testfiles::writeBytes(dir / "in.jpg", jpeg);
    ImageConversionJob probe;
    ASSERT_TRUE(probe.LoadInputHeader(dir / "in.jpg"));
    EXPECT_EQ(probe.GetPixelsWide(), 600);
    EXPECT_EQ(probe.GetPixelsHigh(), 800);
    ImageJobOptions options = testfiles::jobOptions(dir / "in.jpg", dir / "out.tif", kFormatTIFF);
    options.renderSize = rendertest::pixels(150, 0, true);
    ASSERT_TRUE(RenderImageFile(&options));
    const std::vector<std::uint8_t> tiff = testfiles::readBytes(dir / "out.tif");
    std::vector<Bitmap> pictures;
    ASSERT_TRUE(decodeImageBytes(tiff.data(), tiff.size(), "tif", pictures, error)) << error;
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].width, 150);
    EXPECT_EQ(pictures[0].height, 200);
}
