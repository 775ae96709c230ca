// Source metadata in the output, read back with Exiv2.
#include "ConversionEntries.h"
#include "ImageTestSupport.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

fs::path sourceWithMetadata(const fs::path& dir) {
    const fs::path source = dir / "camera.jpg";
    imagetest::writeWith(imagetest::gradient(40, 30), "JPEG", source);
    auto image = Exiv2::ImageFactory::open(source.string());
    image->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Lumeno Test Camera";
    exif["Exif.Photo.DateTimeOriginal"] = "2026:12:07 01:02:03";
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "47/1 22/1 0/1";
    exif["Exif.Image.XResolution"] = Exiv2::Rational(999, 1);
    exif["Exif.Image.ResolutionUnit"] = std::uint16_t(3);
    image->setExifData(exif);
    Exiv2::XmpData xmp;
    xmp["Xmp.dc.title"] = "lang=\"x-default\" Harbour at dawn";
    image->setXmpData(xmp);
    image->writeMetadata();
    return source;
}

struct Found {
    std::string make, gpsRef, title;
    long unit = 0;
    double xres = 0;
};

Found readBack(const fs::path& file) {
    Found f;
    auto image = Exiv2::ImageFactory::open(file.string());
    image->readMetadata();
    const auto& exif = image->exifData();
    auto get = [&](const char* key) {
        auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string() : it->toString();
    };
    f.make = get("Exif.Image.Make");
    f.gpsRef = get("Exif.GPSInfo.GPSLatitudeRef");
    auto unit = exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
    f.unit = unit == exif.end() ? 0 : unit->toLong();
    auto xres = exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"));
    f.xres = xres == exif.end() ? 0 : xres->toFloat();
    auto title = image->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.title"));
    f.title = title == image->xmpData().end() ? std::string() : title->toString();
    return f;
}

bool convert(const fs::path& in, const fs::path& out, std::int32_t code, bool keep,
             std::int64_t dpi) {
    ImageJobOptions options = imagetest::jobOptions(in, out, code);
    options.keepMetadata = keep;
    options.dpi = dpi;
    return ConvertImageFile(&options);
}

} // namespace

TEST(ImageMetadata, MetadataReachesJPEGPNGAndTIFFOnlyWhenAskedWithTheOutputsResolution) {
    const fs::path dir = imagetest::freshDir("metadata");
    const fs::path source = sourceWithMetadata(dir);
    for (bool keep : {true, false})
        for (auto [code, ext] : {std::pair{4, ".jpg"}, {7, ".png"}, {10, ".tif"}}) {
            const fs::path out = dir / ((keep ? "kept" : "plain") + std::string(ext));
            SCOPED_TRACE(out.filename());
            ASSERT_TRUE(convert(source, out, code, keep, keep ? 240 : 0));
            const Found f = readBack(out);
            EXPECT_EQ(f.make, keep ? "Lumeno Test Camera" : "");
            EXPECT_EQ(f.gpsRef, keep ? "N" : "");
            EXPECT_EQ(f.title.find("Harbour at dawn") != std::string::npos, keep);
            if (keep) { // the copied resolution describes the source; the output's replaces it
                EXPECT_FLOAT_EQ(f.xres, 240);
                EXPECT_EQ(f.unit, 2);
            }
            EXPECT_EQ(imagetest::readPixels(out).width, 40u);
        }
}

TEST(ImageMetadata, JPEG2000NeverTakesSourceMetadata) {
    const fs::path dir = imagetest::freshDir("metadata-jp2");
    const fs::path source = sourceWithMetadata(dir);
    ASSERT_TRUE(convert(source, dir / "out.jp2", 3, true, 0));
    const std::vector<std::uint8_t> bytes = imagetest::readBytes(dir / "out.jp2");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.find("Lumeno Test Camera"), std::string::npos);
    EXPECT_EQ(imagetest::readPixels(dir / "out.jp2").width, 40u);
}

