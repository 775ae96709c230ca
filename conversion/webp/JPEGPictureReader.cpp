// libjpeg reports errors through error_exit, which here jumps back to the reader's recovery
// point. Every function a jump can leave is written in C style: plain records and heap blocks
// released by hand, no object with a destructor.
#include "ConversionLog.h"
#include "ImageFileReaders.h"
#include "PictureSizeCheck.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

namespace {

struct JPEGErrorManager {
    jpeg_error_mgr manager;
    jmp_buf recoveryPoint;
};

// libjpeg's words go through the library's log, as every message of the readers does.
void JPEGErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JPEGErrorManager*>(info->err);
    char text[JMSG_LENGTH_MAX];
    errors->manager.format_message(info, text);
    ConversionLogf("libjpeg error: %s\n", text);
    longjmp(errors->recoveryPoint, 1);
}

// A file that ends before its picture does is refused, as cwebp refuses it, rather than encoded
// with the missing rows made up; other warnings (stray bytes between markers) are read past.
void JPEGEmitMessage(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        JPEGErrorExit(info);
}

struct JPEGReadState {
    jpeg_decompress_struct decompressor;
    JPEGErrorManager errors;
    int created;
    std::uint8_t* rgb;
    int width;
    int height;
};

const std::size_t kMaxMarkerBytes = 65535;

// Decodes every scanline into state->rgb as RGB. Answers 0 on any libjpeg error; what it
// allocated is in `state` for the caller to release.
int DecodeJPEGRows(JPEGReadState* state, FILE* file, int saveMarkers) {
    jpeg_decompress_struct* d = &state->decompressor;
    d->err = jpeg_std_error(&state->errors.manager);
    state->errors.manager.error_exit = JPEGErrorExit;
    state->errors.manager.emit_message = JPEGEmitMessage;
    if (setjmp(state->errors.recoveryPoint))
        return 0;
    jpeg_create_decompress(d);
    state->created = 1;
    jpeg_stdio_src(d, file);
    if (saveMarkers) {
        jpeg_save_markers(d, JPEG_APP0 + 1, kMaxMarkerBytes);
        jpeg_save_markers(d, JPEG_APP0 + 2, kMaxMarkerBytes);
    }
    if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK)
        return 0;
    std::size_t bytes = 0;
    if (!checkReadablePictureSize(d->image_width, d->image_height, 3, &bytes))
        return 0;
    d->out_color_space = JCS_RGB;
    d->do_fancy_upsampling = TRUE;
    jpeg_start_decompress(d);
    if (d->output_components != 3 || d->output_width != d->image_width ||
        d->output_height != d->image_height)
        return 0;
    state->rgb = static_cast<std::uint8_t*>(std::malloc(bytes));
    if (!state->rgb)
        return 0;
    state->width = int(d->output_width);
    state->height = int(d->output_height);
    const std::size_t stride = std::size_t(state->width) * 3;
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = state->rgb + std::size_t(d->output_scanline) * stride;
        if (jpeg_read_scanlines(d, &row, 1) != 1)
            return 0;
    }
    return 1;
}

struct ICCSegment {
    const std::uint8_t* data;
    std::size_t size;
    int sequence;
};

const std::uint8_t kICCSignature[] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
const std::size_t kICCHeaderBytes = sizeof kICCSignature + 2; // signature, sequence, count

int CompareICCSegments(const void* a, const void* b) {
    return static_cast<const ICCSegment*>(a)->sequence -
           static_cast<const ICCSegment*>(b)->sequence;
}

