// Apple icon files: written by the image job from ordinary pictures and read back with libicns's
// own tools (icns2png), and icon families made by png2icns read by the job.
#include "ConversionEntries.h"
#include "ICNSCodec.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

bool haveIcnsTools() {
    return imagetest::run("command -v icns2png >/dev/null && command -v png2icns >/dev/null") == 0;
}

#define REQUIRE_ICNS_TOOLS() REQUIRE_TOOL(haveIcnsTools(), "icnsutils (icns2png, png2icns)")

// The member list icns2png prints for a file.
std::string listMembers(const fs::path& icns) {
    return imagetest::capture("icns2png -l " + imagetest::shellQuote(icns) + " 2>&1");
}

// The pictures icns2png extracts into `folder`, by name.
std::vector<std::string> extract(const fs::path& icns, const fs::path& folder) {
    fs::create_directories(folder);
    imagetest::run("cd " + imagetest::shellQuote(folder) + " && icns2png -x " +
                   imagetest::shellQuote(icns) + " >/dev/null 2>&1");
    return imagetest::listFolder(folder);
}

} // namespace

TEST(ImageIcon, TheIconSizeIsTheFamilySizeNearestToTheLongerSide) {
    const struct {
        std::int64_t w, h;
        int size;
    } cases[] = {{1, 1, 16},       {16, 16, 16},    {20, 20, 16},     {24, 24, 32},
                 {40, 40, 48},     {100, 60, 128},  {128, 128, 128},  {300, 200, 256},
                 {384, 10, 512},   {600, 600, 512}, {800, 800, 1024}, {20000, 1, 1024},
                 {1, 16384, 1024}, {88, 88, 128}};
    for (const auto& c : cases)
        EXPECT_EQ(iCNSSizeFor(c.w, c.h), c.size) << c.w << " x " << c.h;
}

TEST(ImageIcon, SquarePictureOfAnIconSizeIsWrittenAsOneMemberThatIcns2pngReads) {
    REQUIRE_ICNS_TOOLS();
    const fs::path dir = imagetest::freshDir("square");
    for (const int side : {16, 32, 48, 128, 256}) {
        const std::string name = "p" + std::to_string(side);
        const fs::path png = dir / (name + ".png");
        imagetest::writeWith(imagetest::gradient(side, side, true), "PNG", png);
        const fs::path icns = dir / (name + ".icns");
        ImageJobOptions options = imagetest::jobOptions(png, icns, kFormatAppleIcon);
        ASSERT_TRUE(ConvertImageFile(&options)) << side;
        const std::string sizeText = std::to_string(side) + "x" + std::to_string(side);
        const std::string listing = listMembers(icns);
        // The small sizes keep their alpha in a mask member beside the picture.
        EXPECT_NE(listing.find(side < 256 ? "2 elements total" : "1 elements total"),
                  std::string::npos)
            << listing;
        EXPECT_NE(listing.find(sizeText), std::string::npos) << listing;
        const std::vector<std::string> files = extract(icns, dir / (name + "-x"));
        ASSERT_EQ(files.size(), 1u) << side;
        EXPECT_NE(files[0].find(sizeText), std::string::npos) << files[0];
        const imagetest::Pixels written = imagetest::readPixels(dir / (name + "-x") / files[0]);
        const imagetest::Pixels source = imagetest::readPixels(png);
        ASSERT_TRUE(written.alpha) << side;
        EXPECT_LE(imagetest::maxDifference(written, source), 2) << side;
    }
}

TEST(ImageIcon, OtherSizesAreScaledIntoATransparentSquareOfTheNearestSize) {
    REQUIRE_ICNS_TOOLS();
    const fs::path dir = imagetest::freshDir("scaled");
    const fs::path png = dir / "wide.png";
    // A red field with a blue right half, 300 x 150: 256 x 128 once scaled, centred vertically.
    Magick::Image picture(Magick::Geometry(300, 150), Magick::Color("red"));
    picture.fillColor("blue");
    picture.draw(Magick::DrawableRectangle(150, 0, 299, 149));
    imagetest::writeWith(picture, "PNG", png);
    const fs::path icns = dir / "wide.icns";
    ImageJobOptions options = imagetest::jobOptions(png, icns, kFormatAppleIcon);
    ASSERT_TRUE(ConvertImageFile(&options));
    EXPECT_NE(listMembers(icns).find("256x256"), std::string::npos);
    const std::vector<std::string> files = extract(icns, dir / "x");
    ASSERT_EQ(files.size(), 1u);
    const imagetest::Pixels p = imagetest::readPixels(dir / "x" / files[0]);
    ASSERT_EQ(p.width, 256u);
    ASSERT_EQ(p.height, 256u);
    EXPECT_EQ(imagetest::at(p, 128, 10)[3], 0) << "the band above the picture is transparent";
    EXPECT_EQ(imagetest::at(p, 128, 250)[3], 0) << "the band below the picture is transparent";
    const std::uint8_t* left = imagetest::at(p, 40, 128);
    const std::uint8_t* right = imagetest::at(p, 216, 128);
    EXPECT_EQ(left[3], 255);
    EXPECT_GT(left[0], 240);
    EXPECT_LT(left[2], 15);
    EXPECT_GT(right[2], 240);
    EXPECT_LT(right[0], 15);
}

