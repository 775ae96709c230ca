// PDF pages to images, read back with libtiff and ImageMagick.
#include "PDFPagesToImages.h"
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

using imagetest::fs::path;

namespace {

ImageJobOptions pdfOptions(const path& input, const path& folder, std::int32_t format) {
    ImageJobOptions o = imagetest::jobOptions(input, folder, format);
    o.dpi = 72;
    return o;
}

// A fresh folder holding "doc.pdf" of `pages` numbered pages and an empty "out" folder.
path numberedDoc(const std::string& name, int pages) {
    const path dir = imagetest::freshDir(name);
    imagetest::fs::create_directories(dir / "out");
    rendertest::writeNumberedPDF(dir / "doc.pdf", pages);
    return dir;
}

using Recorder = imagetest::ProgressRecorder;

} // namespace

TEST(PDFPagesToImages, NamesArePaddedToTheDigitsOfTheLastPage) {
    struct Case {
        int pages;
        std::vector<std::string> some;
        std::size_t count;
    } cases[] = {
        {1, {"report.png"}, 1},
        {9, {"report-1.png", "report-9.png"}, 9},
        {10, {"report-01.png", "report-09.png", "report-10.png"}, 10},
        {120, {"report-001.png", "report-099.png", "report-120.png"}, 120},
    };
    for (const Case& c : cases) {
        const path dir = imagetest::freshDir("pdf-names-" + std::to_string(c.pages));
        const path out = dir / "out";
        imagetest::fs::create_directories(out);
        rendertest::writeNumberedPDF(dir / "report.pdf", c.pages);
        ImageJobOptions o = pdfOptions(dir / "report.pdf", out, 7);
        o.dpi = 10; // small pages keep 120 of them quick
        ASSERT_TRUE(ConvertPDFToImages(&o));
        const auto names = imagetest::listFolder(out);
        EXPECT_EQ(names.size(), c.count);
        for (const std::string& name : c.some)
            EXPECT_TRUE(imagetest::fs::exists(out / name)) << name;
    }
}

TEST(PDFPagesToImages, RotatedPagesExchangeTheirSidesAndResolutionsDefault) {
    const path dir = imagetest::freshDir("pdf-rotate");
    rendertest::writePDF(dir / "turned.pdf", {{612, 792, 90, "0 0 1 rg 0 0 100 100 re f"}});
    ImageJobOptions o = pdfOptions(dir / "turned.pdf", dir, 7);
    o.dpi = 0; // 72
    ASSERT_TRUE(ConvertPDFToImages(&o));
    const imagetest::Pixels p = imagetest::readPixels(dir / "turned.png");
    EXPECT_EQ(p.width, 792u);
    EXPECT_EQ(p.height, 612u);
    // The blue square at the lower left of the unturned page is at the top left once turned a
    // quarter clockwise.
    EXPECT_LT(p.rgba[(10 * p.width + 10) * 4], 40);
    EXPECT_GT(p.rgba[(10 * p.width + 10) * 4 + 2], 200);
}

TEST(PDFPagesToImages, RedRectangleLandsOnItsPixels) {
    const path dir = imagetest::freshDir("pdf-rectangle");
    // 200 x 100 points; a rectangle from (50, 20) for 60 x 30 points, y upwards.
    rendertest::writePDF(dir / "rect.pdf", {{200, 100, 0, "1 0 0 rg 50 20 60 30 re f"}});
    ImageJobOptions o = pdfOptions(dir / "rect.pdf", dir, 7);
    o.dpi = 144;
    ASSERT_TRUE(ConvertPDFToImages(&o));
    const imagetest::Pixels p = imagetest::readPixels(dir / "rect.png");
    ASSERT_EQ(p.width, 400u);
    ASSERT_EQ(p.height, 200u);
    auto red = [&](std::size_t x, std::size_t y) {
        const std::uint8_t* s = &p.rgba[(y * p.width + x) * 4];
        return s[0] > 200 && s[1] < 40 && s[2] < 40;
    };
    auto white = [&](std::size_t x, std::size_t y) {
        const std::uint8_t* s = &p.rgba[(y * p.width + x) * 4];
        return s[0] > 240 && s[1] > 240 && s[2] > 240;
    };
    // In pixels: x 100 to 220, rows 200 - 2 x (20 + 30) = 100 to 160.
    EXPECT_TRUE(red(101, 101));
    EXPECT_TRUE(red(218, 158));
    EXPECT_TRUE(red(160, 130));
    EXPECT_TRUE(white(98, 130));
    EXPECT_TRUE(white(222, 130));
    EXPECT_TRUE(white(160, 98));
    EXPECT_TRUE(white(160, 162));
}

