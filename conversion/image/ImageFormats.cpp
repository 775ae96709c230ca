#include "ImageFormats.h"

#include "InstalledPaths.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace conversion {

namespace {

constexpr const char* kTypeIdentifiers[kFormatCount] = {
    "public.jpeg",
    "com.adobe.photoshop-image",
    "com.compuserve.gif",
    "public.jpeg-2000",
    "public.jpeg",
    "com.ilm.openexr-image",
    "com.apple.icns",
    "public.png",
    "com.adobe.pdf",
    "com.truevision.tga-image",
    "public.tiff",
    "com.microsoft.bmp",
    "com.sgi.sgi-image",
    "public.tiff",
    "com.apple.pict",
    "com.adobe.illustrator.ai-image",
    "com.apple.macpaint-image",
    "com.apple.quicktime-image",
    "com.microsoft.ico",
    "public.xbitmap-image",
    "com.kodak.flashpix.image",
    "public.fax",
    "public.camera-raw-image",
    "public.tiff",
    "public.jpeg",
};

// Order matters: the first equal identifier decides, and the common formats come first.
const std::pair<const char*, std::int32_t> kCommon[] = {
    {"public.jpeg", 4},
    {"public.tiff", 10},
    {"public.png", 7},
    {"com.compuserve.gif", 2},
    {"public.jpeg-2000", 3},
    {"com.microsoft.bmp", 11},
    {"com.adobe.photoshop-image", 1},
    {"com.ilm.openexr-image", 5},
    {"com.apple.icns", 6},
};
const std::pair<const char*, std::int32_t> kRare[] = {
    {"com.sgi.sgi-image", 12},
    {"public.camera-raw-image", 22},
    {"com.apple.pict", 14},
    {"com.apple.macpaint-image", 16},
    {"public.xbitmap-image", 19},
    {"com.apple.quicktime-image", 17},
    {"public.fax", 21},
    {"com.kodak.flashpix.image", 20},
    {"com.adobe.illustrator.ai-image", 15},
    {"com.microsoft.ico", 18},
};

// The last 18 bytes of a version 2 TGA file.
constexpr char kTGAFooter[18] = {'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O',
                                 'N', '-', 'X', 'F', 'I', 'L', 'E', '.', '\0'};

bool startsWith(const std::uint8_t* b, std::size_t n, const char* magic, std::size_t m) {
    return n >= m && std::memcmp(b, magic, m) == 0;
}

} // namespace

std::string UTIForImageFormat(std::int32_t format) {
    return isKnownFormatCode(format) ? kTypeIdentifiers[format] : "";
}

std::int32_t ImageFormatFromUTI(const std::string& typeIdentifier, bool restricted) {
    for (const auto& [uti, code] : kCommon)
        if (typeIdentifier == uti)
            return code;
    if (restricted)
        return 0;
    for (const auto& [uti, code] : kRare)
        if (typeIdentifier == uti)
            return code;
    return 0;
}

