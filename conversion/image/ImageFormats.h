// The image format codes every job names its output by, their type identifiers and file
// extensions, the type of a file judged by its content, and the kinds of text documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace conversion {

enum ImageFileFormat : std::int32_t {
    kFormatNone = 0,
    kFormatPhotoshop = 1,
    kFormatGIF = 2,
    kFormatJPEG2000 = 3,
    kFormatJPEG = 4,
    kFormatOpenEXR = 5,
    kFormatAppleIcon = 6,
    kFormatPNG = 7,
    kFormatPDF = 8,
    kFormatTGA = 9,
    kFormatTIFF = 10,
    kFormatBMP = 11,
    kFormatSGI = 12,
    kFormatCMYKTIFF = 13,
    kFormatPICT = 14,
    kFormatIllustrator = 15,
    kFormatMacPaint = 16,
    kFormatQuickTimeImage = 17,
    kFormatWindowsIcon = 18,
    kFormatXBitmap = 19,
    kFormatFlashPix = 20,
    kFormatFax = 21,
    kFormatCameraRaw = 22,
    kFormatMultiPageTIFF = 23,
    kFormatWebP = 24,
};
inline constexpr std::int32_t kFormatCount = 25;

inline bool isKnownFormatCode(std::int32_t code) {
    return code >= 0 && code < kFormatCount;
}

// The type identifier of the code; "" for a code outside the table.
std::string UTIForImageFormat(std::int32_t format);
// The code of a type identifier (exact, case-sensitive); 0 for an empty or unknown one. With
// `restricted` only the common formats are recognised.
std::int32_t ImageFormatFromUTI(const std::string& typeIdentifier, bool restricted);
// The type identifier of a file judged by its first bytes; "" when unrecognised or unreadable.
std::string typeIdentifierOfFile(const std::filesystem::path& path);
std::string typeIdentifierOfBytes(const std::uint8_t* bytes, std::size_t size);
// ImageFormatFromUTI(typeIdentifierOfFile(path), true).
std::int32_t ImageFormatOfURL(const std::filesystem::path& path);
// The extension (without dot) of output files of the code, from "ImageExtension.plist" in the
// resources folder (read at every call); "" when the resource or the entry is missing or the
// code is outside the table.
std::string ExtensionForImageFormat(std::int32_t format);
// The resources folder: $LUMENO_RESOURCES, else ../share/lumeno beside the running program,
// else the source tree's folder; empty when none exists.
std::filesystem::path conversionResourcesDir();

enum TextFileKind : std::int32_t {
    kTextOther = 0,
    kTextRTF = 1,
    kTextRTFD = 2,
    kTextHTML = 3,
    kTextGeneric = 4,
    kTextPlain = 5,
    kTextWebArchive = 6,
    kTextOpenDocument = 7,
    kTextOpenDocumentTemplate = 8,
    kTextOpenOffice = 9,
    kTextOpenOfficeTemplate = 10,
    kTextWordXML = 11,
    kTextWordML = 12,
    kTextWordDoc = 13,
    kTextMacPlain = 14,
};
TextFileKind TextFormatFromUTI(const std::string& typeIdentifier);

} // namespace conversion