TEST(PDFPagesToImages, FittingToASizeScalesEveryPage) {
    const path dir = imagetest::freshDir("pdf-fit");
    rendertest::writePDF(dir / "doc.pdf", {{612, 792, 0, ""}, {300, 300, 0, ""}});
    ImageJobOptions o = pdfOptions(dir / "doc.pdf", dir, 7);
    o.dpi = 300;
    o.usePageSize = true;
    o.renderSize.unit = kLengthPixels;
    o.renderSize.width = 800;
    ASSERT_TRUE(ConvertPDFToImages(&o));
    EXPECT_EQ(imagetest::readPixels(dir / "doc-1.png").width, 800u);
    EXPECT_EQ(imagetest::readPixels(dir / "doc-2.png").width, 800u);
    o.renderSize.height = 600;
    o.replaceExisting = true;
    ASSERT_TRUE(ConvertPDFToImages(&o));
    const imagetest::Pixels portrait = imagetest::readPixels(dir / "doc-1.png");
    EXPECT_EQ(portrait.height, 600u);
    EXPECT_EQ(portrait.width, 464u);
}

TEST(PDFPagesToImages, MultiPageTIFFOfARangeCarriesItsPageNumbers) {
    const path dir = imagetest::freshDir("pdf-multipage");
    rendertest::writeNumberedPDF(dir / "doc.pdf", 6);
    ImageJobOptions o = pdfOptions(dir / "doc.pdf", dir, 23);
    o.pageRangeMode = kPageRangeFromTo;
    o.firstPage = 2;
    o.lastPage = 4;
    o.dpi = 36;
    Recorder progress;
    o.progressTarget = &progress;
    o.progressSelector = true;
    ASSERT_TRUE(ConvertPDFToImages(&o));
    EXPECT_EQ(progress.reports, (std::vector<std::int64_t>{2, 3, 4}));
    const auto pages = imagetest::readTIFFPages(dir / "doc.tif");
    ASSERT_EQ(pages.size(), 3u);
    for (std::uint16_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i].pageNumber, i);
        EXPECT_EQ(pages[i].pageCount, 3);
        EXPECT_EQ(pages[i].samples, 3); // RGB without alpha
        EXPECT_EQ(pages[i].width, 36u);
        EXPECT_NEAR(pages[i].xResolution, 36, 0.01);
        // Page p is filled with grey level 2p.
        EXPECT_NEAR(pages[i].centrePixel[0], 2 * (i + 2), 1);
    }

    // Grey pages store one sample, black is zero.
    o.colorMode = kColorModeGray;
    o.outputBaseName = "grey";
    ASSERT_TRUE(ConvertPDFToImages(&o));
    const auto grey = imagetest::readTIFFPages(dir / "grey.tif");
    ASSERT_EQ(grey.size(), 3u);
    EXPECT_EQ(grey[0].samples, 1);
    EXPECT_EQ(grey[0].photometric, 1);
}

TEST(PDFPagesToImages, CancellingAfterTheFirstPageLeavesNoFileOpenAndNoPartialOutput) {
    const path dir = numberedDoc("pdf-cancel", 5);
    const path out = dir / "out";
    const int filesBefore = rendertest::openFileCount();
    ImageJobOptions o = pdfOptions(dir / "doc.pdf", out, 23);
    Recorder progress;
    progress.cancelAfterReports = 1;
    o.progressTarget = &progress;
    o.progressSelector = true;
    ConvertPDFToImages(&o);
    EXPECT_EQ(progress.reports, (std::vector<std::int64_t>{1}));
    EXPECT_TRUE(imagetest::listFolder(out).empty());
    EXPECT_EQ(rendertest::openFileCount(), filesBefore);

    // One file a page: the page done stays, whole; nothing of the next.
    o.format = 7;
    progress.reports.clear();
    ConvertPDFToImages(&o);
    EXPECT_EQ(imagetest::listFolder(out), (std::vector<std::string>{"doc-1.png"}));
    EXPECT_EQ(imagetest::readPixels(out / "doc-1.png").width, 72u);
}

