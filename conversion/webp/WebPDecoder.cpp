#include "WebPDecoder.h"
#include "ConversionLog.h"
#include "InputFile.h"

#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

void warnIfAnimated(const WebPBitstreamFeatures& features) {
    if (features.has_animation)
        ConversionLogf("Error! Decoding of an animated WebP file is not supported.\n"
                       "       Use webpmux to extract the individual frames or\n"
                       "       vwebp to view this image.\n");
}

} // namespace

int DecodeWebPToTIFFFile(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config,
                         const char* outputPath, bool announce) {
    if (!config)
        return kWebPDecodeConfigFailed;
    if (!data || WebPGetFeatures(data, size, &config->input) != VP8_STATUS_OK)
        return kWebPDecodeBadHeaders;
    warnIfAnimated(config->input);
    config->output.colorspace = decodedColorMode(kDecodedTIFF, config->input.has_alpha);
    int result = kWebPDecodeOK;
    if (WebPDecode(data, size, config) != VP8_STATUS_OK)
        result = kWebPDecodeFailed;
    else if (outputPath && !SaveDecodedImage(&config->output, kDecodedTIFF, outputPath, announce))
        result = kWebPDecodeWriteFailed;
    WebPFreeDecBuffer(&config->output);
    return result;
}

int DecodeWebPToRGBA(const std::uint8_t* data, std::size_t size, WebPDecoderConfig* config) {
    if (!config)
        return kWebPDecodeConfigFailed;
    if (!data || WebPGetFeatures(data, size, &config->input) != VP8_STATUS_OK)
        return kWebPDecodeBadHeaders;
    warnIfAnimated(config->input);
    config->output.colorspace = MODE_RGBA;
    if (WebPDecode(data, size, config) != VP8_STATUS_OK) {
        WebPFreeDecBuffer(&config->output);
        return kWebPDecodeFailed;
    }
    return kWebPDecodeOK;
}

int GetWebPDimensions(const std::uint8_t* data, std::size_t size, int* width, int* height) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return kWebPDecodeConfigFailed;
    if (!data || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK)
        return kWebPDecodeBadHeaders;
    if (width)
        *width = config.input.width;
    if (height)
        *height = config.input.height;
    return kWebPDecodeOK;
}

int ReadFileToMemory(const char* path, const std::uint8_t** data, std::size_t* size) {
    if (!path || !data || !size)
        return 0;
    *data = nullptr;
    *size = 0;
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        ConversionLogf("cannot open input file '%s': %s\n", path, std::strerror(errno));
        return 0;
    }
    // A folder opens, and its size is nothing a read can take.
    if (const std::string why = conversion::whyUnreadable(path); !why.empty()) {
        ConversionLogf("cannot open input file '%s': %s\n", path, why.c_str());
        std::fclose(file);
        return 0;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        ConversionLogf("cannot open input file '%s'\n", path); // a pipe: no size to take
        std::fclose(file);
        return 0;
    }
    // One byte more than the file so that an empty file still gets a block and fails below as a
    // short read, not as a failed allocation.
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(std::size_t(length) + 1));
    if (!buffer) {
        std::fclose(file);
        return 0;
    }
    const bool complete = std::fread(buffer, std::size_t(length), 1, file) == 1;
    std::fclose(file);
    if (!complete) {
        ConversionLogf("Could not read %d bytes of data from file %s\n", int(length), path);
        std::free(buffer);
        return 0;
    }
    *data = buffer;
    *size = std::size_t(length);
    return 1;
}

int WriteMemoryToFile(const char* path, const std::uint8_t* data, std::size_t size) {
    if (!path || !data)
        return 0;
    conversion::OutputFile output;
    FILE* file = output.open(path);
    if (!file) {
        ConversionLogf("Error! Cannot open output file '%s'\n", path);
        return 0;
    }
    if (std::fwrite(data, size, 1, file) != 1)
        return 0; // the unfinished temporary file goes with `output`
    return output.commit();
}
