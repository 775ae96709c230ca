// The format codes, type identifiers, output extensions and text kinds.
#include "ImageFormats.h"
#include "ImageTestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace conversion;
using imagetest::fs::path;

namespace {

struct Row {
    std::int32_t code;
    const char* uti;
    // ImageFormatFromUTI of `uti`: restricted, unrestricted (-1: the identifier maps elsewhere).
    std::int32_t restricted;
    std::int32_t unrestricted;
    const char* extension;
};

const Row kTable[] = {
    {0, "public.jpeg", 4, 4, "jpg"},
    {1, "com.adobe.photoshop-image", 1, 1, "psd"},
    {2, "com.compuserve.gif", 2, 2, "gif"},
    {3, "public.jpeg-2000", 3, 3, "jp2"},
    {4, "public.jpeg", 4, 4, "jpg"},
    {5, "com.ilm.openexr-image", 5, 5, "exr"},
    {6, "com.apple.icns", 6, 6, "icns"},
    {7, "public.png", 7, 7, "png"},
    {8, "com.adobe.pdf", 0, 0, "pdf"},
    {9, "com.truevision.tga-image", 0, 0, "tga"},
    {10, "public.tiff", 10, 10, "tif"},
    {11, "com.microsoft.bmp", 11, 11, "bmp"},
    {12, "com.sgi.sgi-image", 0, 12, "sgi"},
    {13, "public.tiff", 10, 10, "tif"},
    {14, "com.apple.pict", 0, 14, "pict"},
    {15, "com.adobe.illustrator.ai-image", 0, 15, "ai"},
    {16, "com.apple.macpaint-image", 0, 16, "mac"},
    {17, "com.apple.quicktime-image", 0, 17, "qtif"},
    {18, "com.microsoft.ico", 0, 18, "ico"},
    {19, "public.xbitmap-image", 0, 19, "xbm"},
    {20, "com.kodak.flashpix.image", 0, 20, "fpx"},
    {21, "public.fax", 0, 21, "fax"},
    {22, "public.camera-raw-image", 0, 22, "dng"},
    {23, "public.tiff", 10, 10, "tif"},
    {24, "public.jpeg", 4, 4, "webp"},
};

} // namespace

TEST(ImageFormatTables, EveryCodeHasItsTypeIdentifierExtensionAndReverseMapping) {
    for (const Row& row : kTable) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(UTIForImageFormat(row.code), row.uti);
        EXPECT_EQ(ImageFormatFromUTI(row.uti, true), row.restricted);
        EXPECT_EQ(ImageFormatFromUTI(row.uti, false), row.unrestricted);
        EXPECT_EQ(ExtensionForImageFormat(row.code), row.extension);
    }
    // The table itself (TGA's identifier is known only as an output) and nothing else.
    EXPECT_EQ(ImageFormatFromUTI("com.truevision.tga-image", false), 0);
}

TEST(ImageFormatTables, CodesOutsideTheTableAndInexactIdentifiersAnswerEmptyNeverCrash) {
    for (std::int32_t code : {-1, -2147483647 - 1, 25, 1000, 2147483647}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(UTIForImageFormat(code), "");
        EXPECT_EQ(ExtensionForImageFormat(code), "");
        EXPECT_FALSE(isKnownFormatCode(code));
    }
    // Identifiers are compared exactly.
    for (const char* uti : {"PUBLIC.JPEG", "public.jpeg ", "", "org.webmproject.webp"})
        EXPECT_EQ(ImageFormatFromUTI(uti, false), 0) << uti;
}

