// Pictures that used to abort the host inside a codec library, or ran without bound, converted
// and read back with ImageMagick.
#include "ConversionEntries.h"
#include "ImageTestSupport.h"
#include "PNGCodec.h"
#include "TIFFCodec.h"

#include <OpenEXR/ImfArray.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <gif_lib.h>
#include <tiffio.h>

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

// A PNG of w x h written with the library's own PNG writer (ImageMagick in this program could
// not make one past its limits): red rising left to right, green 100, blue 200.
void writeWidePNG(const fs::path& path, std::int64_t w, std::int64_t h) {
    conversion::Bitmap b;
    std::string error;
    ASSERT_TRUE(b.allocate(w, h, conversion::ColorModel::RGB, false, &error)) << error;
    for (std::int64_t y = 0; y < h; ++y)
        for (std::int64_t x = 0; x < w; ++x) {
            std::uint8_t* p = b.row(y) + x * 3;
            p[0] = std::uint8_t(x * 255 / (w - 1));
            p[1] = 100;
            p[2] = 200;
        }
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(conversion::encodePNGBitmap(b, false, 0, 0, bytes, error)) << error;
    imagetest::writeBytes(path, bytes);
}

// Width, height and the RGB of the pixel at (x, 0), read with giflib.
std::vector<int> gifSizeAndPixel(const fs::path& path, int x) {
    int code = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &code);
    if (!gif)
        return {};
    std::vector<int> result;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map =
            image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        const GifColorType c = map->Colors[image.RasterBits[x]];
        result = {gif->SWidth, gif->SHeight, c.Red, c.Green, c.Blue};
    }
    DGifCloseFile(gif, &code);
    return result;
}

// The same from an OpenEXR file read with OpenEXR, samples scaled back to 0..255.
std::vector<int> exrSizeAndPixel(const fs::path& path, int x) {
    Imf::RgbaInputFile file(path.c_str());
    const Imath::Box2i window = file.dataWindow();
    const int w = window.max.x - window.min.x + 1, h = window.max.y - window.min.y + 1;
    Imf::Array2D<Imf::Rgba> pixels(h, w);
    file.setFrameBuffer(&pixels[0][0] - window.min.x - window.min.y * w, 1, w);
    file.readPixels(window.min.y, window.max.y);
    const Imf::Rgba& p = pixels[0][x];
    return {w, h, int(std::lround(float(p.r) * 255)), int(std::lround(float(p.g) * 255)),
            int(std::lround(float(p.b) * 255))};
}

// A GIF of `frames` frames of one pixel each (colour index i % 2) on a canvas of w x h, written
// byte by byte: each frame is a delay and a one-pixel image.
std::vector<std::uint8_t> onePixelFrames(int frames, int w = 1, int h = 1) {
    std::vector<std::uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', std::uint8_t(w),
                                   std::uint8_t(w >> 8), std::uint8_t(h), std::uint8_t(h >> 8),
                                   0x80, 0, 0,
                                   // two colours: red, blue
                                   255, 0, 0, 0, 0, 255};
    for (int i = 0; i < frames; ++i) {
        const std::uint8_t pixel = std::uint8_t(i % 2);
        // Graphic control: 10 ms, then the image at (0, 0), 1 x 1, LZW min code size 2 with the
        // codes clear, the pixel, end (3 bits each).
        const std::uint8_t frame[] = {0x21, 0xF9, 4, 0, 1, 0, 0,
                                      0,    0x2C, 0, 0, 0, 0, 1,
                                      0,    1,    0, 0, 2, 2, std::uint8_t(0x44 | pixel << 3),
                                      1,    0};
        b.insert(b.end(), std::begin(frame), std::end(frame));
    }
    b.push_back(0x3B);
    return b;
}

