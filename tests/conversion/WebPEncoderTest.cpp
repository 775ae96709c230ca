// EncodeImageFileToWebP, its output walked chunk by chunk and through libwebp's demux.
#include "WebPEncoder.h"
#include "WebPTestImages.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <png.h>
#include <webp/decode.h>
#include <webp/demux.h>

using namespace webptest;

namespace {

struct Encoded {
    int code = 0;
    std::string messages;
};

Encoded encode(const std::string& input, const char* output, std::uint32_t keep, float quality = 75,
               bool lossless = false) {
    WebPConfig config;
    EXPECT_TRUE(WebPConfigInit(&config));
    config.quality = quality;
    config.lossless = lossless;
    Encoded result;
    testing::internal::CaptureStderr();
    result.code = EncodeImageFileToWebP(input.c_str(), output, &config, keep);
    result.messages = testing::internal::GetCapturedStderr();
    return result;
}

// Chunks libwebp's demux finds, with the VP8X flags it reports.
struct Demuxed {
    bool valid = false;
    std::uint32_t flags = 0;
    int width = 0;
    int height = 0;
    std::string exif, iccp, xmp;
};

Demuxed demux(const Bytes& file) {
    Demuxed d;
    WebPData data{file.data(), file.size()};
    WebPDemuxer* demuxer = WebPDemux(&data);
    if (!demuxer)
        return d;
    d.valid = true;
    d.flags = WebPDemuxGetI(demuxer, WEBP_FF_FORMAT_FLAGS);
    d.width = int(WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_WIDTH));
    d.height = int(WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_HEIGHT));
    for (auto [fourcc, target] :
         {std::pair{"EXIF", &d.exif}, std::pair{"ICCP", &d.iccp}, std::pair{"XMP ", &d.xmp}}) {
        WebPChunkIterator it;
        if (WebPDemuxGetChunk(demuxer, fourcc, 1, &it)) {
            target->assign(reinterpret_cast<const char*>(it.chunk.bytes), it.chunk.size);
            WebPDemuxReleaseChunkIterator(&it);
        }
    }
    WebPDemuxDelete(demuxer);
    return d;
}

std::vector<std::string> fourccs(const Bytes& file) {
    std::vector<std::string> names;
    for (const Chunk& c : riffChunks(file))
        names.push_back(c.fourcc);
    return names;
}

std::string asString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

const Bytes kExif = [] {
    Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    while (b.size() < 101) // odd: the chunk needs a pad byte
        b.push_back(std::uint8_t(b.size()));
    return b;
}();
const Bytes kICC = iccProfile(333, 1);

std::string photoWithMetadata() {
    static const std::string path = [] {
        const std::string p = scratchPath("photo.jpg");
        std::vector<JPEGMarker> markers = iccMarkers(kICC, 2, {2, 1});
        markers.insert(markers.begin(), exifMarker(kExif));
        writeJPEG(p, 40, 24, 3, patternPixels(40, 24, 3), markers);
        return p;
    }();
    return path;
}

TEST(WebPEncoder, KeptMetadataBecomesChunksAroundTheImage) {
    const std::string out = scratchPath("photo.webp");
    ASSERT_EQ(encode(photoWithMetadata(), out.c_str(), 0).code, 0);
    const Bytes plain = readBytes(out);
    ASSERT_EQ(fourccs(plain), (std::vector<std::string>{"VP8 "}));

    ASSERT_EQ(encode(photoWithMetadata(), out.c_str(),
                     kWebPMetadataEXIF | kWebPMetadataICC | kWebPMetadataXMP)
                  .code,
              0);
    const Bytes file = readBytes(out);
    EXPECT_EQ(fourccs(file), (std::vector<std::string>{"VP8X", "ICCP", "VP8 ", "EXIF"}));
    // VP8X (18) + ICCP (8 + 333 + pad) + EXIF (8 + 101 + pad) on top of the plain file.
    EXPECT_EQ(file.size(), plain.size() + 18 + 342 + 110);
    const Demuxed d = demux(file);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.flags, std::uint32_t(ICCP_FLAG | EXIF_FLAG));
    EXPECT_EQ(d.width, 40);
    EXPECT_EQ(d.height, 24);
    EXPECT_EQ(d.exif, asString(kExif));
    EXPECT_EQ(d.iccp, asString(kICC));
    // The image chunk is the encoder's own, byte for byte.
    EXPECT_EQ(riffChunks(file)[2].payload, riffChunks(plain)[0].payload);

    ASSERT_EQ(encode(photoWithMetadata(), out.c_str(), kWebPMetadataEXIF).code, 0);
    EXPECT_EQ(fourccs(readBytes(out)), (std::vector<std::string>{"VP8X", "VP8 ", "EXIF"}));
    EXPECT_EQ(demux(readBytes(out)).flags, std::uint32_t(EXIF_FLAG));
}

