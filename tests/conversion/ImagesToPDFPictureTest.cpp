// Images to PDF keep the picture as it was meant to be seen: a photo taken sideways stands
// upright on every path a page is made by, and a colour profile travels with the samples. Pages
// are drawn back with pdftoppm, the PDFs' objects read with qpdf.
#include "ConversionEntries.h"
#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "ToPDFTestSupport.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <gtest/gtest.h>
#include <lcms2.h>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

// The page drawn at 72 dpi.
imagetest::Pixels drawnPage(const fs::path& pdf) {
    const fs::path png = pdf.string() + "-page";
    capture("pdftoppm -r 72 -f 1 -l 1 -singlefile -png " + shellQuote(pdf) + " " + shellQuote(png));
    return imagetest::readPixels(png.string() + ".png");
}

// 'r' or 'b' for the colour at a point of the picture (fractions of its sides).
char colourAt(const imagetest::Pixels& p, double fx, double fy) {
    const std::uint8_t* s = imagetest::at(p, std::size_t(fx * double(p.width - 1)),
                                          std::size_t(fy * double(p.height - 1)));
    return s[0] > s[2] ? 'r' : 'b';
}

// A JPEG of 80 x 40 stored with its red half left, whose EXIF says it was taken a quarter turn
// to the left (orientation 6): upright, red is on top.
void writeSidewaysPhoto(const fs::path& path) {
    writeHalvesImage(path, "JPEG", 80, 40, 72);
    Bytes bytes = imagetest::readBytes(path);
    std::string error;
    ASSERT_TRUE(conversion::writeImageOrientation(bytes, 6, error)) << error;
    imagetest::writeBytes(path, bytes);
    ASSERT_EQ(conversion::readImageOrientation(bytes.data(), bytes.size()), 6);
}

