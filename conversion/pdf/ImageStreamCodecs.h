// The codecs of image streams whose data the PDF filters leave encoded: JPEG and JPEG 2000
// through the image job's memory codecs, JBIG2 through jbig2dec, CCITT fax through libtiff. Each
// answers false on data it cannot decode and never ends the process.
#pragma once

#include <cstdint>
#include <vector>

#include <qpdf/QPDFObjectHandle.hh>

// Interleaved 8-bit samples of `components` per pixel, `width` x `height` as the dictionary says;
// false when the JPEG decodes to another size. CMYK samples come as stored, never inverted: in a
// PDF, an image stored as Adobe's inverted CMYK carries a Decode array that inverts it, and
// viewers show one without such an array as it is stored. `parameters` are the filter's decode
// parameters, whose /ColorTransform counts when the JPEG has no Adobe marker.
bool decodeDCTImageData(const std::vector<std::uint8_t>& data, QPDFObjectHandle parameters,
                        std::int64_t width, std::int64_t height, std::vector<std::uint8_t>& pixels,
                        int& components);
// 1-bit rows, 0 black, padded to whole bytes.
bool decodeJBIG2ImageData(const std::vector<std::uint8_t>& data, QPDFObjectHandle parameters,
                          std::int64_t width, std::int64_t height, std::vector<std::uint8_t>& rows);
bool decodeCCITTImageData(const std::vector<std::uint8_t>& data, QPDFObjectHandle parameters,
                          std::int64_t width, std::int64_t height, std::vector<std::uint8_t>& rows);
// Interleaved 8-bit samples; colorCode in/out (0 none, 1 grey, 2 RGB, 3 CMYK); components the
// samples per pixel written (colour then alpha); iccProfile the file's profile, if any.
bool decodeJPXImageData(const std::vector<std::uint8_t>& data, std::int64_t width,
                        std::int64_t height, std::vector<std::uint8_t>& pixels, int& colorCode,
                        int& components, std::vector<std::uint8_t>& iccProfile);
