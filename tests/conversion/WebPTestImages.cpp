#include "WebPTestImages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>

namespace webptest {

std::string scratchPath(const std::string& name) {
    static const fs::path folder = freshDir("webp");
    return (folder / name).string();
}

Bytes patternPixels(int width, int height, int channels, int seed) {
    Bytes pixels(std::size_t(width) * height * channels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                pixels[(std::size_t(y) * width + x) * channels + c] =
                    std::uint8_t((x * 37 + y * 91 + c * 53 + seed * 17 + x * y) & 0xFF);
    return pixels;
}

Bytes iccProfile(std::size_t size, int seed) {
    Bytes p(std::max<std::size_t>(size, 132), 0);
    auto be32 = [&](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[at + i] = std::uint8_t(v >> (24 - 8 * i));
    };
    auto tag = [&](std::size_t at, const char* four) { std::memcpy(p.data() + at, four, 4); };
    be32(0, uint32_t(p.size()));
    be32(8, 0x02100000);
    tag(12, "mntr");
    tag(16, "RGB ");
    tag(20, "XYZ ");
    tag(36, "acsp");
    be32(68, 0x0000F6D6); // D50
    be32(72, 0x00010000);
    be32(76, 0x0000D32D);
    for (std::size_t i = 132; i < p.size(); ++i)
        p[i] = std::uint8_t(i * 13 + seed);
    return p;
}

void writePNG(const std::string& path, int width, int height, const PNGOptions& options,
              const Bytes& rows) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, options.bitDepth, options.colorType,
                 options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < options.paletteRGB.size(); i += 3)
        palette.push_back(
            {options.paletteRGB[i], options.paletteRGB[i + 1], options.paletteRGB[i + 2]});
    if (!palette.empty())
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!options.transparency.empty())
        png_set_tRNS(png, info, options.transparency.data(), int(options.transparency.size()),
                     nullptr);
    if (!options.iccProfile.empty())
        png_set_iCCP(png, info, "test profile", 0, options.iccProfile.data(),
                     png_uint_32(options.iccProfile.size()));
    auto setTexts = [&](const std::vector<PNGText>& texts) {
        std::vector<png_text> chunks(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            std::memset(&chunks[i], 0, sizeof(png_text));
            chunks[i].compression =
                texts[i].international ? PNG_ITXT_COMPRESSION_NONE : PNG_TEXT_COMPRESSION_NONE;
            chunks[i].key = const_cast<char*>(texts[i].keyword.c_str());
            chunks[i].text = const_cast<char*>(texts[i].text.c_str());
            chunks[i].text_length = texts[i].international ? 0 : texts[i].text.size();
            chunks[i].itxt_length = texts[i].international ? texts[i].text.size() : 0;
        }
        if (!chunks.empty())
            png_set_text(png, info, chunks.data(), int(chunks.size()));
    };
    setTexts(options.texts);
    png_write_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    EXPECT_EQ(rows.size(), rowBytes * height);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y)
            png_write_row(png, rows.data() + rowBytes * y);
    // Text set now goes after the image data.
    png_free_data(png, info, PNG_FREE_TEXT, -1);
    setTexts(options.textsAfterImage);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

void writeJPEG(const std::string& path, int width, int height, int components, const Bytes& pixels,
               const std::vector<JPEGMarker>& markers, int quality) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (const JPEGMarker& m : markers)
        jpeg_write_marker(&c, m.marker, m.data.data(), unsigned(m.data.size()));
    const std::size_t stride = std::size_t(width) * components;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

std::vector<JPEGMarker> iccMarkers(const Bytes& profile, int count, const std::vector<int>& order) {
    const std::size_t piece = (profile.size() + count - 1) / count;
    std::vector<JPEGMarker> markers;
    for (int sequence : order) {
        const std::size_t index = sequence > 0 ? std::size_t(sequence - 1) : 0;
        const std::size_t begin = std::min(profile.size(), piece * index);
        const std::size_t end = std::min(profile.size(), begin + piece);
        JPEGMarker m{0xE2, Bytes{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0}};
        m.data.push_back(std::uint8_t(sequence));
        m.data.push_back(std::uint8_t(count));
        m.data.insert(m.data.end(), profile.begin() + long(begin), profile.begin() + long(end));
        markers.push_back(m);
    }
    return markers;
}

JPEGMarker exifMarker(const Bytes& tiffPayload) {
    JPEGMarker m{0xE1, Bytes{'E', 'x', 'i', 'f', 0, 0}};
    m.data.insert(m.data.end(), tiffPayload.begin(), tiffPayload.end());
    return m;
}

