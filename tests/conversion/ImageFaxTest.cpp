// Raw group 3 fax files, made by ImageMagick's fax writer, read by the image job.
#include "ConversionEntries.h"
#include "FaxCodec.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <array>
#include <gtest/gtest.h>

using namespace conversion;
namespace fs = std::filesystem;

namespace {

// A white page w x h with black rectangles (left, top, right, bottom, inclusive).
Magick::Image page(std::size_t w, std::size_t h,
                   const std::vector<std::array<int, 4>>& blackRectangles) {
    Magick::Image image(Magick::Geometry(w, h), Magick::Color("white"));
    image.fillColor("black");
    for (const auto& r : blackRectangles)
        image.draw(Magick::DrawableRectangle(r[0], r[1], r[2], r[3]));
    image.type(Magick::BilevelType);
    return image;
}

fs::path writeFax(const Magick::Image& image, const fs::path& path) {
    imagetest::writeWith(image, "FAX", path);
    return path;
}

imagetest::Pixels convertToPNG(const fs::path& in, const fs::path& out) {
    ImageJobOptions options = imagetest::jobOptions(in, out, kFormatPNG);
    EXPECT_TRUE(ConvertImageFile(&options)) << in;
    return fs::exists(out) ? imagetest::readPixels(out) : imagetest::Pixels{};
}

} // namespace

TEST(ImageFax, ARawG3PageIsReadAtFaxWidthWithItsMarks) {
    const fs::path dir = imagetest::freshDir("g3");
    for (const char* extension : {"g3", "fax", "G3"}) {
        SCOPED_TRACE(extension);
        const fs::path g3 =
            writeFax(page(200, 100, {{20, 20, 120, 60}}), dir / (std::string("note.") + extension));
        const imagetest::Pixels p =
            convertToPNG(g3, dir / (std::string("note-") + extension + ".png"));
        ASSERT_EQ(p.width, 1728u);
        ASSERT_EQ(p.height, 100u);
        EXPECT_EQ(imagetest::at(p, 70, 40)[0], 0);
        EXPECT_EQ(imagetest::at(p, 20, 20)[0], 0);
        EXPECT_EQ(imagetest::at(p, 120, 60)[0], 0);
        EXPECT_EQ(imagetest::at(p, 19, 40)[0], 255);
        EXPECT_EQ(imagetest::at(p, 121, 40)[0], 255);
        EXPECT_EQ(imagetest::at(p, 70, 61)[0], 255);
        EXPECT_EQ(imagetest::at(p, 1000, 50)[0], 255);
    }
}

TEST(ImageFax, AFullWidthPageKeepsEveryPixel) {
    const fs::path dir = imagetest::freshDir("full");
    std::vector<std::array<int, 4>> bars;
    for (int x = 0; x < 1728; x += 37)
        bars.push_back({x, (x / 37) % 20, x + (x / 37) % 9, 80 - (x / 37) % 13});
    const Magick::Image source = page(1728, 90, bars);
    const fs::path g3 = writeFax(source, dir / "bars.g3");
    const imagetest::Pixels p = convertToPNG(g3, dir / "bars.png");
    EXPECT_EQ(imagetest::maxDifference(p, imagetest::pixelsOf(source)), 0);
}

TEST(ImageFax, RowsAreCountedBetweenEndOfLineCodes) {
    const fs::path dir = imagetest::freshDir("rows");
    for (const std::size_t rows : {1u, 2u, 57u, 300u}) {
        const fs::path g3 =
            writeFax(page(64, rows, {}), dir / ("r" + std::to_string(rows) + ".g3"));
        const imagetest::Bytes bytes = imagetest::readBytes(g3);
        EXPECT_EQ(CountFaxRows(bytes.data(), bytes.size()), std::int64_t(rows));
    }
    EXPECT_EQ(CountFaxRows(nullptr, 0), 0);
    const std::uint8_t onlyEndOfLines[] = {0x00, 0x10, 0x01, 0x00, 0x10, 0x01};
    EXPECT_EQ(CountFaxRows(onlyEndOfLines, sizeof onlyEndOfLines), 0);
}

TEST(ImageFax, DamagedFaxDataIsReadOrRefusedWithAMessage) {
    const fs::path dir = imagetest::freshDir("damaged");
    const fs::path g3 = writeFax(page(300, 40, {{10, 5, 200, 30}}), dir / "d.g3");
    const imagetest::Bytes original = imagetest::readBytes(g3);
    for (const imagetest::Bytes& copy : imagetest::damagedCopies(original, 16, 48)) {
        Bitmap b;
        std::string error;
        if (decodeRawFaxBitmap(copy.data(), copy.size(), b, error)) {
            EXPECT_EQ(b.pixels.size(), b.rowBytes() * std::size_t(b.height));
            EXPECT_GE(b.width, 1728);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    Bitmap b;
    std::string error;
    const std::uint8_t noise[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(decodeRawFaxBitmap(noise, sizeof noise, b, error) && b.height > 1);
}
