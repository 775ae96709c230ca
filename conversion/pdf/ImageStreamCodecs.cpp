#include "ImageStreamCodecs.h"

#include "JPEGMemoryCodec.h"

#include <qpdf/Buffer.hh>

#include <jbig2.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int integerParameter(QPDFObjectHandle parameters, const char* key, int fallback) {
    if (!parameters.isDictionary())
        return fallback;
    QPDFObjectHandle v = parameters.getKey(key);
    return v.isInteger() ? int(v.getIntValue()) : fallback;
}

bool booleanParameter(QPDFObjectHandle parameters, const char* key, bool fallback) {
    if (!parameters.isDictionary())
        return fallback;
    QPDFObjectHandle v = parameters.getKey(key);
    return v.isBool() ? v.getBoolValue() : fallback;
}

void ignoreJBIG2Message(void*, const char*, Jbig2Severity, uint32_t) {}

// An in-memory TIFF that libtiff reads: a header and one IFD written here, the fax data as its
// only strip.
struct MemoryTIFF {
    std::vector<std::uint8_t> bytes;
    toff_t position = 0;
};

tsize_t readMemory(thandle_t h, tdata_t buffer, tsize_t size) {
    auto* m = static_cast<MemoryTIFF*>(h);
    if (m->position >= m->bytes.size())
        return 0;
    const tsize_t n = tsize_t(std::min<toff_t>(toff_t(size), m->bytes.size() - m->position));
    std::memcpy(buffer, m->bytes.data() + m->position, std::size_t(n));
    m->position += toff_t(n);
    return n;
}
tsize_t writeNothing(thandle_t, tdata_t, tsize_t) {
    return 0;
}
toff_t seekMemory(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<MemoryTIFF*>(h);
    toff_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->bytes.size() : 0;
    m->position = base + offset;
    return m->position;
}
int closeNothing(thandle_t) {
    return 0;
}
toff_t sizeOfMemory(thandle_t h) {
    return static_cast<MemoryTIFF*>(h)->bytes.size();
}
int mapNothing(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void unmapNothing(thandle_t, tdata_t, toff_t) {}

void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    put16(b, std::uint16_t(v));
    put16(b, std::uint16_t(v >> 16));
}
void entry(std::vector<std::uint8_t>& b, std::uint16_t tag, std::uint16_t type,
           std::uint32_t value) {
    put16(b, tag);
    put16(b, type);
    put32(b, 1);
    if (type == 3) {
        put16(b, std::uint16_t(value));
        put16(b, 0);
    } else {
        put32(b, value);
    }
}

} // namespace

bool decodeDCTImageData(const std::vector<std::uint8_t>& data, QPDFObjectHandle parameters,
                        std::int64_t width, std::int64_t height, std::vector<std::uint8_t>& pixels,
                        int& components) {
    int colorCode = 0;
    std::uint8_t* decoded = nullptr;
    std::size_t size = 0;
    std::uint32_t w = 0, h = 0;
    double dpiX = 0, dpiY = 0;
    const int transform = std::clamp(integerParameter(parameters, "/ColorTransform", -1), -1, 1);
    if (data.empty() || DecompressJPEGData(data.data(), data.size(), &colorCode, &decoded, &size,
                                           &w, &h, &dpiX, &dpiY, transform) != 0)
        return false;
    components = colorCode == 1 ? 1 : colorCode == 2 ? 3 : 4;
    // The dictionary's size is the picture's; a JPEG of another size is not this image.
    const bool fits = std::int64_t(w) == width && std::int64_t(h) == height &&
                      size == std::size_t(w) * h * std::size_t(components);
    if (fits)
        pixels.assign(decoded, decoded + size);
    std::free(decoded);
    return fits;
}

