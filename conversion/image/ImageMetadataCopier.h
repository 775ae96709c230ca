// Carries a source file's EXIF, GPS, IPTC and XMP into encoded output bytes through Exiv2, with
// the orientation and resolution of the output written over the copied values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

struct MetadataPatch {
    // Written as the EXIF orientation; 0 writes 1 (upright).
    int orientation = 0;
    // Written (unit inches) only when both are finite and above 0; otherwise any copied
    // resolution is removed rather than left to describe another picture.
    double dpiX = 0;
    double dpiY = 0;
};

// Copies the source's metadata into `encoded` (JPEG, PNG, TIFF or PSD bytes). False with a
// message when the output cannot take metadata; a source without metadata is no failure.
bool copyImageMetadata(const std::filesystem::path& source, std::vector<std::uint8_t>& encoded,
                       const MetadataPatch& patch, std::string& error);
// The source's EXIF as a TIFF-structured block (the payload of a WebP EXIF chunk), without the
// tags that describe the source's own pixel storage and with the patch written over it. Empty
// when the source has no EXIF that Exiv2 reads.
std::vector<std::uint8_t> ExifBlockForOutput(const std::filesystem::path& source,
                                             const MetadataPatch& patch);
// The EXIF orientation (1 to 8) that encoded image bytes record, or 0 when they record none.
int readImageOrientation(const std::uint8_t* bytes, std::size_t length);
// Only the orientation, for outputs that keep no other metadata.
bool writeImageOrientation(std::vector<std::uint8_t>& encoded, int orientation, std::string& error);

} // namespace conversion
