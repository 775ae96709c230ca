// Every format code written by ConvertImageFile and read back by ImageMagick, libtiff, Poppler,
// Exiv2.
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <cmath>
#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <tiffio.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kW = 64, kH = 48;

struct Expectation {
    std::int32_t code;
    const char* coder; // ImageMagick coder that reads the output back
    int maxDiff;       // largest colour difference allowed (0: lossless)
    double meanDiff;   // mean difference allowed
    bool storesDPI;    // the file records 150 dpi
};

const Expectation kWritable[] = {
    {0, "JPEG", 40, 3.0, true}, {1, "PSD", 0, 0, true},     {2, "GIF", 64, 8.0, false},
    {3, "JP2", 40, 3.0, false}, {4, "JPEG", 40, 3.0, true}, {5, "EXR", 6, 2.0, false},
    {7, "PNG", 0, 0, true},     {9, "TGA", 0, 0, false},    {10, "TIFF", 0, 0, true},
    {11, "BMP", 0, 0, true},    {12, "SGI", 0, 0, false},   {13, "TIFF", 0, 0, true},
    {14, "PICT", 0, 0, false},  {18, "ICO", 0, 0, false},   {23, "TIFF", 0, 0, true},
};

fs::path makeSource(const fs::path& dir, bool alpha) {
    const fs::path source = dir / (alpha ? "alpha.png" : "opaque.png");
    auto image = imagetest::gradient(kW, kH, alpha);
    image.resolutionUnits(Magick::PixelsPerInchResolution);
    image.density(Magick::Geometry(96, 96));
    imagetest::writeWith(image, "PNG", source);
    return source;
}

bool convert(const fs::path& in, const fs::path& out, std::int32_t code, std::int64_t dpi,
             double quality = 0.9) {
    ImageJobOptions options = imagetest::jobOptions(in, out, code);
    options.dpi = dpi;
    options.quality = quality;
    return ConvertImageFile(&options);
}

int exifOrientation(const fs::path& file) {
    auto image = Exiv2::ImageFactory::open(file.string());
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    return it == image->exifData().end() ? 0 : int(it->toLong());
}

// The source composited onto white, as formats without alpha must show it.
imagetest::Pixels onWhite(imagetest::Pixels p) {
    for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
        const int a = p.rgba[i + 3];
        for (int c = 0; c < 3; ++c)
            p.rgba[i + c] = std::uint8_t((p.rgba[i + c] * a + 255 * (255 - a) + 127) / 255);
        p.rgba[i + 3] = 255;
    }
    p.alpha = false;
    return p;
}

} // namespace

TEST(ImageRoundTrip, EveryWritableCodeDecodesBackWithinItsTolerance) {
    const fs::path dir = imagetest::freshDir("round-trip");
    const fs::path source = makeSource(dir, false);
    const imagetest::Pixels expected = imagetest::readPixels(source);
    for (const Expectation& e : kWritable) {
        SCOPED_TRACE(e.code);
        const fs::path out =
            dir / ("out" + std::to_string(e.code) + "." + ExtensionForImageFormat(e.code));
        ASSERT_TRUE(convert(source, out, e.code, 150));
        const imagetest::Pixels back = imagetest::readPixels(out, e.coder);
        ASSERT_EQ(back.width, kW);
        ASSERT_EQ(back.height, kH);
        EXPECT_LE(imagetest::maxDifference(expected, back), e.maxDiff);
        EXPECT_LE(imagetest::meanDifference(expected, back), e.meanDiff);
        if (e.storesDPI) {
            EXPECT_NEAR(imagetest::dpiOf(out, e.coder), 150, 0.5);
        }
    }
}

TEST(ImageRoundTrip, HigherJPEGQualityIsLargerAndCloser) {
    const fs::path dir = imagetest::freshDir("jpeg-quality");
    const fs::path source = makeSource(dir, false);
    const imagetest::Pixels expected = imagetest::readPixels(source);
    ASSERT_TRUE(convert(source, dir / "low.jpg", 4, 0, 0.1));
    ASSERT_TRUE(convert(source, dir / "high.jpg", 4, 0, 1.0));
    EXPECT_LT(fs::file_size(dir / "low.jpg"), fs::file_size(dir / "high.jpg"));
    EXPECT_LT(imagetest::meanDifference(expected, imagetest::readPixels(dir / "high.jpg")),
              imagetest::meanDifference(expected, imagetest::readPixels(dir / "low.jpg")));
}