TEST(PDFPagesToImages, PagesOutsideTheDocumentAndWrongPasswordsAreRefused) {
    const path dir = numberedDoc("pdf-refused", 4);
    const path out = dir / "out";
    ImageJobOptions o = pdfOptions(dir / "doc.pdf", out, 7);
    o.pageRangeMode = kPageRangeFromTo;
    o.firstPage = 0;
    EXPECT_FALSE(ConvertPDFToImages(&o));
    o.pageRangeMode = kPageRangeSingle;
    o.firstPage = 5;
    EXPECT_FALSE(ConvertPDFToImages(&o));
    EXPECT_TRUE(imagetest::listFolder(out).empty());
    // From page 3 to the end.
    o.pageRangeMode = kPageRangeFromTo;
    o.firstPage = 3;
    o.lastPage = 0;
    ASSERT_TRUE(ConvertPDFToImages(&o));
    EXPECT_EQ(imagetest::listFolder(out), (std::vector<std::string>{"doc-3.png", "doc-4.png"}));

    ASSERT_EQ(imagetest::run("qpdf --encrypt secret owner 256 -- " +
                             imagetest::shellQuote(dir / "doc.pdf") + " " +
                             imagetest::shellQuote(dir / "locked.pdf")),
              0);
    const path lockedOut = dir / "locked-out";
    imagetest::fs::create_directories(lockedOut);
    ImageJobOptions locked = pdfOptions(dir / "locked.pdf", lockedOut, 7);
    EXPECT_FALSE(ConvertPDFToImages(&locked));
    locked.password = "wrong";
    EXPECT_FALSE(ConvertPDFToImages(&locked));
    EXPECT_TRUE(imagetest::listFolder(lockedOut).empty());
    locked.password = "secret";
    EXPECT_TRUE(ConvertPDFToImages(&locked));
    EXPECT_EQ(imagetest::listFolder(lockedOut).size(), 4u);
}

TEST(PDFPagesToImages, CMYKPagesAreWrittenInFourInks) {
    const path dir = imagetest::freshDir("pdf-cmyk");
    rendertest::writePDF(dir / "doc.pdf", {{100, 100, 0, "1 0 0 rg 0 0 100 100 re f"}});
    ImageJobOptions o = pdfOptions(dir / "doc.pdf", dir, 13);
    ASSERT_TRUE(ConvertPDFToImages(&o));
    const auto pages = imagetest::readTIFFPages(dir / "doc.tif");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].samples, 4);
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_SEPARATED);
    EXPECT_LT(pages[0].centrePixel[0], 40);  // little cyan
    EXPECT_GT(pages[0].centrePixel[1], 180); // magenta
    EXPECT_GT(pages[0].centrePixel[2], 180); // yellow
}

TEST(PDFPagesToImages, ImageRepVariantWritesEachPageAtTwiceItsSize) {
    const path dir = numberedDoc("pdf-imagerep", 2);
    const path out = dir / "out";
    conversion::ImageConversionJob job;
    ASSERT_TRUE(job.OpenInputPDF(dir / "doc.pdf"));
    job.SetOutputFormat(7, out, 0.8);
    job.SetResolution(144, 144);
    ASSERT_TRUE(conversion::ConvertPDFWithImageRep(job));
    EXPECT_EQ(imagetest::listFolder(out), (std::vector<std::string>{"doc-001.png", "doc-002.png"}));
    EXPECT_EQ(imagetest::readPixels(out / "doc-002.png").width, 144u);
}

TEST(PDFPagesToImages, OneMissingResolutionTakesTheOther) {
    const path dir = numberedDoc("pdf-resolution", 1);
    conversion::ImageConversionJob job;
    ASSERT_TRUE(job.OpenInputPDF(dir / "doc.pdf"));
    job.SetOutputFormat(7, dir, 0.8);
    job.SetResolution(150, 0);
    ASSERT_TRUE(conversion::ConvertPDFPages(job, false, RenderSize()));
    EXPECT_EQ(job.resolutionX, 150);
    const imagetest::Pixels p = imagetest::readPixels(dir / "doc.png");
    EXPECT_EQ(p.width, 150u);
    EXPECT_EQ(p.height, 150u);
}

TEST(PDFPagesToImages, SizesOfNothingOrOverThePixelCapFailWithoutAFile) {
    const path out = numberedDoc("pdf-cap", 1) / "out";
    ImageJobOptions o = pdfOptions(out.parent_path() / "doc.pdf", out, 7);
    o.usePageSize = true; // with both sides 0
    EXPECT_FALSE(ConvertPDFToImages(&o));
    o.renderSize.unit = kLengthPixels;
    o.renderSize.width = 1e12;
    EXPECT_FALSE(ConvertPDFToImages(&o));
    o.usePageSize = false;
    o.dpi = 200000; // a 72-point page at 200,000 dpi: 4 x 10^10 pixels
    EXPECT_FALSE(ConvertPDFToImages(&o));
    EXPECT_TRUE(imagetest::listFolder(out).empty());
}
