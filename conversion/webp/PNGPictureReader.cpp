// libpng reports errors by longjmp to the reader's recovery point. Every function a jump can
// leave is written in C style: plain records and heap blocks released by hand, no object with a
// destructor.
#include "ConversionLog.h"
#include "ImageFileReaders.h"
#include "PictureSizeCheck.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <png.h>

namespace {

struct PNGReadState {
    png_structp png;
    png_infop info;
    png_infop endInfo;
    std::uint8_t* rgb;
    int width;
    int height;
    int hasAlpha;
};

void PNGErrorHandler(png_structp png, png_const_charp message) {
    if (message)
        ConversionLogf("libpng error: %s\n", message);
    png_longjmp(png, 1);
}

// Decodes the whole image into state->rgb (RGB or RGBA, 8 bits). Answers 0 on any libpng error;
// what it allocated is in `state` for the caller to release.
int DecodePNGRows(PNGReadState* state, FILE* file, int keepAlpha) {
    png_structp png = state->png;
    png_infop info = state->info;
    if (setjmp(png_jmpbuf(png)))
        return 0;
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    if (!png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr,
                      nullptr))
        return 0;
    std::size_t bytes = 0;
    if (!checkReadablePictureSize(width, height, 4, &bytes))
        return 0;

    png_set_strip_16(png);
    png_set_packing(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (bitDepth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
    }
    int hasAlpha = 0;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
        hasAlpha = 1;
    } else {
        hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0;
    }
    if (!keepAlpha) {
        png_set_strip_alpha(png);
        hasAlpha = 0;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const std::size_t stride = std::size_t(width) * (hasAlpha ? 4 : 3);
    bytes = stride * height;
    if (png_get_rowbytes(png, info) != stride) // the transformations did not give 8-bit RGB(A)
        return 0;
    state->rgb = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (!state->rgb)
        return 0;
    state->width = int(width);
    state->height = int(height);
    state->hasAlpha = hasAlpha;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_bytep row = state->rgb + y * stride;
            png_read_rows(png, &row, nullptr, 1);
        }
    }
    png_read_end(png, state->endInfo);
    return 1;
}

struct PNGMetadataKey {
    const char* keyword;
    int (*decode)(const char* text, std::size_t length, MetadataBuffer* buffer);
    std::size_t bufferOffset;
};

int CopyTextUnchanged(const char* text, std::size_t length, MetadataBuffer* buffer) {
    return CopyMetadataBuffer(reinterpret_cast<const std::uint8_t*>(text), length, buffer);
}

const PNGMetadataKey kPNGMetadataKeys[] = {
    {"Raw profile type exif", DecodeRawProfile, offsetof(ImageMetadata, exif)},
    {"Raw profile type xmp", DecodeRawProfile, offsetof(ImageMetadata, xmp)},
    {"Raw profile type APP1", DecodeRawProfile, offsetof(ImageMetadata, exif)},
    {"XML:com.adobe.xmp", CopyTextUnchanged, offsetof(ImageMetadata, xmp)},
};

// Collects EXIF, XMP and the ICC profile from one info structure. Makes no libpng call that can
// raise an error.
int ExtractPNGMetadata(png_structp png, png_infop info, ImageMetadata* metadata) {
    png_textp texts = nullptr;
    const int textCount = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < textCount; ++i) {
        const png_text& text = texts[i];
        for (const PNGMetadataKey& key : kPNGMetadataKeys) {
            if (!text.key || std::strcmp(text.key, key.keyword) != 0)
                continue;
            auto* buffer = reinterpret_cast<MetadataBuffer*>(reinterpret_cast<char*>(metadata) +
                                                             key.bufferOffset);
            if (buffer->size > 0 || buffer->bytes) {
                ConversionLogf("Ignoring additional '%s'\n", key.keyword);
                continue;
            }
            const bool international = text.compression == PNG_ITXT_COMPRESSION_NONE ||
                                       text.compression == PNG_ITXT_COMPRESSION_zTXt;
            const std::size_t length = international ? text.itxt_length : text.text_length;
            if (!key.decode(text.text, length, buffer)) {
                ConversionLogf("Failed to process: '%s'\n", key.keyword);
                return 0;
            }
        }
    }
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) &&
        !CopyMetadataBuffer(profile, profileLength, &metadata->iccp))
        return 0;
    return 1;
}

} // namespace

int ReadPNGPicture(FILE* file, WebPPicture* picture, int keepAlpha, ImageMetadata* metadata) {
    if (!file || !picture)
        return 0;
    PNGReadState state;
    std::memset(&state, 0, sizeof state);
    int ok = 0;
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PNGErrorHandler, nullptr);
    if (state.png)
        state.info = png_create_info_struct(state.png);
    if (state.info)
        state.endInfo = png_create_info_struct(state.png);
    if (state.endInfo)
        ok = DecodePNGRows(&state, file, keepAlpha);
    if (ok && metadata) {
        ok = ExtractPNGMetadata(state.png, state.info, metadata) &&
             ExtractPNGMetadata(state.png, state.endInfo, metadata);
        if (!ok)
            ConversionLogf("Error extracting PNG metadata!\n");
    }
    if (state.png)
        png_destroy_read_struct(&state.png, state.info ? &state.info : nullptr,
                                state.endInfo ? &state.endInfo : nullptr);
    if (ok) {
        picture->width = state.width;
        picture->height = state.height;
        picture->use_argb = 1;
        const int stride = state.width * (state.hasAlpha ? 4 : 3);
        ok = state.hasAlpha ? WebPPictureImportRGBA(picture, state.rgb, stride)
                            : WebPPictureImportRGB(picture, state.rgb, stride);
    }
    std::free(state.rgb);
    if (!ok)
        FreeImageMetadata(metadata);
    return ok;
}
