// The image-file conversion as callers use it, read back with ImageMagick, libtiff and Poppler.
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <poppler-document.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <zlib.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

fs::path threePageTIFF(const fs::path& dir) {
    std::vector<Magick::Image> pages;
    for (std::size_t i = 0; i < 3; ++i)
        pages.push_back(imagetest::gradient(30 + 10 * i, 20 + 5 * i));
    const fs::path path = dir / "scan.tif";
    Magick::writeImages(pages.begin(), pages.end(), "TIFF:" + path.string());
    return path;
}

int pdfPages(const fs::path& path) {
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path.string()));
    return doc ? doc->pages() : -1;
}

} // namespace

TEST(ImageConvert, EntryRefusesMissingOptionsAndUnreadableInputs) {
    const fs::path dir = imagetest::freshDir("entry");
    EXPECT_FALSE(ConvertImageFile(nullptr));
    ImageJobOptions options;
    EXPECT_FALSE(ConvertImageFile(&options));
    options.inputURL = dir / "missing.png";
    EXPECT_FALSE(ConvertImageFile(&options));
    options.outputURL = dir / "out.png";
    options.format = 7;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ConvertImageFile(&options));
    imagetest::writeBytes(dir / "noise.png", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'g'});
    options.inputURL = dir / "noise.png";
    EXPECT_FALSE(ConvertImageFile(&options));
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(imagetest::listFolder(dir), (std::vector<std::string>{"noise.png"}));
}

TEST(ImageConvert, ThreePageTIFFGivesNumberedFilesOrOnePDF) {
    const fs::path dir = imagetest::freshDir("pages");
    const fs::path tiff = threePageTIFF(dir);
    ImageJobOptions options = imagetest::jobOptions(tiff, dir / "a.png", 7);
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_FALSE(fs::exists(dir / "a.png"));
    EXPECT_EQ(imagetest::listFolder(dir / "a"),
              (std::vector<std::string>{"a 1.png", "a 2.png", "a.png"}));
    EXPECT_EQ(imagetest::readPixels(dir / "a" / "a.png").width, 30u);
    EXPECT_EQ(imagetest::readPixels(dir / "a" / "a 1.png").width, 40u);
    EXPECT_EQ(imagetest::readPixels(dir / "a" / "a 2.png").height, 30u);

    // A second run keeps the first run's files and numbers on.
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_EQ(imagetest::listFolder(dir / "a").size(), 6u);

    options.outputURL = dir / "a.pdf";
    options.format = 8;
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_EQ(pdfPages(dir / "a.pdf"), 3);
}

TEST(ImageConvert, PDFOfSeveralPicturesKeepsItsPagesWhenTheLastFails) {
    const fs::path dir = imagetest::freshDir("pdf-last-fails");
    ImageConversionJob job;
    ASSERT_TRUE(job.LoadInputImage(threePageTIFF(dir)));
    job.inputImage->representations.back().pixels.clear(); // a picture with nothing to draw
    job.SetOutputFormat(8, dir / "book.pdf", 0.8);
    EXPECT_FALSE(ConvertImage(job));
    EXPECT_EQ(pdfPages(dir / "book.pdf"), 2);
}