bool decodeJBIG2ImageData(const std::vector<std::uint8_t>& data, QPDFObjectHandle parameters,
                          std::int64_t width, std::int64_t height,
                          std::vector<std::uint8_t>& rows) {
    Jbig2GlobalCtx* globals = nullptr;
    if (parameters.isDictionary()) {
        QPDFObjectHandle g = parameters.getKey("/JBIG2Globals");
        if (g.isStream()) {
            try {
                std::shared_ptr<Buffer> bytes = g.getStreamData(qpdf_dl_generalized);
                Jbig2Ctx* gctx = jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, nullptr,
                                               ignoreJBIG2Message, nullptr);
                if (gctx) {
                    jbig2_data_in(gctx, bytes->getBuffer(), bytes->getSize());
                    globals = jbig2_make_global_ctx(gctx);
                }
            } catch (const std::exception&) {
            }
        }
    }
    Jbig2Ctx* ctx =
        jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, globals, ignoreJBIG2Message, nullptr);
    if (!ctx) {
        if (globals)
            jbig2_global_ctx_free(globals);
        return false;
    }
    bool ok = false;
    if (jbig2_data_in(ctx, data.data(), data.size()) >= 0) {
        jbig2_complete_page(ctx);
        if (Jbig2Image* page = jbig2_page_out(ctx)) {
            const std::size_t rowBytes = std::size_t((width + 7) / 8);
            rows.assign(rowBytes * std::size_t(height), 0xFF);
            const std::size_t copy = std::min<std::size_t>(rowBytes, page->stride);
            const std::uint32_t h = std::min<std::uint32_t>(page->height, std::uint32_t(height));
            // JBIG2 marks black with 1; image samples of a grey space mark it with 0.
            for (std::uint32_t y = 0; y < h; ++y) {
                const std::uint8_t* from = page->data + std::size_t(y) * page->stride;
                std::uint8_t* to = rows.data() + std::size_t(y) * rowBytes;
                for (std::size_t i = 0; i < copy; ++i)
                    to[i] = std::uint8_t(~from[i]);
            }
            jbig2_release_page(ctx, page);
            ok = true;
        }
    }
    jbig2_ctx_free(ctx);
    if (globals)
        jbig2_global_ctx_free(globals);
    return ok;
}

bool decodeCCITTImageData(const std::vector<std::uint8_t>& data, QPDFObjectHandle parameters,
                          std::int64_t width, std::int64_t height,
                          std::vector<std::uint8_t>& rows) {
    const int k = integerParameter(parameters, "/K", 0);
    const int columns = integerParameter(parameters, "/Columns", int(width));
    const int rowCount = integerParameter(parameters, "/Rows", int(height));
    const bool blackIs1 = booleanParameter(parameters, "/BlackIs1", false);
    const bool byteAlign = booleanParameter(parameters, "/EncodedByteAlign", false);
    if (columns != width || rowCount < 0 || data.empty() || data.size() > 0x7FFFFFFF)
        return false;
    const std::uint32_t rowsInData = std::uint32_t(rowCount > 0 ? rowCount : height);
    MemoryTIFF tiff;
    std::vector<std::uint8_t>& b = tiff.bytes;
    b = {'I', 'I', 42, 0};
    put32(b, 8);
    const std::uint16_t entries = 9;
    put16(b, entries);
    const std::uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
    entry(b, 256, 4, std::uint32_t(width));       // ImageWidth
    entry(b, 257, 4, rowsInData);                 // ImageLength
    entry(b, 258, 3, 1);                          // BitsPerSample
    entry(b, 259, 3, k < 0 ? 4 : 3);              // Compression: G4 or G3
    entry(b, 262, 3, 0);                          // WhiteIsZero: 1 is black
    entry(b, 273, 4, dataOffset);                 // StripOffsets
    entry(b, 278, 4, rowsInData);                 // RowsPerStrip
    entry(b, 279, 4, std::uint32_t(data.size())); // StripByteCounts
    entry(b, k < 0 ? 293 : 292, 4,                // T6Options / T4Options
          k < 0 ? 0 : ((k > 0 ? 1 : 0) | (byteAlign ? 4 : 0)));
    put32(b, 0);
    b.insert(b.end(), data.begin(), data.end());

    // libtiff's handlers are global: silenced once, not by every worker decoding a fax image.
    static const bool silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
    TIFF* t = TIFFClientOpen("fax", "rm", &tiff, readMemory, writeNothing, seekMemory, closeNothing,
                             sizeOfMemory, mapNothing, unmapNothing);
    if (!t)
        return false;
    const std::size_t rowBytes = std::size_t((width + 7) / 8);
    // Rows the data does not reach stay white.
    rows.assign(rowBytes * std::size_t(height), blackIs1 ? 0x00 : 0xFF);
    const tmsize_t scan = TIFFScanlineSize(t);
    std::vector<std::uint8_t> line(std::size_t(scan > 0 ? scan : 0));
    bool any = false;
    for (std::uint32_t y = 0; y < rowsInData && y < std::uint32_t(height) && scan > 0; ++y) {
        if (TIFFReadScanline(t, line.data(), y, 0) < 0)
            break;
        any = true;
        std::uint8_t* to = rows.data() + std::size_t(y) * rowBytes;
        for (std::size_t i = 0; i < rowBytes && i < line.size(); ++i)
            to[i] = blackIs1 ? line[i] : std::uint8_t(~line[i]);
    }
    TIFFClose(t);
    return any;
}
