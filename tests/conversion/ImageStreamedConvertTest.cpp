// Plain JPEG and PNG conversions, which go a band of rows at a time: the same bytes as the
// whole-picture path, lossless PNG, and damaged inputs reported with nothing left behind.
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "ImageTestSupport.h"

#include <gtest/gtest.h>

using namespace conversion;
using namespace imagetest;

namespace {

// The file the whole-picture path writes for the same job.
Bytes wholePictureOutput(const fs::path& in, const fs::path& out, std::int32_t format,
                         double quality) {
    ImageConversionJob job;
    EXPECT_TRUE(job.LoadInputImage(in)) << job.lastError;
    job.SetOutputFormat(format, out, quality);
    job.SetKeepResolution(true);
    EXPECT_TRUE(ConvertImage(job)) << job.lastError;
    return readBytes(out);
}

Bytes streamedOutput(const fs::path& in, const fs::path& out, std::int32_t format, double quality) {
    ImageJobOptions options = jobOptions(in, out, format);
    options.quality = quality;
    EXPECT_TRUE(ConvertImageFile(&options));
    return readBytes(out);
}

} // namespace

TEST(ImageStreamedConvert, OutputsHaveTheBytesOfTheWholePicturePath) {
    const fs::path dir = freshDir("streamed-same-bytes");
    // Inputs of every layout the band readers take, at sizes that end mid-band.
    Magick::Image rgb = gradient(203, 131);
    rgb.density(Magick::Geometry(150, 150));
    writeWith(rgb, "JPEG", dir / "rgb.jpg");
    writeWith(rgb, "PNG24", dir / "rgb.png");
    Magick::Image grey = gradient(97, 65);
    grey.type(Magick::GrayscaleType);
    writeWith(grey, "JPEG", dir / "grey.jpg");
    writeWith(grey, "PNG8", dir / "palette.png");
    writeWith(grey, "PNG", dir / "grey.png");
    writeWith(gradient(120, 70, true), "PNG32", dir / "alpha.png");
    Magick::Image deep = gradient(64, 33);
    deep.depth(16);
    writeWith(deep, "PNG48", dir / "deep.png");
    // TIFF in strips of a few rows (the last one short), compressed or not, grey, with alpha.
    Magick::Image strips = gradient(203, 131);
    strips.density(Magick::Geometry(300, 300));
    strips.defineValue("tiff", "rows-per-strip", "7");
    writeWith(strips, "TIFF", dir / "rgb.tif");
    strips.compressType(Magick::LZWCompression);
    writeWith(strips, "TIFF", dir / "lzw.tif");
    writeWith(grey, "TIFF", dir / "grey.tif");
    writeWith(gradient(120, 70, true), "TIFF", dir / "alpha.tif");
    for (const char* name :
         {"rgb.jpg", "rgb.png", "grey.jpg", "palette.png", "grey.png", "alpha.png", "deep.png",
          "rgb.tif", "lzw.tif", "grey.tif", "alpha.tif"}) {
        for (const std::int32_t format : {kFormatJPEG, kFormatPNG}) {
            const std::string ext = format == kFormatJPEG ? ".jpg" : ".png";
            const Bytes whole = wholePictureOutput(
                dir / name, dir / ("whole-" + std::string(name) + ext), format, 0.77);
            const Bytes streamed = streamedOutput(
                dir / name, dir / ("streamed-" + std::string(name) + ext), format, 0.77);
            EXPECT_FALSE(streamed.empty()) << name;
            EXPECT_TRUE(whole == streamed) << name << " as " << ext;
        }
    }
}

TEST(ImageStreamedConvert, PNGOutputDecodesToTheSamePixels) {
    const fs::path dir = freshDir("streamed-lossless");
    writeWith(gradient(333, 257, true), "PNG32", dir / "in.png");
    writeWith(gradient(333, 257), "PNG24", dir / "in24.png");
    for (const char* name : {"in.png", "in24.png"}) {
        streamedOutput(dir / name, dir / "out.png", kFormatPNG, 0.8);
        const Pixels before = readPixels(dir / name), after = readPixels(dir / "out.png");
        ASSERT_EQ(after.width, before.width);
        ASSERT_EQ(after.height, before.height);
        EXPECT_EQ(after.alpha, before.alpha) << name;
        EXPECT_TRUE(after.rgba == before.rgba) << name;
    }
}