std::string typeIdentifierOfBytes(const std::uint8_t* b, std::size_t n) {
    if (startsWith(b, n, "\xFF\xD8\xFF", 3))
        return "public.jpeg";
    if (startsWith(b, n, "\x89PNG\r\n\x1A\n", 8))
        return "public.png";
    if (startsWith(b, n, "GIF87a", 6) || startsWith(b, n, "GIF89a", 6))
        return "com.compuserve.gif";
    if (startsWith(b, n, "II*\0", 4) || startsWith(b, n, "MM\0*", 4) ||
        startsWith(b, n, "II+\0", 4) || startsWith(b, n, "MM\0+", 4))
        return "public.tiff";
    if (startsWith(b, n, "\0\0\0\x0CjP  \r\n\x87\n", 12) || startsWith(b, n, "\xFF\x4F\xFF\x51", 4))
        return "public.jpeg-2000";
    if (n >= 12 && startsWith(b, n, "RIFF", 4) && std::memcmp(b + 8, "WEBP", 4) == 0)
        return "org.webmproject.webp";
    if (startsWith(b, n, "%PDF-", 5))
        return "com.adobe.pdf";
    if (startsWith(b, n, "8BPS", 4))
        return "com.adobe.photoshop-image";
    if (startsWith(b, n, "BM", 2) && n >= 18)
        return "com.microsoft.bmp";
    if (startsWith(b, n, "\x76\x2F\x31\x01", 4))
        return "com.ilm.openexr-image";
    if (startsWith(b, n, "icns", 4))
        return "com.apple.icns";
    if (startsWith(b, n, "\x01\xDA", 2) && n >= 4 && b[2] <= 1)
        return "com.sgi.sgi-image";
    if (startsWith(b, n, "\0\0\x01\0", 4) && n >= 6 && (b[4] | b[5]))
        return "com.microsoft.ico";
    if (startsWith(b, n, "#define ", 8))
        return "public.xbitmap-image";
    // Formats whose mark is not at the start: a PICT's version opcode after its 512-byte header
    // and the picture's size and frame; MacPaint's type and creator in its MacBinary header; the
    // footer of a version 2 TGA.
    if (n >= 526 && (std::memcmp(b + 522, "\x00\x11\x02\xFF", 4) == 0 ||
                     std::memcmp(b + 522, "\x11\x01", 2) == 0))
        return "com.apple.pict";
    if (n >= 73 && b[0] == 0 && std::memcmp(b + 65, "PNTGMPNT", 8) == 0)
        return "com.apple.macpaint-image";
    if (n >= 44 && std::memcmp(b + n - 18, kTGAFooter, sizeof kTGAFooter) == 0)
        return "com.truevision.tga-image";
    return "";
}

std::string typeIdentifierOfFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::uint8_t head[1024] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const std::size_t n = std::size_t(in.gcount());
    std::string uti = typeIdentifierOfBytes(head, n);
    if (!uti.empty() || n < sizeof head)
        return uti;
    // A TGA is known by its footer.
    in.clear();
    in.seekg(-std::streamoff(sizeof kTGAFooter), std::ios::end);
    char tail[sizeof kTGAFooter] = {};
    if (in.read(tail, sizeof tail) && std::memcmp(tail, kTGAFooter, sizeof tail) == 0)
        return "com.truevision.tga-image";
    return "";
}

std::int32_t ImageFormatOfURL(const std::filesystem::path& path) {
    return ImageFormatFromUTI(typeIdentifierOfFile(path), true);
}

std::filesystem::path conversionResourcesDir() {
    return installedFolder("LUMENO_RESOURCES", std::filesystem::path("share") / "lumeno");
}

std::string ExtensionForImageFormat(std::int32_t format) {
    if (!isKnownFormatCode(format))
        return "";
    const std::filesystem::path dir = conversionResourcesDir();
    if (dir.empty())
        return "";
    const std::string file = (dir / "ImageExtension.plist").string();
    xmlDocPtr doc =
        xmlReadFile(file.c_str(), nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS);
    if (!doc)
        return "";
    std::string result;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    xmlNodePtr array = root ? root->children : nullptr;
    while (array &&
           !(array->type == XML_ELEMENT_NODE && xmlStrcmp(array->name, BAD_CAST "array") == 0))
        array = array->next;
    std::int32_t index = 0;
    for (xmlNodePtr n = array ? array->children : nullptr; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        if (index++ != format)
            continue;
        if (xmlStrcmp(n->name, BAD_CAST "string") == 0) {
            xmlChar* text = xmlNodeGetContent(n);
            if (text)
                result = reinterpret_cast<const char*>(text);
            xmlFree(text);
        }
        break;
    }
    xmlFreeDoc(doc);
    return result;
}

TextFileKind TextFormatFromUTI(const std::string& uti) {
    static const std::vector<std::pair<const char*, TextFileKind>> table = {
        {"public.rtf", kTextRTF},
        {"com.apple.rtfd", kTextRTFD},
        {"public.html", kTextHTML},
        {"public.text", kTextGeneric},
        {"public.plain-text", kTextPlain},
        {"com.apple.log", kTextPlain},
        {"com.apple.crashreport", kTextPlain},
        {"com.apple.panicreport", kTextPlain},
        {"com.apple.hangreport", kTextPlain},
        {"com.apple.spinreport", kTextPlain},
        {"com.apple.aslquery", kTextPlain},
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
    };
    for (const auto& [name, kind] : table)
        if (uti == name)
            return kind;
    return kTextOther;
}

} // namespace conversion
