// Several pictures into numbered files, written several at once: the names, their order and the
// messages are those of writing them one after the other.
#include "ConversionEntries.h"
#include "ImageCodecs.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"
#include "ItemFailures.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <list>

using namespace conversion;
using namespace imagetest;

namespace {

// Picture `index` of a set: its own size and colours, so that a mix-up shows.
Bitmap numberedPicture(int index) {
    Bitmap b;
    b.allocate(40 + index * 7, 30 + index * 3, ColorModel::RGB, false, nullptr);
    for (std::size_t i = 0; i < b.pixels.size(); ++i)
        b.pixels[i] = std::uint8_t((i * (index + 3) + std::size_t(index) * 40) % 251);
    b.dpiX = b.dpiY = 72;
    return b;
}

// A job holding the pictures (empty ones stand for pictures that could not be read).
void loadPictures(ImageConversionJob& job, const std::vector<Bitmap>& pictures,
                  const fs::path& in) {
    job.inputImage = std::make_unique<InputImage>();
    job.inputImage->representations = pictures;
    job.inputImageRep = &job.inputImage->representations.front();
    job.inputURL = in;
}

Bitmap decodedFile(const fs::path& path) {
    const Bytes bytes = readBytes(path);
    std::vector<Bitmap> pictures;
    std::string error;
    EXPECT_TRUE(decodeImageBytes(bytes.data(), bytes.size(), "", pictures, error)) << error;
    return pictures.empty() ? Bitmap() : pictures.front();
}

} // namespace

TEST(ImageNumberedConvert, PicturesKeepTheirNamesInOrderAroundFilesAlreadyThere) {
    const fs::path dir = freshDir("numbered-order");
    std::vector<Bitmap> pictures;
    for (int i = 0; i < 13; ++i)
        pictures.push_back(numberedPicture(i));
    for (const std::int32_t format : {kFormatPNG, kFormatJPEG, kFormatWebP}) {
        SCOPED_TRACE(format);
        const std::string ext = ExtensionForImageFormat(format);
        const fs::path folder = dir / ("set-" + ext);
        fs::create_directories(folder / "set");
        // A name already taken is passed over, and left as it was.
        writeBytes(folder / "set" / ("set 3." + ext), Bytes{1, 2, 3});
        ImageConversionJob job;
        loadPictures(job, pictures, dir / "in.tif");
        job.SetOutputFormat(format, folder / ("set." + ext), 1.0);
        job.SetKeepResolution(true);
        ASSERT_TRUE(ConvertImage(job)) << job.lastError;
        std::vector<std::string> expected;
        for (const int n : {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})
            expected.push_back(n == 0 ? "set." + ext : "set " + std::to_string(n) + "." + ext);
        expected.push_back("set 3." + ext);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listFolder(folder / "set"), expected);
        EXPECT_EQ(readBytes(folder / "set" / ("set 3." + ext)), (Bytes{1, 2, 3}));
        // Picture i went to the i-th free name, its pixels whole where the format is lossless.
        const int numbers[] = {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
        for (int i = 0; i < 13; ++i) {
            const fs::path file =
                folder / "set" /
                (numbers[i] == 0 ? "set." + ext : "set " + std::to_string(numbers[i]) + "." + ext);
            if (format == kFormatWebP) { // read back by ImageMagick
                const Pixels back = readPixels(file);
                EXPECT_EQ(back.width, std::size_t(pictures[std::size_t(i)].width)) << file;
                EXPECT_EQ(back.height, std::size_t(pictures[std::size_t(i)].height)) << file;
                continue;
            }
            const Bitmap back = decodedFile(file);
            EXPECT_EQ(back.width, pictures[std::size_t(i)].width) << file;
            EXPECT_EQ(back.height, pictures[std::size_t(i)].height) << file;
            if (format == kFormatPNG) {
                EXPECT_TRUE(back.pixels == pictures[std::size_t(i)].pixels) << file;
            }
        }
        EXPECT_EQ(job.outputURL, folder / "set" / ("set 13." + ext));
    }
}