TEST(ImageConvert, ResolutionIsTheSourcesUnlessGivenAndNegativeMeansNone) {
    const fs::path dir = imagetest::freshDir("dpi");
    auto image = imagetest::gradient(30, 20);
    image.resolutionUnits(Magick::PixelsPerInchResolution);
    image.density(Magick::Geometry(150, 150));
    imagetest::writeWith(image, "PNG", dir / "src.png");
    ImageJobOptions options = imagetest::jobOptions(dir / "src.png", "", 7);
    for (auto [dpi, expected] : {std::pair<std::int64_t, double>{0, 150}, {300, 300}, {-72, 150}}) {
        options.dpi = dpi;
        options.outputURL = dir / ("out" + std::to_string(dpi) + ".png");
        ASSERT_TRUE(ConvertImageFile(&options));
        EXPECT_NEAR(imagetest::dpiOf(options.outputURL), expected, 0.5) << dpi;
    }
    // A source that records no resolution is taken at 72 dpi, whichever reader reads it.
    for (const char* coder : {"PNG", "BMP", "TGA"}) {
        const fs::path bare = dir / (std::string("bare.") + coder);
        imagetest::writeWith(imagetest::gradient(30, 20), coder, bare);
        ImageConversionJob job;
        ASSERT_TRUE(job.LoadInputImage(bare)) << coder;
        EXPECT_DOUBLE_EQ(job.GetImageHorizontalResolution(), 72) << coder;
        EXPECT_DOUBLE_EQ(job.GetImageWidth(), 30) << coder;
    }
    // And one that records it in dots per centimetre is read in inches.
    auto metric = imagetest::gradient(30, 20);
    metric.resolutionUnits(Magick::PixelsPerCentimeterResolution);
    metric.density(Magick::Geometry(59, 59));
    imagetest::writeWith(metric, "BMP", dir / "metric.bmp");
    ImageConversionJob job;
    ASSERT_TRUE(job.LoadInputImage(dir / "metric.bmp"));
    EXPECT_NEAR(job.GetImageHorizontalResolution(), 59 * 2.54, 0.1);
}

