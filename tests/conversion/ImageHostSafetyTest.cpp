// Pictures that used to abort the host inside a codec library, or ran without bound, converted
// and read back with ImageMagick.
#include "ConversionEntries.h"
#include "ImageTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <lcms2.h>

namespace fs = std::filesystem;

namespace {

// An ICC profile made with lcms2: a linear tone curve (gamma 1) on sRGB's primaries, or linear
// grey, so that tagged samples differ clearly from the same samples read as sRGB.
Magick::Blob linearProfile(bool grey) {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE profile = nullptr;
    if (grey) {
        profile = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    } else {
        cmsCIExyY white;
        cmsWhitePointFromTemp(&white, 6504);
        const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
        cmsToneCurve* curves[3] = {linear, linear, linear};
        profile = cmsCreateRGBProfile(&white, &primaries, curves);
    }
    cmsFreeToneCurve(linear);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return Magick::Blob(bytes.data(), bytes.size());
}

} // namespace

// Linear 64, 128 and 32 of 255 are sRGB 137, 188 and 99: a converted file shows those, a file
// whose profile was dropped without converting shows the linear samples.
TEST(ImageHostSafety, JPEG2000OutputOfProfiledPicturesHasItsColoursConvertedToSRGB) {
    const fs::path dir = imagetest::freshDir("jp2-icc");
    struct Case {
        const char* name;
        const char* coder;
        bool grey;
    };
    for (const Case& c : {Case{"rgb.png", "PNG", false}, Case{"rgb.jpg", "JPEG", false},
                          Case{"grey.png", "PNG", true}}) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> flat;
        for (int i = 0; i < 32 * 24; ++i)
            flat.insert(flat.end(),
                        {64, std::uint8_t(c.grey ? 64 : 128), std::uint8_t(c.grey ? 64 : 32)});
        Magick::Image image(32, 24, "RGB", Magick::CharPixel, flat.data());
        if (c.grey)
            image.type(Magick::GrayscaleType);
        image.iccColorProfile(linearProfile(c.grey));
        image.quality(100);
        const fs::path source = dir / c.name;
        imagetest::writeWith(image, c.coder, source);
        const fs::path output = dir / (std::string(c.name) + ".jp2");
        ImageJobOptions options = imagetest::jobOptions(source, output, 3);
        options.quality = 1.0;
        ASSERT_TRUE(ConvertImageFile(&options));
        int status = -1;
        const std::string described =
            imagetest::capture("identify " + imagetest::shellQuote(output), &status);
        EXPECT_EQ(status, 0);
        EXPECT_NE(described.find("JP2"), std::string::npos) << described;
        const imagetest::Pixels back = imagetest::readPixels(output, "JP2");
        ASSERT_EQ(back.width, 32u);
        const std::uint8_t* p = imagetest::at(back, 10, 10);
        const int expected[3] = {137, c.grey ? 137 : 188, c.grey ? 137 : 99};
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(int(p[ch]), expected[ch], 3) << "channel " << ch;
    }
}