TEST(WebPEncoder, InputWithoutMetadataIsWrittenUnchanged) {
    PNGOptions rgb;
    writePNG(scratchPath("plain.png"), 9, 9, rgb, patternPixels(9, 9, 3));
    const std::string a = scratchPath("a.webp"), b = scratchPath("b.webp");
    ASSERT_EQ(encode(scratchPath("plain.png"), a.c_str(), 0).code, 0);
    ASSERT_EQ(encode(scratchPath("plain.png"), b.c_str(), 7).code, 0);
    EXPECT_EQ(readBytes(a), readBytes(b));
    EXPECT_EQ(fourccs(readBytes(b)), (std::vector<std::string>{"VP8 "}));
}

TEST(WebPEncoder, LosslessAlphaWithXMPGetsTheAlphaFlag) {
    PNGOptions rgba;
    rgba.colorType = PNG_COLOR_TYPE_RGBA;
    const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"; // odd length
    rgba.texts = {{"XML:com.adobe.xmp", xmp, true}};
    const Bytes pixels = patternPixels(13, 7, 4);
    writePNG(scratchPath("alpha.png"), 13, 7, rgba, pixels);
    const std::string out = scratchPath("alpha.webp");
    ASSERT_EQ(encode(scratchPath("alpha.png"), out.c_str(), kWebPMetadataXMP, 75, true).code, 0);
    const Bytes file = readBytes(out);
    EXPECT_EQ(fourccs(file), (std::vector<std::string>{"VP8X", "VP8L", "XMP "}));
    const Demuxed d = demux(file);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.flags, std::uint32_t(ALPHA_FLAG | XMP_FLAG));
    EXPECT_EQ(d.xmp, xmp);
    // Lossless means lossless, alpha included (exact colours where alpha is not 0).
    int w = 0, h = 0;
    std::uint8_t* decoded = WebPDecodeRGBA(file.data(), file.size(), &w, &h);
    ASSERT_TRUE(decoded);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        EXPECT_EQ(decoded[i + 3], pixels[i + 3]);
        if (pixels[i + 3]) {
            EXPECT_EQ(decoded[i], pixels[i]);
        }
    }
    WebPFree(decoded);
}