TEST(ImageRoundTrip, AlphaIsKeptExactlyByAlphaFormatsAndFlattenedOntoWhiteByOthers) {
    const fs::path dir = imagetest::freshDir("alpha");
    const fs::path source = makeSource(dir, true);
    const imagetest::Pixels expected = imagetest::readPixels(source);
    ASSERT_TRUE(expected.alpha);
    for (auto [code, coder] : {std::pair{7, "PNG"}, {10, "TIFF"}, {3, "JP2"}}) {
        SCOPED_TRACE(code);
        const fs::path out =
            dir / ("a" + std::to_string(code) + "." + ExtensionForImageFormat(code));
        ASSERT_TRUE(convert(source, out, code, 0, 1.0));
        const imagetest::Pixels back = imagetest::readPixels(out, coder);
        EXPECT_TRUE(back.alpha);
        EXPECT_EQ(imagetest::maxDifference(expected, back), 0);
    }
    const imagetest::Pixels flat = onWhite(expected);
    for (auto [code, coder, tolerance] :
         {std::tuple{4, "JPEG", 40}, {11, "BMP", 1}, {13, "TIFF", 1}, {23, "TIFF", 1}}) {
        SCOPED_TRACE(code);
        const fs::path out =
            dir / ("f" + std::to_string(code) + "." + ExtensionForImageFormat(code));
        ASSERT_TRUE(convert(source, out, code, 0, 0.95));
        const imagetest::Pixels back = imagetest::readPixels(out, coder);
        EXPECT_FALSE(back.alpha);
        EXPECT_LE(imagetest::maxDifference(flat, back), tolerance);
    }
    // GIF keeps transparency as one colour: the most transparent column is see-through.
    ASSERT_TRUE(convert(source, dir / "a.gif", 2, 0));
    const imagetest::Pixels gif = imagetest::readPixels(dir / "a.gif", "GIF");
    EXPECT_TRUE(gif.alpha);
}

TEST(ImageRoundTrip, TIFFOutputsUseLZWAndInchesAndCarryTheOrientation) {
    const fs::path dir = imagetest::freshDir("tiff-tags");
    const fs::path source = makeSource(dir, false);
    for (std::int32_t code : {10, 13, 23}) {
        SCOPED_TRACE(code);
        ImageConversionJob job;
        ASSERT_TRUE(job.LoadInputImage(source));
        job.SetOutputFormat(code, dir / ("t" + std::to_string(code) + ".tif"), 0.8);
        job.SetResolution(300, 300);
        job.SetRotationAngle(-90);
        ASSERT_TRUE(ConvertImage(job));
        const imagetest::TIFFPageInfo tags = imagetest::readTIFFPages(job.outputURL).at(0);
        EXPECT_EQ(tags.compression, COMPRESSION_LZW);
        EXPECT_EQ(tags.resolutionUnit, RESUNIT_INCH);
        EXPECT_FLOAT_EQ(tags.xResolution, 300);
        EXPECT_EQ(tags.orientation, 8);
        EXPECT_EQ(tags.samples, 3);
    }
    // The fax code writes a bilevel group 3 TIFF.
    ASSERT_TRUE(convert(source, dir / "page.fax", 21, 200));
    EXPECT_EQ(imagetest::readTIFFPages(dir / "page.fax").at(0).compression, COMPRESSION_CCITTFAX3);
    const imagetest::Pixels fax = imagetest::readPixels(dir / "page.fax", "TIFF");
    EXPECT_EQ(fax.width, kW);
    for (std::size_t i = 0; i < fax.rgba.size(); i += 4)
        ASSERT_TRUE(fax.rgba[i] == 0 || fax.rgba[i] == 255);
}

TEST(ImageRoundTrip, OrientationReachesJPEGAndPNGOutputs) {
    const fs::path dir = imagetest::freshDir("orientation");
    const fs::path source = makeSource(dir, false);
    for (auto [code, angle, expected] : {std::tuple{4, 90, 6}, {7, 180, 3}, {4, 270, 8}}) {
        ImageConversionJob job;
        ASSERT_TRUE(job.LoadInputImage(source));
        job.SetOutputFormat(
            code, dir / ("o" + std::to_string(angle) + "." + ExtensionForImageFormat(code)), 0.8);
        job.SetRotationAngle(angle);
        ASSERT_TRUE(ConvertImage(job));
        EXPECT_EQ(exifOrientation(job.outputURL), expected) << code << " " << angle;
    }
    ImageConversionJob unchanged;
    unchanged.SetRotationAngle(45);
    unchanged.SetRotationAngle(450);
    EXPECT_EQ(unchanged.orientation, 0);
}

namespace {

// A one-page PDF whose page is the source picture at `dpi`.
void expectPageOfThePicture(const fs::path& file, const fs::path& source, double dpi) {
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(file.string()));
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pages(), 1);
    std::unique_ptr<poppler::page> page(doc->create_page(0));
    const poppler::rectf box = page->page_rect();
    EXPECT_NEAR(box.width(), kW * 72.0 / dpi, 0.01);
    EXPECT_NEAR(box.height(), kH * 72.0 / dpi, 0.01);
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_rgb24);
    const poppler::image drawn = renderer.render_page(page.get(), dpi, dpi);
    ASSERT_EQ(drawn.width(), int(kW));
    const imagetest::Pixels expected = imagetest::readPixels(source);
    // The middle pixel, where no edge filtering reaches.
    const std::size_t x = kW / 2, y = kH / 2;
    const auto* rgb = reinterpret_cast<const std::uint8_t*>(drawn.const_data()) +
                      y * std::size_t(drawn.bytes_per_row()) + x * 3;
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(int(rgb[c]), expected.rgba[(y * kW + x) * 4 + std::size_t(c)], 4) << c;
}

} // namespace