namespace {

// A 40 x 20 JPEG, blue, with a red block at its stored top left and a green one at its stored
// top right, recording the EXIF orientation.
fs::path orientedPhoto(const fs::path& dir, int orientation) {
    const fs::path path = dir / ("photo-" + std::to_string(orientation) + ".jpg");
    Magick::Image image(Magick::Geometry(40, 20), Magick::Color("blue"));
    image.fillColor(Magick::Color("red"));
    image.draw(Magick::DrawableRectangle(0, 0, 7, 7));
    image.fillColor(Magick::Color("lime"));
    image.draw(Magick::DrawableRectangle(32, 0, 39, 7));
    imagetest::writeWith(image, "JPEG", path);
    auto file = Exiv2::ImageFactory::open(path.string());
    file->readMetadata();
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
    file->setExifData(exif);
    file->writeMetadata();
    return path;
}

// "r", "g" or "b": the colour that wins at a pixel.
char colourAt(const imagetest::Pixels& p, std::size_t x, std::size_t y) {
    const std::uint8_t* s = imagetest::at(p, x, y);
    return s[0] > 128 ? 'r' : s[1] > 128 ? 'g' : 'b';
}

long orientationOf(const fs::path& file) {
    auto image = Exiv2::ImageFactory::open(file.string());
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    return it == image->exifData().end() ? 0 : it->toLong();
}

} // namespace

TEST(ImageMetadata, EXIFOrientationTurnsThePixelsAndTheOutputRecordsItUpright) {
    const fs::path dir = imagetest::freshDir("orientation");
    // Where the stored top-left (red) and top-right (green) corners are seen, as the corners
    // top left, top right, bottom right, bottom left of the upright picture.
    struct Case {
        int orientation;
        const char* corners; // colours at TL, TR, BR, BL
    };
    const Case cases[] = {{1, "rgbb"}, {2, "grbb"}, {3, "bbrg"}, {4, "bbgr"},
                          {5, "rbbg"}, {6, "brgb"}, {7, "bgrb"}, {8, "gbbr"}};
    for (const Case& c : cases) {
        SCOPED_TRACE("orientation " + std::to_string(c.orientation));
        const fs::path source = orientedPhoto(dir, c.orientation);
        for (const bool keep : {false, true}) {
            const fs::path out =
                dir / ("upright-" + std::to_string(c.orientation) + (keep ? "-kept" : "") + ".png");
            ASSERT_TRUE(convert(source, out, 7, keep, 0));
            const imagetest::Pixels p = imagetest::readPixels(out);
            const bool sideways = c.orientation >= 5;
            EXPECT_EQ(p.width, sideways ? 20u : 40u);
            EXPECT_EQ(p.height, sideways ? 40u : 20u);
            const std::size_t r = p.width - 2, b = p.height - 2;
            const std::string seen = {colourAt(p, 1, 1), colourAt(p, r, 1), colourAt(p, r, b),
                                      colourAt(p, 1, b)};
            EXPECT_EQ(seen, c.corners);
            // Upright pixels are recorded upright, or not at all.
            EXPECT_EQ(orientationOf(out), keep ? 1 : 0);
        }
    }
}

TEST(ImageMetadata, WebPKeepsTheColourProfileAlwaysAndTheEXIFWhenAsked) {
    const fs::path dir = imagetest::freshDir("webp-metadata");
    const fs::path profile = "/usr/share/color/icc/ghostscript/a98.icc";
    ASSERT_TRUE(fs::exists(profile));
    const fs::path source = sourceWithMetadata(dir);
    const fs::path tagged = dir / "tagged.jpg";
    ASSERT_EQ(imagetest::run("convert " + imagetest::shellQuote(source) + " -profile " +
                             imagetest::shellQuote(profile) + " " + imagetest::shellQuote(tagged)),
              0);
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "keeping metadata" : "without metadata");
        const fs::path out = dir / (keep ? "kept.webp" : "plain.webp");
        ASSERT_TRUE(convert(tagged, out, 24, keep, 0));
        const std::string info = imagetest::capture("webpmux -info " + imagetest::shellQuote(out));
        EXPECT_NE(info.find("ICC profile"), std::string::npos) << info;
        EXPECT_EQ(info.find("EXIF metadata") != std::string::npos, keep) << info;
        const fs::path icc = dir / "got.icc";
        ASSERT_EQ(imagetest::run("webpmux -get icc " + imagetest::shellQuote(out) + " -o " +
                                 imagetest::shellQuote(icc) + " >/dev/null 2>&1"),
                  0);
        EXPECT_EQ(imagetest::readBytes(icc), imagetest::readBytes(profile));
        if (keep) {
            const fs::path exif = dir / "got.exif";
            ASSERT_EQ(imagetest::run("webpmux -get exif " + imagetest::shellQuote(out) + " -o " +
                                     imagetest::shellQuote(exif) + " >/dev/null 2>&1"),
                      0);
            EXPECT_NE(imagetest::readText(exif).find("Lumeno Test Camera"), std::string::npos);
        }
    }
}
