// Images to PDF, read back with pdfinfo, pdfimages, pdftoppm and qpdf.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

ImagesToPDFOptions mergedInto(const fs::path& output, std::vector<ImageToPDFItem> items) {
    ImagesToPDFOptions o;
    o.merge = true;
    o.outputURL = output;
    o.jobList = std::move(items);
    return o;
}

// The colour at a point of the page drawn at 72 dpi, as "r", "b" or "w" (white).
char colourAt(const fs::path& pdf, double fx, double fy) {
    const fs::path png = pdf.string() + "-page";
    capture("pdftoppm -r 72 -f 1 -l 1 -singlefile -png " + shellQuote(pdf) + " " + shellQuote(png));
    const imagetest::Pixels p = imagetest::readPixels(png.string() + ".png");
    const std::size_t x = std::size_t(fx * double(p.width - 1));
    const std::size_t y = std::size_t(fy * double(p.height - 1));
    const std::uint8_t* s = &p.rgba[(y * p.width + x) * 4];
    if (s[0] > 200 && s[1] > 200 && s[2] > 200)
        return 'w';
    return s[0] > s[2] ? 'r' : 'b';
}

} // namespace

TEST(ImagesToPDF, ImageAboveTheMaximumResolutionIsHalvedAndKeepsItsSizeInPoints) {
    const fs::path dir = imagetest::freshDir("maxres");
    writeHalvesImage(dir / "photo.png", "PNG", 1200, 600, 600);
    ImagesToPDFOptions o = mergedInto(dir / "out.pdf", {{dir / "photo.png", {}}});
    o.maximumResolution = 300;
    ASSERT_TRUE(ConvertImagesToPDF(&o));
    const auto images = listImages(dir / "out.pdf");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].width, 600);
    EXPECT_EQ(images[0].height, 300);
    EXPECT_EQ(images[0].xppi, 300);
    const auto sizes = pageSizes(dir / "out.pdf");
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(sizes[0].width, 144, 0.01);
    EXPECT_NEAR(sizes[0].height, 72, 0.01);
    EXPECT_TRUE(qpdfCheckPasses(dir / "out.pdf"));
}

TEST(ImagesToPDF, LargeScanOnLetterWithinMarginsIsRecordedAtTheMaximumAndFillsTheWidth) {
    const fs::path dir = imagetest::freshDir("letter");
    writeHalvesImage(dir / "scan.jpg", "JPEG", 2550, 3300, 72);
    ImagesToPDFOptions o = mergedInto(dir / "out.pdf", {{dir / "scan.jpg", {}}});
    o.pageSizeMode = 1;
    o.pageWidth = 612;
    o.pageHeight = 792;
    o.leftMargin = o.rightMargin = o.topMargin = o.bottomMargin = 36;
    o.maximumResolution = 300;
    ASSERT_TRUE(ConvertImagesToPDF(&o));
    const auto images = listImages(dir / "out.pdf");
    ASSERT_EQ(images.size(), 1u);
    // 30000 / 340 = 88.2 % of 2550 pixels; 540 points wide at 300 pixels per inch.
    EXPECT_NEAR(images[0].width, 2250, 1);
    EXPECT_NEAR(images[0].xppi, 300, 1);
    const auto sizes = pageSizes(dir / "out.pdf");
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(sizes[0].width, 612, 0.01);
    EXPECT_NEAR(sizes[0].height, 792, 0.01);
    EXPECT_TRUE(qpdfCheckPasses(dir / "out.pdf"));
}

