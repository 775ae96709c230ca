#include "WebPRoute.h"

#include "PixelLimits.h"
#include "WebPCodec.h"

#include "webp/WebPDecoder.h"
#include "webp/WebPEncoder.h"
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace conversion {

namespace {

// The decoder's and encoder's result codes in words.
const char* decodingFailure(int result) {
    switch (result) {
    case kWebPDecodeConfigFailed:
        return "the WebP decoder cannot be set up";
    case kWebPDecodeBadHeaders:
        return "not a WebP image, or one cut short";
    case kWebPDecodeWriteFailed:
        return "the decoded picture cannot be written";
    default:
        return "the WebP image data cannot be decoded";
    }
}

const char* encodingFailure(int result) {
    switch (result) {
    case kWebPEncodePictureInitFailed:
        return "the WebP encoder cannot be set up";
    case kWebPEncodeInvalidConfig:
        return "the WebP settings are not valid";
    case kWebPEncodeReadFailed:
        return "the picture cannot be read back for the WebP encoder";
    default:
        return "the WebP encoder failed";
    }
}

} // namespace

bool decodeWebPFileToTIFF(const std::filesystem::path& input, const std::filesystem::path& tiff,
                          std::string& error) {
    std::ifstream in(input, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        error = "the WebP file is empty or unreadable";
        return false;
    }
    int width = 0, height = 0;
    if (!WebPGetInfo(bytes.data(), bytes.size(), &width, &height) ||
        !checkedPictureBytes(width, height, 4, nullptr, &error)) {
        if (error.empty())
            error = "damaged WebP data";
        return false;
    }
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        error = "the WebP decoder could not be set up";
        return false;
    }
    // The TIFF is the job's own temporary file: the decoder does not announce it.
    const int result =
        DecodeWebPToTIFFFile(bytes.data(), bytes.size(), &config, tiff.c_str(), false);
    if (result != 0) {
        std::error_code ignored;
        std::filesystem::remove(tiff, ignored);
        error = decodingFailure(result);
        return false;
    }
    return true;
}

bool encodeTIFFFileToWebP(const std::filesystem::path& tiff, const std::filesystem::path& output,
                          double quality, std::string& error) {
    WebPConfig config;
    if (!configureWebPEncoder(config, quality)) {
        error = "the WebP encoder could not be set up";
        return false;
    }
    const int result = EncodeImageFileToWebP(tiff.c_str(), output.c_str(), &config, 1);
    if (result == kWebPEncodeOpenOutputFailed || result == kWebPEncodeWriteFailed) {
        error = "cannot write " + output.string() + ": " + std::strerror(errno);
        return false;
    }
    if (result != 0) {
        error = encodingFailure(result);
        return false;
    }
    return true;
}

} // namespace conversion