TEST(ImageNumberedConvert, ABrokenPictureAmongGoodOnesFailsTheRunWhereverItIsTheOthersWritten) {
    const fs::path dir = freshDir("numbered-broken");
    struct Case {
        std::vector<bool> good;
        bool result;
        std::string message; // the last failure's
        std::vector<std::string> files;
    } cases[] = {
        {{true, false, true, true},
         false,
         "picture 2 holds no pixels",
         {"out 2.png", "out 3.png", "out.png"}},
        {{true, true, false}, false, "picture 3 holds no pixels", {"out 1.png", "out.png"}},
        {{false, true, false, true},
         false,
         "picture 3 holds no pixels",
         {"out 1.png", "out 3.png"}},
        {{false, false}, false, "picture 2 holds no pixels", {}},
        {{true, true}, true, "", {"out 1.png", "out.png"}},
    };
    int n = 0;
    // Written several at once (the source's resolution kept) and one after the other.
    for (const bool atOnce : {true, false}) {
        for (const Case& c : cases) {
            const fs::path folder = dir / std::to_string(n++);
            fs::create_directories(folder);
            std::vector<Bitmap> pictures;
            for (std::size_t i = 0; i < c.good.size(); ++i)
                pictures.push_back(c.good[i] ? numberedPicture(int(i)) : Bitmap());
            ImageConversionJob job;
            loadPictures(job, pictures, dir / "in.tif");
            job.SetOutputFormat(kFormatPNG, folder / "out.png", 0.8);
            if (atOnce)
                job.SetKeepResolution(true);
            else
                job.SetResolution(150, 150);
            // Each picture that failed is noted, for the entry's closing message.
            ItemFailures noted("convert");
            EXPECT_EQ(ConvertImage(job), c.result) << folder;
            EXPECT_EQ(job.lastError, c.message) << folder;
            EXPECT_EQ(noted.failed().size(),
                      std::size_t(std::count(c.good.begin(), c.good.end(), false)))
                << folder;
            // A folder that received nothing is not left behind.
            EXPECT_EQ(fs::exists(folder / "out"), !c.files.empty()) << folder;
            if (!c.files.empty()) {
                EXPECT_EQ(listFolder(folder / "out"), c.files) << folder;
            }
        }
    }
    // Into one PDF: the pages that could be made are written, and the run still fails.
    ImageConversionJob job;
    loadPictures(job, {numberedPicture(0), Bitmap(), numberedPicture(2)}, dir / "in.tif");
    job.SetOutputFormat(kFormatPDF, dir / "pages.pdf", 0.8);
    job.SetKeepResolution(true);
    EXPECT_FALSE(ConvertImage(job));
    EXPECT_EQ(job.lastError, "picture 2 holds no pixels");
    EXPECT_NE(capture("pdfinfo " + shellQuote(dir / "pages.pdf")).find("Pages:           2"),
              std::string::npos);
}

TEST(ImageNumberedConvert, AMultiPageTIFFBecomesNumberedPNGsOfItsPages) {
    const fs::path dir = freshDir("numbered-tiff");
    std::list<Magick::Image> pages;
    for (std::size_t i = 0; i < 5; ++i)
        pages.push_back(gradient(30 + i * 11, 20 + i * 5));
    Magick::writeImages(pages.begin(), pages.end(), (dir / "pages.tif").string());
    ImageJobOptions options = jobOptions(dir / "pages.tif", dir / "pages.png", kFormatPNG);
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_EQ(listFolder(dir / "pages"),
              (std::vector<std::string>{"pages 1.png", "pages 2.png", "pages 3.png", "pages 4.png",
                                        "pages.png"}));
    std::size_t i = 0;
    for (const auto& name :
         {"pages.png", "pages 1.png", "pages 2.png", "pages 3.png", "pages 4.png"}) {
        const Pixels p = readPixels(dir / "pages" / name);
        EXPECT_EQ(p.width, 30 + i * 11) << name;
        EXPECT_EQ(p.height, 20 + i * 5) << name;
        ++i;
    }
}