TEST(ImageConvert, AFailedWriteLeavesTheEarlierFileAndNoPartialOne) {
    const fs::path dir = imagetest::freshDir("atomic");
    imagetest::writeWith(imagetest::gradient(300, 10), "PNG", dir / "wide.png");
    imagetest::writeBytes(dir / "keep.ico", {'o', 'l', 'd'});
    ImageJobOptions options = imagetest::jobOptions(dir / "wide.png", dir / "keep.ico", 18);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ConvertImageFile(&options));
    options.outputURL = dir / "no-such-folder" / "x.png";
    options.format = 7;
    EXPECT_FALSE(ConvertImageFile(&options));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(imagetest::readBytes(dir / "keep.ico"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(imagetest::listFolder(dir), (std::vector<std::string>{"keep.ico", "wide.png"}));
}

TEST(ImageConvert, FileAttributesAreGivenToTheOutput) {
    const fs::path dir = imagetest::freshDir("attributes");
    imagetest::writeWith(imagetest::gradient(20, 10), "PNG", dir / "src.png");
    ImageJobOptions options = imagetest::jobOptions(dir / "src.png", dir / "out.jpg", 4);
    options.fileAttributes = FileAttributes{0640, std::time_t(1000000000)};
    ASSERT_TRUE(ConvertImageFile(&options));
    struct stat st {};
    ASSERT_EQ(::stat(options.outputURL.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtime, 1000000000);
}

TEST(ImageConvert, CommandLineConvertsAndReportsMistakes) {
    const fs::path dir = imagetest::freshDir("convtool");
    imagetest::writeWith(imagetest::gradient(50, 40), "BMP", dir / "in.bmp");
    const std::string tool = LUMENO_CONVTOOL;
    EXPECT_EQ(imagetest::run(tool + " convert " + (dir / "in.bmp").string() + " " +
                             (dir / "out.jpg").string() +
                             " --format 4 --quality 0.5 --dpi 200 --keep-metadata"),
              0);
    EXPECT_EQ(imagetest::readPixels(dir / "out.jpg").width, 50u);
    EXPECT_NEAR(imagetest::dpiOf(dir / "out.jpg"), 200, 0.5);
    EXPECT_EQ(imagetest::run(tool + " convert " + (dir / "in.bmp").string() + " " +
                             (dir / "x.png").string() + " 2>/dev/null"),
              2); // no format
    EXPECT_EQ(imagetest::run(tool + " convert " + (dir / "in.bmp").string() + " " +
                             (dir / "x.png").string() + " --format 99 2>/dev/null"),
              1);
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

TEST(ImageConvert, OutputKeptInMemoryWritesNoFile) {
    const fs::path dir = imagetest::freshDir("memory");
    imagetest::writeWith(imagetest::gradient(24, 16), "PNG", dir / "src.png");
    ImageConversionJob job;
    ASSERT_TRUE(job.LoadInputImage(dir / "src.png"));
    job.SetOutputFormat(10, dir / "never.tif", 0.8);
    job.keepOutputInMemory = true;
    ASSERT_TRUE(job.WriteImage(*job.inputImageRep));
    ASSERT_TRUE(job.encodedData.has_value());
    EXPECT_FALSE(fs::exists(dir / "never.tif"));
    imagetest::writeBytes(dir / "copy.tif", *job.encodedData);
    EXPECT_EQ(imagetest::maxDifference(imagetest::readPixels(dir / "src.png"),
                                       imagetest::readPixels(dir / "copy.tif")),
              0);

    // The job's image into memory: the direct path when the source's resolution is kept.
    job.SetOutputFormat(4, dir / "never.jpg", 0.9);
    job.SetKeepResolution(true);
    std::vector<std::uint8_t> jpeg;
    ASSERT_TRUE(EncodeJobImageToData(job, jpeg));
    imagetest::writeBytes(dir / "copy.jpg", jpeg);
    EXPECT_EQ(imagetest::readPixels(dir / "copy.jpg").width, 24u);
    EXPECT_FALSE(fs::exists(dir / "never.jpg"));
}

TEST(ImageConvert, ResolutionsThatAreNoNumberAboveZeroAreNotWritten) {
    const fs::path dir = imagetest::freshDir("bad-resolution");
    imagetest::writeWith(imagetest::gradient(24, 16), "PNG", dir / "src.png");
    for (float bad : {std::nanf(""), -5.0f, 0.0f, INFINITY}) {
        ImageConversionJob job;
        ASSERT_TRUE(job.LoadInputImage(dir / "src.png"));
        job.SetOutputFormat(10, dir / "out.tif", 0.8);
        job.resolutionX = bad;
        job.resolutionY = 300;
        ASSERT_TRUE(ConvertImage(job));
        TIFF* tif = TIFFOpen((dir / "out.tif").c_str(), "r");
        ASSERT_TRUE(tif);
        float x = 0;
        EXPECT_FALSE(TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x)) << bad;
        TIFFClose(tif);
    }
}

TEST(ImageConvert, HeadersClaimingHugePicturesAreRefusedWithAMessage) {
    const fs::path dir = imagetest::freshDir("huge");
    imagetest::writeWith(imagetest::gradient(8, 8), "PNG", dir / "small.png");
    std::vector<std::uint8_t> png = imagetest::readBytes(dir / "small.png");
    // IHDR width and height (bytes 16 to 23) set to 100000 x 100000, its CRC made right again.
    for (int i : {16, 20}) {
        png[i] = 0x00;
        png[i + 1] = 0x01;
        png[i + 2] = 0x86;
        png[i + 3] = 0xA0;
    }
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), png.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        png[29 + i] = std::uint8_t(crc >> (24 - 8 * i));
    imagetest::writeBytes(dir / "huge.png", png);
    ImageConversionJob job;
    EXPECT_FALSE(job.LoadInputImage(dir / "huge.png"));
    EXPECT_NE(job.lastError.find("100000 x 100000"), std::string::npos) << job.lastError;
}

TEST(ImageConvert, CMYKJPEGStaysCMYKInTIFFAndBecomesRGBInPNG) {
    const fs::path dir = imagetest::freshDir("cmyk");
    auto image = imagetest::gradient(40, 30);
    image.colorSpace(MagickCore::CMYKColorspace);
    imagetest::writeWith(image, "JPEG", dir / "print.jpg");
    const imagetest::Pixels source = imagetest::readPixels(dir / "print.jpg");
    ImageJobOptions options = imagetest::jobOptions(dir / "print.jpg", dir / "print.tif", 10);
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_EQ(imagetest::readTIFFPages(options.outputURL).at(0).photometric, PHOTOMETRIC_SEPARATED);
    EXPECT_EQ(imagetest::maxDifference(source, imagetest::readPixels(options.outputURL)), 0);

    options.outputURL = dir / "screen.png";
    options.format = 7;
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_LE(imagetest::maxDifference(source, imagetest::readPixels(options.outputURL)), 2);
}

TEST(ImagePageRange, RangesAreClippedToTheDocument) {
    struct Case {
        std::int32_t mode;
        std::int64_t first, last, pages;
        bool reported;
        std::int64_t from, to; // to < from: nothing
    } cases[] = {
        // mode 2: from `first` to `last`, an end outside the document meaning its last page
        {2, 3, 0, 10, true, 3, 10},
        {2, 3, 25, 10, true, 3, 10},
        {2, 3, 7, 10, true, 3, 7},
        {2, 10, 10, 10, true, 10, 10},
        {2, 11, 12, 10, false, 0, 0},
        {2, 0, 5, 10, false, 0, 0},
        {2, -4, 5, 10, false, 0, 0},
        {2, 7, 3, 10, true, 7, 3}, // end before start: nothing, reported true
        // mode 1: the single page
        {1, 0, 0, 10, false, 0, 0},
        {1, 1, 99, 10, true, 1, 1},
        {1, 10, 0, 10, true, 10, 10},
        {1, 11, 11, 10, false, 0, 0},
        // every other mode: all pages, whatever the page fields say
        {0, -5, -9, 10, true, 1, 10},
        {0, 50, 60, 10, true, 1, 10},
        {7, 3, 4, 10, true, 1, 10},
        {-1, 3, 4, 10, true, 1, 10},
        {0, 1, 1, 0, true, 1, 0}, // no pages: nothing, reported true
        {1, 1, 1, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        std::int64_t from = 0, to = 0;
        const bool reported =
            conversion::pagesToProcess(c.mode, c.first, c.last, c.pages, &from, &to);
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " first " << c.first << " last "
                                        << c.last << " of " << c.pages);
        EXPECT_EQ(reported, c.reported);
        if (c.reported) {
            EXPECT_EQ(from, c.from);
            EXPECT_EQ(to, c.to);
        }
    }
}

// Windows icons were handed to ImageMagick without their coder and never read; PICT, MacPaint
// and TGA were known only by their extension. Each here has a name that says nothing.
TEST(ImageConvert, IconsAndFormatsMarkedPastTheirStartAreReadByContent) {
    const fs::path dir = imagetest::freshDir("marked-late");
    std::vector<Magick::Image> sizes = {imagetest::gradient(32, 32), imagetest::gradient(16, 16)};
    Magick::writeImages(sizes.begin(), sizes.end(), "ICO:" + (dir / "icon.data").string());
    imagetest::writeWith(imagetest::gradient(20, 10), "PICT", dir / "drawing.data");
    // MacPaint in its MacBinary wrapper: 576 x 720 one-bit rows, the upper half black.
    imagetest::Bytes paint(128 + 512, 0);
    paint[1] = 4;
    std::memcpy(&paint[65], "PNTGMPNT", 8);
    for (int row = 0; row < 720; ++row)
        paint.insert(paint.end(), {0xB9, std::uint8_t(row < 360 ? 0xFF : 0x00)});
    imagetest::writeBytes(dir / "paint.data", paint);
    // A version 2 TGA of 4 x 2 red pixels with its footer.
    imagetest::Bytes tga(18, 0);
    tga[2] = 2;
    tga[12] = 4;
    tga[14] = 2;
    tga[16] = 24;
    tga[17] = 0x20;
    for (int i = 0; i < 8; ++i)
        tga.insert(tga.end(), {0, 0, 255});
    tga.insert(tga.end(), 8, 0);
    const char footer[] = "TRUEVISION-XFILE.";
    tga.insert(tga.end(), footer, footer + sizeof footer);
    imagetest::writeBytes(dir / "targa.data", tga);

    ImageJobOptions icon = imagetest::jobOptions(dir / "icon.data", dir / "icon.png", 7);
    ASSERT_TRUE(ConvertImageFile(&icon));
    EXPECT_EQ(imagetest::listFolder(dir / "icon"),
              (std::vector<std::string>{"icon 1.png", "icon.png"}));
    struct Case {
        const char* name;
        int width, height;
        int x, y;
        std::uint8_t red, green, blue;
    };
    const Case cases[] = {{"drawing", 20, 10, 19, 0, 255, 0, 161},
                          {"paint", 576, 720, 5, 5, 0, 0, 0},
                          {"paint", 576, 720, 5, 700, 255, 255, 255},
                          {"targa", 4, 2, 3, 1, 255, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.y));
        const fs::path output = dir / (std::string(c.name) + ".png");
        ImageJobOptions options =
            imagetest::jobOptions(dir / (std::string(c.name) + ".data"), output, 7);
        ASSERT_TRUE(ConvertImageFile(&options));
        const imagetest::PNGPicture png = imagetest::readPNG(output);
        ASSERT_TRUE(png.ok);
        EXPECT_EQ(png.width, c.width);
        EXPECT_EQ(png.height, c.height);
        const std::uint8_t* p = &png.rgba[std::size_t(c.y * png.width + c.x) * 4];
        EXPECT_NEAR(p[0], c.red, 2);
        EXPECT_NEAR(p[1], c.green, 2);
        EXPECT_NEAR(p[2], c.blue, 2);
    }
    EXPECT_EQ(typeIdentifierOfFile(dir / "drawing.data"), "com.apple.pict");
    EXPECT_EQ(typeIdentifierOfFile(dir / "targa.data"), "com.truevision.tga-image");
}

