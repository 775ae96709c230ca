// WebP through the image job, outputs decoded again by libwebp.
#include "ConversionEntries.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <gtest/gtest.h>
#include <webp/decode.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

fs::path webpSource(const fs::path& dir, const std::string& name) {
    const fs::path path = dir / name;
    imagetest::writeWith(imagetest::gradient(40, 24, true), "WEBP", path);
    return path;
}

imagetest::Pixels decodeWebP(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = imagetest::readBytes(path);
    imagetest::Pixels p;
    int w = 0, h = 0;
    std::uint8_t* rgba = WebPDecodeRGBA(bytes.data(), bytes.size(), &w, &h);
    if (!rgba)
        return p;
    p.width = std::size_t(w);
    p.height = std::size_t(h);
    p.alpha = true;
    p.rgba.assign(rgba, rgba + std::size_t(w) * std::size_t(h) * 4);
    WebPFree(rgba);
    return p;
}

} // namespace

TEST(ImageWebPRoute, WebPInputsLoadByContentWhateverTheirName) {
    const fs::path dir = imagetest::freshDir("webp-in");
    for (const std::string name : {"lower.webp", "UPPER.WEBP", "misnamed.png", "no-extension"}) {
        SCOPED_TRACE(name);
        const fs::path source = webpSource(dir, name);
        fs::path temporary;
        {
            ImageConversionJob job;
            ASSERT_TRUE(job.LoadInputImage(source));
            EXPECT_TRUE(job.inputIsTemporary);
            temporary = job.inputURL;
            EXPECT_TRUE(fs::exists(temporary));
            EXPECT_EQ(temporary.extension(), ".tif");
            // The input's own type is that of the TIFF it was decoded into.
            EXPECT_EQ(job.FormatOfInputFile(), 10);
            EXPECT_EQ(job.GetPixelsWide(), 40);
            EXPECT_TRUE(job.ImageHasAlpha());
        }
        EXPECT_FALSE(fs::exists(temporary));
    }
}

TEST(ImageWebPRoute, LosslessAndLossyOutputsLeaveNoTemporaryFiles) {
    const fs::path dir = imagetest::freshDir("webp-out");
    imagetest::writeWith(imagetest::gradient(40, 24), "PNG", dir / "opaque.png");
    imagetest::writeWith(imagetest::gradient(40, 24, true), "PNG", dir / "alpha.png");
    ImageJobOptions options = imagetest::jobOptions(dir / "opaque.png", dir / "exact.webp", 24);
    options.quality = 1.0;
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Pixels opaque = imagetest::readPixels(options.inputURL);
    EXPECT_EQ(imagetest::maxDifference(opaque, decodeWebP(options.outputURL)), 0);

    // Through the TIFF in between, colours under partial alpha may be rounded by a step or two
    // (TIFF readers premultiply); the alpha itself is exact.
    options.inputURL = dir / "alpha.png";
    options.outputURL = dir / "alpha.webp";
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Pixels withAlpha = imagetest::readPixels(options.inputURL);
    const imagetest::Pixels back = decodeWebP(options.outputURL);
    EXPECT_LE(imagetest::maxDifference(withAlpha, back), 3);
    ASSERT_EQ(back.rgba.size(), withAlpha.rgba.size());
    for (std::size_t i = 3; i < back.rgba.size(); i += 4)
        ASSERT_EQ(back.rgba[i], withAlpha.rgba[i]);

    options.outputURL = dir / "lossy.webp";
    options.quality = 0.8;
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Pixels lossy = decodeWebP(options.outputURL);
    EXPECT_EQ(lossy.width, 40u);
    EXPECT_LT(imagetest::meanDifference(withAlpha, lossy), 4.0);
    EXPECT_EQ(imagetest::listFolder(dir),
              (std::vector<std::string>{"alpha.png", "alpha.webp", "exact.webp", "lossy.webp",
                                        "opaque.png"}));
}

TEST(ImageWebPRoute, DamagedWebPFailsWithAMessageAndNoTemporaryFile) {
    const fs::path dir = imagetest::freshDir("webp-bad");
    std::vector<std::uint8_t> bytes = imagetest::readBytes(webpSource(dir, "good.webp"));
    bytes.resize(bytes.size() / 2);
    for (std::size_t i = 30; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 13);
    imagetest::writeBytes(dir / "bad.webp", bytes);
    ImageConversionJob job;
    EXPECT_FALSE(job.LoadInputImage(dir / "bad.webp"));
    EXPECT_FALSE(job.lastError.empty());
    EXPECT_FALSE(job.inputIsTemporary);
}