TEST(ImageStreamedConvert, DamagedTIFFStripIsReportedAndLeavesNoOutput) {
    const fs::path dir = freshDir("streamed-damaged-tiff");
    Magick::Image picture = gradient(300, 200);
    picture.defineValue("tiff", "rows-per-strip", "16");
    picture.compressType(Magick::LZWCompression);
    writeWith(picture, "TIFF", dir / "good.tif");
    Bytes bytes = readBytes(dir / "good.tif");
    // The strips come first in ImageMagick's files: a run of garbage in the middle of them.
    for (std::size_t i = bytes.size() / 4; i < bytes.size() / 4 + 200; ++i)
        bytes[i] = std::uint8_t(i * 37);
    writeBytes(dir / "bad.tif", bytes);
    // The band reader says what the whole-page reader says of this file: the same pixels (a
    // strip cut short leaves the rest of its rows blank), or the same failure and no output.
    ImageConversionJob whole;
    const bool wholeOK = whole.LoadInputImage(dir / "bad.tif");
    ImageJobOptions options = jobOptions(dir / "bad.tif", dir / "out.jpg", kFormatJPEG);
    EXPECT_EQ(ConvertImageFile(&options), wholeOK);
    if (wholeOK) {
        EXPECT_TRUE(wholePictureOutput(dir / "bad.tif", dir / "whole.jpg", kFormatJPEG, 0.8) ==
                    readBytes(dir / "out.jpg"));
    } else {
        EXPECT_FALSE(fs::exists(dir / "out.jpg"));
    }
}

TEST(ImageStreamedConvert, DamagedInputIsReportedAndLeavesNoOutput) {
    const fs::path dir = freshDir("streamed-damaged");
    writeWith(gradient(400, 300), "PNG24", dir / "good.png");
    const Bytes good = readBytes(dir / "good.png");
    // Cut inside the picture data: the rows before the cut were already encoded.
    writeBytes(dir / "cut.png", Bytes(good.begin(), good.begin() + long(good.size() / 2)));
    for (const std::int32_t format : {kFormatJPEG, kFormatPNG}) {
        const fs::path out = dir / (format == kFormatJPEG ? "out.jpg" : "out.png");
        const std::string command = std::string(LUMENO_CONVTOOL) + " convert " +
                                    shellQuote(dir / "cut.png") + " " + shellQuote(out) +
                                    " --format " + std::to_string(format) + " 2>&1";
        int status = 0;
        const std::string messages = capture(command, &status);
        EXPECT_NE(status, 0);
        EXPECT_NE(messages.find("cut.png: damaged PNG data: PNG data ends early"),
                  std::string::npos)
            << messages;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(listFolder(dir), (std::vector<std::string>{"cut.png", "good.png"}));
}

TEST(ImageStreamedConvert, PicturesStoredTurnedAreStillTurnedUpright) {
    const fs::path dir = freshDir("streamed-turned");
    // Written by ImageMagick (with its text chunks), then given EXIF orientation 6.
    for (const char* coder : {"PNG24", "JPEG"}) {
        const fs::path in = dir / (std::string("in.") + (coder[0] == 'P' ? "png" : "jpg"));
        writeWith(gradient(60, 20), coder, in);
        Bytes bytes = readBytes(in);
        std::string error;
        ASSERT_TRUE(writeImageOrientation(bytes, 6, error)) << error;
        writeBytes(in, bytes);
        for (const std::int32_t format : {kFormatJPEG, kFormatPNG}) {
            const fs::path out = dir / (format == kFormatJPEG ? "out.jpg" : "out.png");
            streamedOutput(in, out, format, 0.9);
            const Pixels p = readPixels(out);
            EXPECT_EQ(p.width, 20u) << coder;
            EXPECT_EQ(p.height, 60u) << coder;
        }
    }
}