TEST(ImageFormatTables, MissingOrDamagedResourceGivesEmptyExtensions) {
    const path empty = imagetest::freshDir("no-resources");
    const path damaged = imagetest::freshDir("damaged-resources");
    imagetest::writeBytes(damaged / "ImageExtension.plist",
                          {'<', 'p', 'l', 'i', 's', 't', '>', '<', 'a'});
    const path shortList = imagetest::freshDir("short-resources");
    const std::string shortText = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                  "<string>jpg</string><string>psd</string></array></plist>";
    imagetest::writeBytes(shortList / "ImageExtension.plist",
                          std::vector<std::uint8_t>(shortText.begin(), shortText.end()));
    const char* before = std::getenv("LUMENO_RESOURCES");
    const std::string saved = before ? before : "";
    for (const path& dir : {empty, damaged}) {
        setenv("LUMENO_RESOURCES", dir.c_str(), 1);
        for (std::int32_t code = 0; code < kFormatCount; ++code)
            EXPECT_EQ(ExtensionForImageFormat(code), "") << dir << " " << code;
    }
    setenv("LUMENO_RESOURCES", shortList.c_str(), 1);
    EXPECT_EQ(ExtensionForImageFormat(1), "psd");
    EXPECT_EQ(ExtensionForImageFormat(2), ""); // beyond the end of the array
    if (before)
        setenv("LUMENO_RESOURCES", saved.c_str(), 1);
    else
        unsetenv("LUMENO_RESOURCES");
}

TEST(ImageFormatTables, FilesAreJudgedByContentNotName) {
    const path dir = imagetest::freshDir("content");
    auto image = imagetest::gradient(16, 12);
    struct Case {
        const char* coder;
        const char* misleadingName;
        std::int32_t expected;
    } cases[] = {
        {"PNG", "looks-like.jpg", 7}, {"JPEG", "photo.PNG", 4}, {"TIFF", "scan", 10},
        {"GIF", "anim.tif", 2},       {"BMP", "pic.gif", 11},   {"PSD", "layers.bmp", 1},
        {"JP2", "picture.png", 3},    {"SGI", "irix.jpg", 0},   {"WEBP", "image.WEBP", 0},
        {"ICO", "icon.png", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.coder);
        imagetest::writeWith(image, c.coder, dir / c.misleadingName);
        EXPECT_EQ(ImageFormatOfURL(dir / c.misleadingName), c.expected);
    }
    EXPECT_EQ(typeIdentifierOfFile(dir / "image.WEBP"), "org.webmproject.webp");
    EXPECT_EQ(typeIdentifierOfFile(dir / "irix.jpg"), "com.sgi.sgi-image");
    const std::string pdf = "%PDF-1.4\n%\xE2\xE3\n";
    imagetest::writeBytes(dir / "doc.tif", std::vector<std::uint8_t>(pdf.begin(), pdf.end()));
    EXPECT_EQ(ImageFormatOfURL(dir / "doc.tif"), 0);
    EXPECT_EQ(ImageFormatOfURL(dir / "does-not-exist.png"), 0);
    imagetest::writeBytes(dir / "empty.png", {});
    EXPECT_EQ(ImageFormatOfURL(dir / "empty.png"), 0);
}

TEST(ImageFormatTables, TextKindsFollowTheirTable) {
    const std::pair<const char*, TextFileKind> table[] = {
        {"public.rtf", kTextRTF},
        {"com.apple.rtfd", kTextRTFD},
        {"public.html", kTextHTML},
        {"public.text", kTextGeneric},
        {"public.plain-text", kTextPlain},
        {"com.apple.webarchive", kTextWebArchive},
        {"org.oasis-open.opendocument.text", kTextOpenDocument},
        {"org.oasis.opendocument.text", kTextOpenDocument},
        {"org.oasis-open.opendocument", kTextOpenDocument},
        {"org.oasis-open.opendocument.text-template", kTextOpenDocumentTemplate},
        {"org.openoffice.text", kTextOpenOffice},
        {"org.openoffice.text-template", kTextOpenOfficeTemplate},
        {"org.openxmlformats.wordprocessingml.document", kTextWordXML},
        {"com.microsoft.word.wordml", kTextWordML},
        {"com.microsoft.word.doc", kTextWordDoc},
        {"com.apple.traditional-mac-plain-text", kTextMacPlain},
        {"public.utf8-plain-text", kTextOther},
        {"PUBLIC.RTF", kTextOther},
        {"", kTextOther},
    };
    for (const auto& [uti, kind] : table)
        EXPECT_EQ(TextFormatFromUTI(uti), kind) << uti;
    for (const char* uti : {"com.apple.log", "com.apple.crashreport", "com.apple.panicreport",
                            "com.apple.hangreport", "com.apple.spinreport", "com.apple.aslquery"})
        EXPECT_EQ(TextFormatFromUTI(uti), kTextPlain) << uti;
}