TEST(WebPEncoder, EveryFailureHasItsCodeAndLeavesTheTargetAlone) {
    const std::string target = scratchPath("kept.webp");
    const Bytes before = {'o', 'l', 'd'};
    writeBytes(target, before);

    EXPECT_EQ(encode(scratchPath("absent.png"), target.c_str(), 0).code, kWebPEncodeReadFailed);
    writeBytes(scratchPath("pic.gif"), {'G', 'I', 'F', '8', '9', 'a', 0, 0});
    const Encoded gif = encode(scratchPath("pic.gif"), target.c_str(), 0);
    EXPECT_EQ(gif.code, kWebPEncodeReadFailed);
    EXPECT_NE(gif.messages.find("Error! Could not process file"), std::string::npos);
    EXPECT_EQ(encode(photoWithMetadata(), target.c_str(), 0, 150).code, kWebPEncodeInvalidConfig);
    EXPECT_EQ(EncodeImageFileToWebP(photoWithMetadata().c_str(), target.c_str(), nullptr, 0),
              kWebPEncodeInvalidConfig);
    PNGOptions grey;
    grey.colorType = PNG_COLOR_TYPE_GRAY;
    writePNG(scratchPath("huge.png"), 1, 16384, grey, Bytes(16384, 1));
    EXPECT_EQ(encode(scratchPath("huge.png"), target.c_str(), 0).code, kWebPEncodeReadFailed);
    EXPECT_EQ(readBytes(target), before);

    EXPECT_EQ(encode(photoWithMetadata(), scratchPath("no/such/folder/x.webp").c_str(), 0).code,
              kWebPEncodeOpenOutputFailed);
    EXPECT_EQ(encode(photoWithMetadata(), "/dev/full", 7).code, kWebPEncodeWriteFailed);
}

TEST(WebPEncoder, SuccessReplacesTheTargetAndLeavesNoTemporaryFile) {
    const std::string folder = scratchPath("replace");
    std::filesystem::create_directory(folder);
    const std::string target = folder + "/out.webp";
    writeBytes(target, Bytes(5000, 'x'));
    std::filesystem::permissions(target, std::filesystem::perms(0640));
    ASSERT_EQ(encode(photoWithMetadata(), target.c_str(), 0).code, 0);
    EXPECT_EQ(listFolder(folder), std::vector<std::string>{"out.webp"});
    EXPECT_EQ(fourccs(readBytes(target)), (std::vector<std::string>{"VP8 "}));
    EXPECT_EQ(std::filesystem::status(target).permissions(), std::filesystem::perms(0640));

    // A link to the output stays a link; the file it points to gets the image.
    const std::string link = folder + "/link.webp";
    std::filesystem::create_symlink("out.webp", link);
    writeBytes(target, Bytes(10, 'y'));
    ASSERT_EQ(encode(photoWithMetadata(), link.c_str(), 0).code, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(fourccs(readBytes(target)), (std::vector<std::string>{"VP8 "}));
    EXPECT_EQ(listFolder(folder), (std::vector<std::string>{"link.webp", "out.webp"}));

    // Without an output path the picture is read and encoded, and nothing is written.
    EXPECT_EQ(encode(photoWithMetadata(), nullptr, 7).code, 0);
    EXPECT_EQ(listFolder(folder), (std::vector<std::string>{"link.webp", "out.webp"}));
}

// An encoded file handed in from outside: too short to hold the bytes the header patch reads.
TEST(WebPEncoder, ShortEncodedFilesAreRefusedNotOverread) {
    ImageMetadata metadata;
    InitImageMetadata(&metadata);
    CopyMetadataBuffer(kExif.data(), kExif.size(), &metadata.exif);
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = picture.height = 1;
    for (const char* first : {"VP8X", "VP8L"}) {
        for (std::size_t size : {20u, 24u, 29u}) {
            // Exactly `size` bytes on the heap, so that a read past them is caught.
            auto* bytes = static_cast<std::uint8_t*>(std::malloc(size));
            std::memset(bytes, 0xFF, size);
            std::memcpy(bytes, "RIFF", 4);
            std::memcpy(bytes + 8, "WEBP", 4);
            std::memcpy(bytes + 12, first, 4);
            WebPMemoryWriter writer{bytes, size, size, {0}};
            FILE* sink = std::fopen("/dev/null", "wb");
            std::uint32_t written = 99;
            const int ok = WriteWebPFileWithMetadata(sink, &picture, &writer, &metadata,
                                                     kWebPMetadataEXIF, &written);
            std::fclose(sink);
            std::free(bytes);
            if (std::string(first) == "VP8X")
                EXPECT_FALSE(ok) << size;
            else
                EXPECT_EQ(ok, size > 24) << size;
        }
    }
    FreeImageMetadata(&metadata);
}

} // namespace