// A BMP whose header counts its file one byte short (as pilrc.bmp of Free Pascal's examples) is
// read as ImageMagick's own programs read it; a BMP that cannot be read is refused with
// ImageMagick's reason but never its source locations.
TEST(ImageConvert, BMPWhoseHeaderCountsItShortIsReadAndRefusalsHoldNoSourceLocation) {
    const fs::path dir = imagetest::freshDir("short-bmp");
    Magick::Image picture = imagetest::gradient(48, 48);
    picture.type(Magick::BilevelType);
    imagetest::writeWith(picture, "BMP3", dir / "sound.bmp");
    std::vector<std::uint8_t> bytes = imagetest::readBytes(dir / "sound.bmp");
    bytes.push_back(0);
    imagetest::writeBytes(dir / "short.bmp", bytes);
    ImageJobOptions options = imagetest::jobOptions(dir / "short.bmp", dir / "short.png", 7);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ConvertImageFile(&options));
    const std::string notes = testing::internal::GetCapturedStderr();
    EXPECT_EQ(imagetest::maxDifference(imagetest::readPixels(dir / "short.png"),
                                       imagetest::readPixels(dir / "sound.bmp")),
              0);
    EXPECT_EQ(notes.find(".c/"), std::string::npos) << notes;

    bytes.resize(30); // the header breaks off
    imagetest::writeBytes(dir / "broken.bmp", bytes);
    ImageConversionJob job;
    EXPECT_FALSE(job.LoadInputImage(dir / "broken.bmp"));
    EXPECT_FALSE(job.lastError.empty());
    for (const char* internal : {" @ ", ".c/", "`'", "lumeno"})
        EXPECT_EQ(job.lastError.find(internal), std::string::npos) << job.lastError;
}