void writeTIFF(const std::string& path, const std::vector<TIFFPage>& pages,
               const TIFFOptions& options) {
    TIFF* tif = TIFFOpen(path.c_str(), options.bigEndian ? "wb" : "wl");
    ASSERT_TRUE(tif);
    for (std::size_t p = 0; p < pages.size(); ++p) {
        const TIFFPage& page = pages[p];
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(page.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(page.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(page.height));
        if (p == 0 && !options.iccProfile.empty())
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(options.iccProfile.size()),
                         options.iccProfile.data());
        if (p == 0 && !options.xmp.empty())
            TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(options.xmp.size()), options.xmp.data());
        if (p == 0 && options.exifDirectory)
            TIFFSetField(tif, TIFFTAG_EXIFIFD, uint64_t(0)); // patched below
        for (int y = 0; y < page.height; ++y)
            TIFFWriteScanline(tif, const_cast<std::uint8_t*>(page.rgb.data() + y * page.width * 3),
                              uint32_t(y), 0);
        TIFFWriteDirectory(tif);
    }
    if (options.exifDirectory) {
        uint64_t exifOffset = 0;
        TIFFCreateEXIFDirectory(tif);
        TIFFSetField(tif, EXIFTAG_EXPOSURETIME, 1.0 / 250);
        TIFFWriteCustomDirectory(tif, &exifOffset);
        TIFFSetDirectory(tif, 0);
        TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset);
        TIFFRewriteDirectory(tif);
    }
    TIFFClose(tif);
}

Bytes encodeWebP(const Bytes& rgba, int width, int height, bool lossless, bool withAlpha) {
    WebPConfig config;
    WebPPicture picture;
    WebPMemoryWriter writer;
    EXPECT_TRUE(WebPConfigInit(&config) && WebPPictureInit(&picture));
    config.lossless = lossless;
    config.quality = 90;
    config.exact = 1;
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    if (withAlpha)
        WebPPictureImportRGBA(&picture, rgba.data(), width * 4);
    else
        WebPPictureImportRGBX(&picture, rgba.data(), width * 4);
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    EXPECT_TRUE(WebPEncode(&config, &picture));
    Bytes out(writer.mem, writer.mem + writer.size);
    WebPMemoryWriterClear(&writer);
    WebPPictureFree(&picture);
    return out;
}

bool readTIFFAsRGBA(const std::string& path, int* width, int* height, Bytes* rgba) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return false;
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> raster(std::size_t(w) * h);
    const bool ok = TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 1);
    TIFFClose(tif);
    rgba->resize(raster.size() * 4);
    for (std::size_t i = 0; i < raster.size(); ++i) {
        (*rgba)[i * 4 + 0] = std::uint8_t(TIFFGetR(raster[i]));
        (*rgba)[i * 4 + 1] = std::uint8_t(TIFFGetG(raster[i]));
        (*rgba)[i * 4 + 2] = std::uint8_t(TIFFGetB(raster[i]));
        (*rgba)[i * 4 + 3] = std::uint8_t(TIFFGetA(raster[i]));
    }
    *width = int(w);
    *height = int(h);
    return ok;
}

Bytes pictureRGBA(const WebPPicture& picture) {
    Bytes out;
    if (!picture.use_argb || !picture.argb)
        return out;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t p = picture.argb[std::size_t(y) * picture.argb_stride + x];
            out.insert(out.end(), {std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p),
                                   std::uint8_t(p >> 24)});
        }
    return out;
}

std::string metadataString(const MetadataBuffer& buffer) {
    return buffer.bytes ? std::string(reinterpret_cast<const char*>(buffer.bytes), buffer.size)
                        : std::string();
}

std::vector<Chunk> riffChunks(const Bytes& file) {
    auto le32 = [&](std::size_t at) {
        return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 |
               uint32_t(file[at + 3]) << 24;
    };
    std::vector<Chunk> chunks;
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) ||
        std::memcmp(file.data() + 8, "WEBP", 4) || le32(4) != file.size() - 8)
        return {};
    std::size_t at = 12;
    while (at < file.size()) {
        if (file.size() - at < 8)
            return {};
        const uint32_t size = le32(at + 4);
        const std::size_t padded = std::size_t(size) + (size & 1);
        if (file.size() - at - 8 < padded)
            return {};
        if ((size & 1) && file[at + 8 + size] != 0)
            return {};
        chunks.push_back({std::string(reinterpret_cast<const char*>(file.data() + at), 4), at,
                          Bytes(file.begin() + long(at + 8), file.begin() + long(at + 8 + size))});
        at += 8 + padded;
    }
    return chunks;
}

} // namespace webptest