TEST(ImageIcon, EveryMemberOfAFamilyIsConvertedToANumberedFile) {
    REQUIRE_ICNS_TOOLS();
    const fs::path dir = imagetest::freshDir("family");
    std::string pngs;
    for (const int side : {16, 32, 48, 128, 256, 512}) {
        const fs::path png = dir / ("m" + std::to_string(side) + ".png");
        imagetest::writeWith(imagetest::gradient(side, side, true), "PNG", png);
        pngs += " " + imagetest::shellQuote(png);
    }
    const fs::path icns = dir / "family.icns";
    ASSERT_EQ(imagetest::run("png2icns " + imagetest::shellQuote(icns) + pngs + " >/dev/null 2>&1"),
              0);
    ImageJobOptions options = imagetest::jobOptions(icns, dir / "out" / "icon.png", kFormatPNG);
    fs::create_directories(dir / "out");
    ASSERT_TRUE(ConvertImageFile(&options));
    const std::vector<std::string> files = imagetest::listFolder(dir / "out" / "icon");
    ASSERT_EQ(files.size(), 6u);
    std::vector<std::size_t> sides;
    for (const std::string& f : files) {
        const imagetest::Pixels p = imagetest::readPixels(dir / "out" / "icon" / f);
        EXPECT_EQ(p.width, p.height) << f;
        const imagetest::Pixels source =
            imagetest::readPixels(dir / ("m" + std::to_string(p.width) + ".png"));
        EXPECT_LE(imagetest::maxDifference(p, source), 2) << f;
        sides.push_back(p.width);
    }
    std::sort(sides.begin(), sides.end());
    EXPECT_EQ(sides, (std::vector<std::size_t>{16, 32, 48, 128, 256, 512}));
}

TEST(ImageIcon, AnIconWrittenHereReadsBackWithTheSamePixels) {
    const fs::path dir = imagetest::freshDir("roundtrip");
    for (const int side : {32, 128, 512}) {
        const std::string name = "r" + std::to_string(side);
        const fs::path png = dir / (name + ".png");
        imagetest::writeWith(imagetest::gradient(side, side, true), "PNG", png);
        const fs::path icns = dir / (name + ".icns");
        ImageJobOptions toIcon = imagetest::jobOptions(png, icns, kFormatAppleIcon);
        ASSERT_TRUE(ConvertImageFile(&toIcon)) << side;
        const fs::path back = dir / (name + "-back.png");
        ImageJobOptions toPNG = imagetest::jobOptions(icns, back, kFormatPNG);
        ASSERT_TRUE(ConvertImageFile(&toPNG)) << side;
        EXPECT_LE(imagetest::maxDifference(imagetest::readPixels(back), imagetest::readPixels(png)),
                  2)
            << side;
    }
}

TEST(ImageIcon, DamagedIconFilesAreRefusedWithoutHarm) {
    const fs::path dir = imagetest::freshDir("damaged");
    const fs::path png = dir / "d.png";
    imagetest::writeWith(imagetest::gradient(32, 32, true), "PNG", png);
    const fs::path icns = dir / "d.icns";
    ImageJobOptions options = imagetest::jobOptions(png, icns, kFormatAppleIcon);
    ASSERT_TRUE(ConvertImageFile(&options));
    const imagetest::Bytes original = imagetest::readBytes(icns);
    for (const imagetest::Bytes& copy : imagetest::damagedCopies(original, 24, 48)) {
        std::vector<Bitmap> pictures;
        std::string error;
        if (decodeICNSBitmaps(copy.data(), copy.size(), pictures, error)) {
            for (const Bitmap& b : pictures)
                EXPECT_EQ(b.pixels.size(), b.rowBytes() * std::size_t(b.height));
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}