TEST(ImageRoundTrip, PDFOutputHoldsThePictureAtItsResolution) {
    const fs::path dir = imagetest::freshDir("pdf-out");
    const fs::path source = makeSource(dir, false);
    ASSERT_TRUE(convert(source, dir / "one.pdf", 8, 144));
    expectPageOfThePicture(dir / "one.pdf", source, 144);
}

// Illustrator files since CS2 are PDF files; ImageMagick's writer puts the picture on a page.
TEST(ImageRoundTrip, IllustratorOutputIsAPDFPageOfThePicture) {
    const fs::path dir = imagetest::freshDir("ai-out");
    const fs::path source = makeSource(dir, false);
    ASSERT_TRUE(convert(source, dir / "one.ai", 15, 144));
    expectPageOfThePicture(dir / "one.ai", source, 144);
}

TEST(ImageRoundTrip, XBMCodeWritesAReadableBilevelFile) {
    const fs::path dir = imagetest::freshDir("bilevel");
    const fs::path source = makeSource(dir, false);
    ASSERT_TRUE(convert(source, dir / "b.xbm", 19, 0));
    const imagetest::Pixels xbm = imagetest::readPixels(dir / "b.xbm", "XBM");
    EXPECT_EQ(xbm.width, kW);
    EXPECT_EQ(xbm.height, kH);
}

TEST(ImageRoundTrip, CodesWithoutAWriterRefuseAndLeaveNoFile) {
    const fs::path dir = imagetest::freshDir("refusals");
    const fs::path source = makeSource(dir, false);
    for (std::int32_t code : {16, 17, 20, 22, -1, 25}) {
        SCOPED_TRACE(code);
        const fs::path out = dir / ("r" + std::to_string(code) + ".out");
        testing::internal::CaptureStderr();
        EXPECT_FALSE(convert(source, out, code, 0));
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(message.empty());
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(imagetest::listFolder(dir), (std::vector<std::string>{"opaque.png"}));
}

namespace {

// 64 x 48 RGB samples of 16 bits, every one distinct in its low byte from its neighbours.
std::vector<std::uint16_t> sixteenBitSamples() {
    std::vector<std::uint16_t> samples(kW * kH * 3);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::uint16_t(i * 40503u + (i % 3) * 11u);
    return samples;
}

// The first picture of a file as ImageMagick reads it, at 16 bits a sample.
std::vector<std::uint16_t> readSixteenBits(const fs::path& file) {
    Magick::Image image;
    image.read(file.string());
    std::vector<std::uint16_t> samples(image.columns() * image.rows() * 3);
    image.write(0, 0, image.columns(), image.rows(), "RGB", Magick::ShortPixel, samples.data());
    return samples;
}

} // namespace

// A picture of 16 bits a sample, converted into a format that holds 16 bits, keeps every sample
// (PNG, TIFF, Photoshop, lossless JPEG 2000; OpenEXR as closely as its half floats hold them),
// and so does a render that only changes the resolution. Formats of 8 bits take the high bytes.
TEST(ImageRoundTrip, SixteenBitSamplesSurviveConversionIntoFormatsThatHoldThem) {
    const fs::path dir = imagetest::freshDir("sixteen-bits");
    const std::vector<std::uint16_t> samples = sixteenBitSamples();
    Magick::Image image(kW, kH, "RGB", Magick::ShortPixel, samples.data());
    image.depth(16);
    for (const char* source : {"source.png", "source.tif"}) {
        SCOPED_TRACE(source);
        Magick::Image copy = image;
        copy.write((dir / source).string());
        ASSERT_EQ(readSixteenBits(dir / source), samples);
        for (const auto& [code, name] : std::vector<std::pair<std::int32_t, std::string>>{
                 {7, "out.png"}, {10, "out.tif"}, {1, "out.psd"}, {3, "out.jp2"}}) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(convert(dir / source, dir / name, code, 0, 1.0));
            EXPECT_EQ(readSixteenBits(dir / name), samples);
        }
        ASSERT_TRUE(convert(dir / source, dir / "out.exr", 5, 0, 1.0));
        const std::vector<std::uint16_t> exr = readSixteenBits(dir / "out.exr");
        ASSERT_EQ(exr.size(), samples.size());
        int worst = 0;
        for (std::size_t i = 0; i < samples.size(); ++i)
            worst = std::max(worst, std::abs(int(exr[i]) - int(samples[i])));
        EXPECT_LT(worst, 64); // a half float's 11 bits, not 8
        ASSERT_TRUE(convert(dir / source, dir / "out.jpg", 4, 0, 1.0));
        EXPECT_EQ(imagetest::readPixels(dir / "out.jpg").width, kW);
    }
    ImageJobOptions render = imagetest::jobOptions(dir / "source.png", dir / "rendered.png", 7);
    render.renderSize.resample = false;
    render.renderSize.unit = kLengthInches;
    render.renderSize.width = 2;
    ASSERT_TRUE(RenderImageFile(&render));
    EXPECT_EQ(readSixteenBits(dir / "rendered.png"), samples);
}