// Joins the ICC profile that APP2 segments carry in pieces numbered 1..count, in any order.
int ExtractICCProfile(jpeg_saved_marker_ptr markers, MetadataBuffer* iccp) {
    ICCSegment segments[255];
    std::memset(segments, 0, sizeof segments);
    int expectedCount = 0;
    int highest = 0;
    int seen = 0;
    std::size_t total = 0;
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length <= kICCHeaderBytes ||
            std::memcmp(m->data, kICCSignature, sizeof kICCSignature) != 0)
            continue;
        const int sequence = m->data[12];
        const int count = m->data[13];
        const std::size_t size = m->data_length - kICCHeaderBytes;
        if (size == 0 || count == 0 || sequence == 0) {
            ConversionLogf("[ICCP] size (%d) / count (%d) / sequence number (%d) cannot be 0!\n",
                           int(size), count, sequence);
            return 0;
        }
        if (expectedCount == 0)
            expectedCount = count;
        if (count != expectedCount) {
            ConversionLogf("[ICCP] Inconsistent segment count (%d / %d)!\n", expectedCount, count);
            return 0;
        }
        ICCSegment& slot = segments[sequence - 1];
        if (slot.size != 0) {
            ConversionLogf("[ICCP] Duplicate segment number (%d)!\n", sequence);
            return 0;
        }
        slot.data = m->data + kICCHeaderBytes;
        slot.size = size;
        slot.sequence = sequence;
        total += size;
        if (sequence > highest)
            highest = sequence;
        ++seen;
    }
    if (seen == 0)
        return 1;
    if (highest != seen) {
        ConversionLogf("[ICCP] Discontinuous segments, expected: %d actual: %d!\n", seen, highest);
        return 0;
    }
    if (expectedCount != highest) {
        ConversionLogf("[ICCP] Segment count: %d does not match expected: %d!\n", highest,
                       expectedCount);
        return 0;
    }
    std::qsort(segments, std::size_t(seen), sizeof segments[0], CompareICCSegments);
    auto* profile = static_cast<std::uint8_t*>(std::malloc(total));
    if (!profile)
        return 0;
    std::size_t offset = 0;
    for (int i = 0; i < seen; ++i) {
        std::memcpy(profile + offset, segments[i].data, segments[i].size);
        offset += segments[i].size;
    }
    FreeMetadataBuffer(iccp);
    iccp->bytes = profile;
    iccp->size = total;
    return 1;
}

const char kEXIFSignature[] = "Exif\0"; // with its array terminator: "Exif", 0, 0
const char kXMPSignature[] = "http://ns.adobe.com/xap/1.0/"; // 29 bytes with the terminator

int ExtractAPP1(jpeg_saved_marker_ptr markers, ImageMetadata* metadata) {
    struct Signature {
        const char* text;
        std::size_t length;
        MetadataBuffer* buffer;
    };
    const Signature signatures[] = {
        {kEXIFSignature, sizeof kEXIFSignature, &metadata->exif},
        {kXMPSignature, sizeof kXMPSignature, &metadata->xmp},
    };
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1)
            continue;
        for (const Signature& s : signatures) {
            if (m->data_length <= s.length || std::memcmp(m->data, s.text, s.length) != 0)
                continue;
            if (s.buffer->size > 0) {
                ConversionLogf("Ignoring additional '%s' marker\n", s.text);
                continue;
            }
            if (!CopyMetadataBuffer(m->data + s.length, m->data_length - s.length, s.buffer))
                return 0;
        }
    }
    return 1;
}

} // namespace

int ReadJPEGPicture(FILE* file, WebPPicture* picture, ImageMetadata* metadata) {
    if (!file || !picture)
        return 0;
    JPEGReadState* state = static_cast<JPEGReadState*>(std::calloc(1, sizeof(JPEGReadState)));
    if (!state)
        return 0;
    int ok = DecodeJPEGRows(state, file, metadata != nullptr);
    if (ok && metadata) {
        ok = ExtractICCProfile(state->decompressor.marker_list, &metadata->iccp) &&
             ExtractAPP1(state->decompressor.marker_list, metadata);
        if (!ok)
            ConversionLogf("Error extracting JPEG metadata!\n");
    }
    if (ok) {
        // finish may still raise an error (a damaged tail); it is caught like any other.
        if (setjmp(state->errors.recoveryPoint))
            ok = 0;
        else
            jpeg_finish_decompress(&state->decompressor);
    }
    if (state->created)
        jpeg_destroy_decompress(&state->decompressor);
    if (ok) {
        picture->width = state->width;
        picture->height = state->height;
        ok = WebPPictureImportRGB(picture, state->rgb, state->width * 3);
    }
    std::free(state->rgb);
    std::free(state);
    if (!ok)
        FreeImageMetadata(metadata);
    return ok;
}