// "tiled", "planes", "float", the bits a sample and whether alpha is associated: what the file
// is made of, so that each case is sure to be the layout it names.
std::string tiffLayout(const fs::path& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return "unreadable";
    std::uint16_t bits = 0, planar = 1, format = 1, extras = 0;
    std::uint16_t* types = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extras, &types);
    std::string layout = std::to_string(bits);
    if (TIFFIsTiled(tif))
        layout += " tiled";
    if (planar == PLANARCONFIG_SEPARATE)
        layout += " planes";
    if (format == SAMPLEFORMAT_IEEEFP)
        layout += " float";
    if (extras && types && types[0] == EXTRASAMPLE_ASSOCALPHA)
        layout += " associated";
    TIFFClose(tif);
    return layout;
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

// Debian's ImageMagick policy caps sides at 16K pixels; past a cap Magick++ aborts the process.
// GIF and OpenEXR are written by their own libraries and take such a picture.
TEST(ImageHostSafety, PicturesPastImageMagicksLimitsAreRefusedAndGIFAndEXRAreStillWritten) {
    const fs::path dir = imagetest::freshDir("magick-limits");
    const fs::path source = dir / "wide.png";
    writeWidePNG(source, 17000, 2);
    const std::int32_t refused[] = {1, 9, 11, 12, 14, 18, 19};
    for (const std::int32_t code : refused) {
        SCOPED_TRACE(code);
        const fs::path output = dir / ("out" + std::to_string(code) + ".img");
        ImageJobOptions options = imagetest::jobOptions(source, output, code);
        EXPECT_FALSE(ConvertImageFile(&options));
        EXPECT_FALSE(fs::exists(output));
    }
    const fs::path gif = dir / "wide.gif", exr = dir / "wide.exr";
    ImageJobOptions toGIF = imagetest::jobOptions(source, gif, 2);
    ASSERT_TRUE(ConvertImageFile(&toGIF));
    EXPECT_EQ(gifSizeAndPixel(gif, 8500), (std::vector<int>{17000, 2, 127, 100, 200}));
    ImageJobOptions toEXR = imagetest::jobOptions(source, exr, 5);
    ASSERT_TRUE(ConvertImageFile(&toEXR));
    const std::vector<int> pixel = exrSizeAndPixel(exr, 8500);
    ASSERT_EQ(pixel.size(), 5u);
    EXPECT_EQ(pixel[0], 17000);
    EXPECT_EQ(pixel[1], 2);
    EXPECT_NEAR(pixel[2], 127, 1);
    EXPECT_NEAR(pixel[3], 100, 1);
    EXPECT_NEAR(pixel[4], 200, 1);
}

// 10,000 one-pixel frames (230 KB) took two minutes and 1.5 GB and wrote 10,000 files; 40,000
// never finished. The frames of one file are capped, and so is their memory with what each
// frame costs beyond its pixels.
TEST(ImageHostSafety, GIFsOfTooManyFramesAreRefusedAndTheOthersAreNumberedOnward) {
    const fs::path dir = imagetest::freshDir("gif-frames");
    imagetest::writeBytes(dir / "many.gif", onePixelFrames(10000));
    EXPECT_LT(fs::file_size(dir / "many.gif"), 240000u);
    ImageJobOptions many = imagetest::jobOptions(dir / "many.gif", dir / "many.png", 7);
    EXPECT_FALSE(ConvertImageFile(&many));
    EXPECT_FALSE(fs::exists(dir / "many"));
    // Few frames on a canvas that their number makes too large to hold.
    imagetest::writeBytes(dir / "wide.gif", onePixelFrames(1500, 580, 580));
    ImageJobOptions wide = imagetest::jobOptions(dir / "wide.gif", dir / "wide.png", 7);
    EXPECT_FALSE(ConvertImageFile(&wide));
    EXPECT_FALSE(fs::exists(dir / "wide"));

    // 300 frames: numbered files, going round a name that is taken.
    imagetest::writeBytes(dir / "anim.gif", onePixelFrames(300));
    fs::create_directories(dir / "anim");
    imagetest::writeBytes(dir / "anim" / "anim 3.png", {1, 2, 3});
    ImageJobOptions anim = imagetest::jobOptions(dir / "anim.gif", dir / "anim.png", 7);
    ASSERT_TRUE(ConvertImageFile(&anim));
    const std::vector<std::string> names = imagetest::listFolder(dir / "anim");
    EXPECT_EQ(names.size(), 301u);
    EXPECT_EQ(imagetest::readBytes(dir / "anim" / "anim 3.png"), (imagetest::Bytes{1, 2, 3}));
    EXPECT_TRUE(fs::exists(dir / "anim" / "anim.png"));
    EXPECT_TRUE(fs::exists(dir / "anim" / "anim 300.png"));
    const imagetest::PNGPicture first = imagetest::readPNG(dir / "anim" / "anim.png");
    const imagetest::PNGPicture second = imagetest::readPNG(dir / "anim" / "anim 1.png");
    ASSERT_TRUE(first.ok && second.ok);
    EXPECT_EQ(first.rgba[0], 255);  // red
    EXPECT_EQ(second.rgba[2], 255); // blue
}