// An RGB profile made with lcms2 on the wide primaries and gamma of ROMM RGB, which no reader
// confuses with sRGB.
std::vector<std::uint8_t> wideGamutProfile() {
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.8);
    const cmsCIExyYTRIPLE primaries = {
        {0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// The sRGB colour lcms2 makes of `rgb` in the profile.
std::array<int, 3> inSRGB(const std::vector<std::uint8_t>& profile,
                          std::array<std::uint8_t, 3> rgb) {
    cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t =
        cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::array<std::uint8_t, 3> out{};
    cmsDoTransform(t, rgb.data(), out.data(), 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    return {out[0], out[1], out[2]};
}

// The colour space of the first picture on the first page, and the bytes of its ICC profile.
struct PictureSpace {
    std::string family; // "/ICCBased", "/DeviceRGB", ...
    long long components = 0;
    std::vector<std::uint8_t> profile;
};
PictureSpace pictureSpace(const fs::path& pdf) {
    QPDF q;
    q.processFile(pdf.c_str());
    PictureSpace s;
    for (auto& [name, image] : QPDFPageObjectHelper(q.getAllPages().at(0)).getImages()) {
        QPDFObjectHandle space = image.getDict().getKey("/ColorSpace");
        if (space.isName()) {
            s.family = space.getName();
        } else if (space.isArray() && space.getArrayNItems() == 2) {
            s.family = space.getArrayItem(0).getName();
            QPDFObjectHandle stream = space.getArrayItem(1);
            s.components = stream.getDict().getKey("/N").getIntValue();
            const auto data = stream.getStreamData(qpdf_dl_generalized);
            s.profile.assign(data->getBuffer(), data->getBuffer() + data->getSize());
        }
        break;
    }
    return s;
}

} // namespace

TEST(ImagesToPDFPicture, SidewaysPhotoStandsUprightOnEveryPathAPageIsMadeBy) {
    const fs::path dir = imagetest::freshDir("exif-turned");
    writeSidewaysPhoto(dir / "photo.jpg");
    struct Path {
        const char* name;
        std::function<void(ImagesToPDFOptions&)> set;
    } paths[] = {
        {"passed through", [](ImagesToPDFOptions&) {}},
        {"scaled", [](ImagesToPDFOptions& o) { o.scalePercent = 50; }},
        {"recoloured", [](ImagesToPDFOptions& o) { o.colorMode = kColorModeRGB; }},
        {"stored as JPEG again",
         [](ImagesToPDFOptions& o) {
             o.pageImageFormat = conversion::kFormatJPEG;
             o.maximumResolution = 36;
         }},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        ImagesToPDFOptions o;
        o.merge = true;
        o.outputURL = dir / (std::string(path.name) + ".pdf");
        o.jobList = {{dir / "photo.jpg", {}}};
        path.set(o);
        ASSERT_TRUE(ConvertImagesToPDF(&o));
        const imagetest::Pixels page = drawnPage(o.outputURL);
        EXPECT_LT(page.width, page.height) << "the page stands upright";
        EXPECT_EQ(colourAt(page, 0.5, 0.2), 'r');
        EXPECT_EQ(colourAt(page, 0.5, 0.8), 'b');
    }
    // A quarter turn asked for comes on top of the photo's own: red ends up on the right.
    ImagesToPDFOptions turned;
    turned.merge = true;
    turned.outputURL = dir / "turned.pdf";
    turned.jobList = {{dir / "photo.jpg", 90}};
    ASSERT_TRUE(ConvertImagesToPDF(&turned));
    const imagetest::Pixels page = drawnPage(turned.outputURL);
    EXPECT_GT(page.width, page.height);
    EXPECT_EQ(colourAt(page, 0.2, 0.5), 'b');
    EXPECT_EQ(colourAt(page, 0.8, 0.5), 'r');
    // Merged with other kinds of files, the photo's page is made the same way.
    MergeFilesOptions m;
    m.merge = true;
    m.outputURL = dir / "merged.pdf";
    m.jobList = {{kMergeFileImage, dir / "photo.jpg", {}, {}}};
    ASSERT_TRUE(MergeFilesToPDF(&m));
    const imagetest::Pixels merged = drawnPage(m.outputURL);
    EXPECT_EQ(colourAt(merged, 0.5, 0.2), 'r');
    EXPECT_EQ(colourAt(merged, 0.5, 0.8), 'b');
}

TEST(ImagesToPDFPicture, ColourProfilesOfPNGAndJPEGBecomeTheImagesICCBasedSpace) {
    const fs::path dir = imagetest::freshDir("profiles");
    const std::vector<std::uint8_t> profile = wideGamutProfile();
    const std::array<std::uint8_t, 3> colour = {60, 130, 50};
    const std::array<int, 3> expected = inSRGB(profile, colour);
    // The profile must matter: read as sRGB the samples would look clearly otherwise.
    ASSERT_GT(std::abs(expected[0] - colour[0]) + std::abs(expected[1] - colour[1]) +
                  std::abs(expected[2] - colour[2]),
              40);
    char fill[32];
    std::snprintf(fill, sizeof fill, "rgb(%d,%d,%d)", colour[0], colour[1], colour[2]);
    Magick::Image picture(Magick::Geometry(24, 16), Magick::Color(fill));
    picture.type(Magick::TrueColorType);
    picture.iccColorProfile(Magick::Blob(profile.data(), profile.size()));
    imagetest::writeWith(picture, "PNG", dir / "romm.png");
    picture.quality(100);
    imagetest::writeWith(picture, "JPEG", dir / "romm.jpg");
    // The JPEG passes through as it is, the PNG is stored losslessly; both keep the profile.
    for (const char* name : {"romm.png", "romm.jpg"}) {
        SCOPED_TRACE(name);
        ImagesToPDFOptions o;
        o.merge = true;
        o.outputURL = dir / (std::string(name) + ".pdf");
        o.jobList = {{dir / name, {}}};
        ASSERT_TRUE(ConvertImagesToPDF(&o));
        const PictureSpace space = pictureSpace(o.outputURL);
        EXPECT_EQ(space.family, "/ICCBased");
        EXPECT_EQ(space.components, 3);
        EXPECT_TRUE(space.profile == profile) << "the profile's bytes are kept";
        const imagetest::Pixels page = drawnPage(o.outputURL);
        const std::uint8_t* drawn = imagetest::at(page, page.width / 2, page.height / 2);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(drawn[c], expected[std::size_t(c)], 6) << "channel " << c;
        EXPECT_TRUE(qpdfCheckPasses(o.outputURL));
    }
    // A grey rendering of the picture cannot keep an RGB profile: its samples are device grey.
    ImagesToPDFOptions grey;
    grey.merge = true;
    grey.colorMode = kColorModeGray;
    grey.outputURL = dir / "grey.pdf";
    grey.jobList = {{dir / "romm.png", {}}};
    ASSERT_TRUE(ConvertImagesToPDF(&grey));
    EXPECT_EQ(pictureSpace(grey.outputURL).family, "/DeviceGray");
    EXPECT_TRUE(qpdfCheckPasses(grey.outputURL));
}