TEST(ImagesToPDF, QuarterTurnsSwapTheSidesAndTurnClockwiseOtherAnglesDoNot) {
    const fs::path dir = imagetest::freshDir("turns");
    writeHalvesImage(dir / "h.png", "PNG", 300, 200, 72);
    for (std::int64_t angle : {45, 360, 400, -300}) {
        ImagesToPDFOptions o = mergedInto(dir / "plain.pdf", {{dir / "h.png", angle}});
        ASSERT_TRUE(ConvertImagesToPDF(&o));
        const auto sizes = pageSizes(dir / "plain.pdf");
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_NEAR(sizes[0].width, 300, 0.1) << angle;
        EXPECT_EQ(colourAt(dir / "plain.pdf", 0.1, 0.5), 'r') << angle;
    }
    // Clockwise: the red left half comes to the top at 90 and -270, to the bottom at -90.
    for (std::int64_t angle : {90, -270, -90, 180}) {
        ImagesToPDFOptions o = mergedInto(dir / "turned.pdf", {{dir / "h.png", angle}});
        ASSERT_TRUE(ConvertImagesToPDF(&o));
        const auto sizes = pageSizes(dir / "turned.pdf");
        ASSERT_EQ(sizes.size(), 1u);
        if (angle == 180) {
            EXPECT_NEAR(sizes[0].width, 300, 0.1);
            EXPECT_EQ(colourAt(dir / "turned.pdf", 0.9, 0.5), 'r');
            continue;
        }
        EXPECT_NEAR(sizes[0].width, 200, 0.1) << angle;
        EXPECT_NEAR(sizes[0].height, 300, 0.1) << angle;
        EXPECT_EQ(colourAt(dir / "turned.pdf", 0.5, 0.1), angle == -90 ? 'b' : 'r') << angle;
    }
}

TEST(ImagesToPDF, JPEGAndJPEG2000PassThroughUnchangedOthersLosslessWithSoftMask) {
    const fs::path dir = imagetest::freshDir("pass");
    writeHalvesImage(dir / "photo.jpg", "JPEG", 320, 240, 96);
    imagetest::writeWith(imagetest::gradient(64, 48), "JP2", dir / "art.jp2");
    imagetest::writeWith(imagetest::gradient(64, 48, true), "PNG", dir / "alpha.png");
    ImagesToPDFOptions o = mergedInto(
        dir / "out.pdf", {{dir / "photo.jpg", {}}, {dir / "art.jp2", {}}, {dir / "alpha.png", {}}});
    ASSERT_TRUE(ConvertImagesToPDF(&o));
    EXPECT_TRUE(qpdfCheckPasses(dir / "out.pdf"));
    const auto images = listImages(dir / "out.pdf");
    ASSERT_EQ(images.size(), 4u);
    EXPECT_EQ(images[0].encoding, "jpeg");
    EXPECT_EQ(images[1].encoding, "jpx");
    EXPECT_EQ(images[2].encoding, "image");
    EXPECT_EQ(images[3].type, "smask");
    const auto sizes = pageSizes(dir / "out.pdf");
    ASSERT_EQ(sizes.size(), 3u);
    EXPECT_NEAR(sizes[0].width, 320 * 72.0 / 96, 0.01);
    capture("cd " + shellQuote(dir) + " && pdfimages -f 1 -l 1 -j out.pdf got");
    EXPECT_EQ(imagetest::readBytes(dir / "got-000.jpg"), imagetest::readBytes(dir / "photo.jpg"));
    // Lossless: the PNG's colours come back exactly.
    capture("cd " + shellQuote(dir) + " && pdfimages -f 3 -l 3 -png out.pdf lossless");
    EXPECT_EQ(imagetest::maxDifference(imagetest::readPixels(dir / "lossless-000.png"),
                                       imagetest::pixelsOf(imagetest::gradient(64, 48))),
              0);
}