// TIFF layouts written by ImageMagick and read by the library, compared with ImageMagick reading
// the same file. libtiff's RGBA reader premultiplied alpha (and the result was stored as straight
// alpha, darker where transparent); 16-bit CMYK, tiled CMYK and float pages were refused.
TEST(ImageHostSafety, TIFFLayoutsReadWithTheirRealSamples) {
    const fs::path dir = imagetest::freshDir("tiff-layouts");
    struct Case {
        const char* name;
        bool alpha;
        std::size_t depth;
        bool cmyk;
        std::vector<std::pair<std::string, std::string>> defines;
        bool planes;
        const char* layout;
    };
    const Case cases[] = {
        {"assoc8", true, 8, false, {{"alpha", "associated"}}, false, "8 associated"},
        {"assoc16", true, 16, false, {{"alpha", "associated"}}, false, "16 associated"},
        {"alpha16", true, 16, false, {}, false, "16"},
        {"cmyk16", false, 16, true, {}, false, "16"},
        {"tiledcmyk", false, 8, true, {{"tile-geometry", "16x16"}}, false, "8 tiled"},
        {"planar16", true, 16, false, {}, true, "16 planes"},
        {"float32", false, 32, false, {}, false, "32 float"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Magick::Image image = imagetest::gradient(64, 48, c.alpha);
        if (c.cmyk)
            image.colorSpace(MagickCore::CMYKColorspace);
        image.depth(c.depth);
        if (c.depth == 32)
            image.defineValue("quantum", "format", "floating-point");
        for (const auto& [key, value] : c.defines)
            image.defineValue("tiff", key, value);
        if (c.planes)
            image.interlaceType(Magick::PlaneInterlace);
        const fs::path source = dir / (std::string(c.name) + ".tif");
        imagetest::writeWith(image, "TIFF", source);
        ASSERT_EQ(tiffLayout(source), c.layout);
        const fs::path output = dir / (std::string(c.name) + "-out.tif");
        ImageJobOptions options = imagetest::jobOptions(source, output, 10);
        ASSERT_TRUE(ConvertImageFile(&options));
        const imagetest::Pixels expected = imagetest::readPixels(source, "TIFF");
        const imagetest::Pixels got = imagetest::readPixels(output, "TIFF");
        ASSERT_EQ(got.width, 64u);
        EXPECT_EQ(got.alpha, c.alpha);
        EXPECT_LE(imagetest::maxDifference(expected, got), 3);
        // Damaged copies of each layout fail or decode, within their bounds.
        for (const imagetest::Bytes& copy :
             imagetest::damagedCopies(imagetest::readBytes(source), 8, 24)) {
            std::vector<conversion::Bitmap> pages;
            std::string error;
            conversion::decodeTIFFBitmaps(copy.data(), copy.size(), pages, error);
        }
    }
}