TEST(ImagesToPDF, LandscapePaperTurnsThePageAndImagesAreFittedWithinTheMargins) {
    const fs::path dir = imagetest::freshDir("landscape");
    writeHalvesImage(dir / "wide.png", "PNG", 2000, 1000, 72);
    ImagesToPDFOptions o = mergedInto(dir / "out.pdf", {{dir / "wide.png", {}}});
    o.pageSizeMode = 2;
    o.orientation = 1;
    o.leftMargin = o.rightMargin = o.topMargin = o.bottomMargin = 36;
    ASSERT_TRUE(ConvertImagesToPDF(&o));
    const auto sizes = pageSizes(dir / "out.pdf");
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NEAR(sizes[0].width, 792, 0.01);
    EXPECT_NEAR(sizes[0].height, 612, 0.01);
    // Fitted to the 720-point width: the page's corners stay white, its middle is drawn.
    EXPECT_EQ(colourAt(dir / "out.pdf", 0.01, 0.01), 'w');
    EXPECT_EQ(colourAt(dir / "out.pdf", 0.1, 0.5), 'r');
    EXPECT_EQ(colourAt(dir / "out.pdf", 0.9, 0.5), 'b');
}

TEST(ImagesToPDF, MarginsThatLeaveNoRoomFailTheImageAndWriteNothing) {
    const fs::path dir = imagetest::freshDir("noroom");
    writeHalvesImage(dir / "a.png", "PNG", 20, 20, 72);
    ImagesToPDFOptions o = mergedInto(dir / "out.pdf", {{dir / "a.png", {}}});
    o.pageSizeMode = 1;
    o.leftMargin = o.rightMargin = 400;
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    o.pageSizeMode = 2;
    o.leftMargin = o.rightMargin = 0;
    o.pageWidth = 0;
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
}

TEST(ImagesToPDF, SeparateRunNumbersTakenNamesAndNeedsAnOutputFolder) {
    const fs::path dir = imagetest::freshDir("separate");
    fs::create_directories(dir / "one" / "out");
    fs::create_directories(dir / "two");
    writeHalvesImage(dir / "one" / "x.png", "PNG", 20, 10, 72);
    writeHalvesImage(dir / "two" / "x.png", "PNG", 20, 10, 72);
    ImagesToPDFOptions o;
    o.outputURL = dir / "one" / "out";
    o.jobList = {{dir / "one" / "x.png", {}}, {dir / "two" / "x.png", {}}};
    ASSERT_TRUE(ConvertImagesToPDF(&o));
    EXPECT_EQ(imagetest::listFolder(dir / "one" / "out"),
              (std::vector<std::string>{"x 1.pdf", "x.pdf"}));
    o.outputURL.clear();
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    // An unreadable image makes the run false, wherever it stands.
    imagetest::writeBytes(dir / "broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
    o.outputURL = dir / "one" / "out";
    o.jobList = {{dir / "one" / "x.png", {}}, {dir / "broken.png", {}}};
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    EXPECT_EQ(imagetest::listFolder(dir / "one" / "out").size(), 3u);
    o.jobList = {{dir / "broken.png", {}}, {dir / "one" / "x.png", {}}};
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    EXPECT_EQ(imagetest::listFolder(dir / "one" / "out").size(), 4u);
}

TEST(ImagesToPDF, FailedImageLeavesNoGapAndCancellationWritesNothing) {
    const fs::path dir = imagetest::freshDir("gap");
    writeHalvesImage(dir / "a.png", "PNG", 30, 20, 72);
    writeHalvesImage(dir / "b.png", "PNG", 40, 20, 72);
    imagetest::writeBytes(dir / "bad.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 2});
    ImagesToPDFOptions o = mergedInto(
        dir / "out.pdf", {{dir / "a.png", {}}, {dir / "bad.jpg", {}}, {dir / "b.png", {}}});
    // The run fails, and the PDF holds the pages of the images that could be read.
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    const auto sizes = pageSizes(dir / "out.pdf");
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_NEAR(sizes[1].width, 40, 0.01);

    ProgressRecorder cancel(2);
    o.outputURL = dir / "cancelled.pdf";
    o.progressTarget = &cancel;
    EXPECT_FALSE(ConvertImagesToPDF(&o));
    EXPECT_FALSE(fs::exists(dir / "cancelled.pdf"));
    EXPECT_EQ(imagetest::listFolder(dir).size(), 4u) << "no temporary file is left";
}
