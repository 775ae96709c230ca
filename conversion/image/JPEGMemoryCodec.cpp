#include "JPEGMemoryCodec.h"

#include "BandedEncoding.h"

#include "PixelLimits.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <memory>

namespace {

struct ErrorManager {
    jpeg_error_mgr standard;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void exitWithMessage(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void silence(j_common_ptr, int) {}

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}
boolean fillInputBuffer(j_decompress_ptr info) {
    // The data has run out: what remains of the image decodes as if the file ended properly.
    info->src->next_input_byte = kEndOfImage;
    info->src->bytes_in_buffer = 2;
    return TRUE;
}
void skipInputData(j_decompress_ptr info, long count) {
    if (count <= 0)
        return;
    if (std::size_t(count) > info->src->bytes_in_buffer) {
        fillInputBuffer(info);
        return;
    }
    info->src->next_input_byte += count;
    info->src->bytes_in_buffer -= std::size_t(count);
}

void setMemorySource(j_decompress_ptr info, jpeg_source_mgr* source, const std::uint8_t* bytes,
                     std::size_t length) {
    source->next_input_byte = bytes;
    source->bytes_in_buffer = length;
    source->init_source = initSource;
    source->fill_input_buffer = fillInputBuffer;
    source->skip_input_data = skipInputData;
    source->resync_to_restart = jpeg_resync_to_restart;
    source->term_source = termSource;
    info->src = source;
}

void installErrors(jpeg_common_struct* info, ErrorManager& errors) {
    info->err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = exitWithMessage;
    errors.standard.emit_message = silence;
    errors.message[0] = 0;
}

bool readResolution(const jpeg_decompress_struct& info, double* x, double* y) {
    if (info.density_unit == 1) {
        *x = info.X_density;
        *y = info.Y_density;
        return true;
    }
    if (info.density_unit == 2) {
        *x = double(float(info.X_density) * 254.0f / 100.0f);
        *y = double(float(info.Y_density) * 254.0f / 100.0f);
        return true;
    }
    return false;
}

} // namespace

int DecompressJPEGData(const std::uint8_t* bytes, std::size_t length, int* colorCode,
                       std::uint8_t** pixels, std::size_t* size, std::uint32_t* width,
                       std::uint32_t* height, double* resolutionX, double* resolutionY,
                       int colorTransform) {
    if (!bytes || length == 0 || !pixels)
        return 1;
    *pixels = nullptr;
    jpeg_decompress_struct info;
    ErrorManager errors;
    jpeg_source_mgr source;
    std::uint8_t* volatile buffer = nullptr;
    installErrors(reinterpret_cast<jpeg_common_struct*>(&info), errors);
    if (setjmp(errors.jump)) {
        std::free(buffer);
        jpeg_destroy_decompress(&info);
        return 1;
    }
    jpeg_create_decompress(&info);
    setMemorySource(&info, &source, bytes, length);
    jpeg_read_header(&info, TRUE);
    // An Adobe marker's transform flag wins; only without one does the caller's choice count.
    if ((colorTransform == 0 || colorTransform == 1) && !info.saw_Adobe_marker) {
        if (info.num_components == 3) {
            info.jpeg_color_space = colorTransform ? JCS_YCbCr : JCS_RGB;
            info.out_color_space = JCS_RGB;
        } else if (info.num_components == 4) {
            info.jpeg_color_space = colorTransform ? JCS_YCCK : JCS_CMYK;
            info.out_color_space = JCS_CMYK;
        }
    }
    std::size_t total = 0;
    if (!conversion::checkedPictureBytes(info.image_width, info.image_height, info.num_components,
                                         &total)) {
        jpeg_destroy_decompress(&info);
        return 1;
    }
    jpeg_start_decompress(&info);
    const int components = info.output_components;
    const int code = components == 4 ? 4 : components == 3 ? 2 : components == 1 ? 1 : 0;
    if (code == 0 || !conversion::checkedPictureBytes(info.output_width, info.output_height,
                                                      components, &total)) {
        jpeg_destroy_decompress(&info);
        return 1;
    }
    double rx = 0, ry = 0;
    const bool hasResolution = readResolution(info, &rx, &ry);
    buffer = static_cast<std::uint8_t*>(std::malloc(total));
    if (!buffer) {
        jpeg_destroy_decompress(&info);
        return 1;
    }
    const std::size_t rowBytes = std::size_t(components) * info.output_width;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = buffer + std::size_t(info.output_scanline) * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (colorCode)
        *colorCode = code;
    if (hasResolution && resolutionX && resolutionY) {
        *resolutionX = rx;
        *resolutionY = ry;
    }
    *pixels = buffer;
    if (size)
        *size = total;
    if (width)
        *width = info.output_width;
    if (height)
        *height = info.output_height;
    return 0;
}

void CompressJPEGData(std::uint32_t width, std::uint32_t height, const std::uint8_t* pixels,
                      int jpegColorSpace, int components, std::uint8_t** buffer, std::size_t* size,
                      int quality, double resolutionX, double resolutionY) {
    if (!buffer || !size)
        return;
    *buffer = nullptr;
    *size = 0;
    if (!pixels || components < 1 || components > 4 ||
        !conversion::checkedPictureBytes(width, height, components, nullptr))
        return;
    jpeg_compress_struct info;
    ErrorManager errors;
    // Its address goes to libjpeg, so it lives in memory and keeps its value across the jump.
    unsigned char* dest = nullptr;
    unsigned long outSize = 0;
    installErrors(reinterpret_cast<jpeg_common_struct*>(&info), errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::free(dest);
        *buffer = nullptr;
        *size = 0;
        return;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &dest, &outSize);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = J_COLOR_SPACE(jpegColorSpace);
    jpeg_set_defaults(&info);
    info.write_JFIF_header = TRUE;
    info.density_unit = 1;
    auto density = [](double dpi) {
        return std::isfinite(dpi) && dpi >= 1 && dpi <= 65535 ? UINT16(dpi) : UINT16(72);
    };
    info.X_density = density(resolutionX);
    info.Y_density = density(resolutionY);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = std::size_t(components) * width;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + std::size_t(info.next_scanline) * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    *buffer = dest;
    *size = outSize;
}

namespace conversion {

bool readJPEGHeader(const std::uint8_t* bytes, std::size_t length, Bitmap& out) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    jpeg_source_mgr source;
    installErrors(reinterpret_cast<jpeg_common_struct*>(&info), errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    setMemorySource(&info, &source, bytes, length);
    jpeg_read_header(&info, TRUE);
    out.width = info.image_width;
    out.height = info.image_height;
    out.model = info.jpeg_color_space == JCS_GRAYSCALE ? ColorModel::Gray
                : info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK
                    ? ColorModel::CMYK
                    : ColorModel::RGB;
    out.hasAlpha = false;
    readResolution(info, &out.dpiX, &out.dpiY);
    jpeg_destroy_decompress(&info);
    return true;
}

bool decodeJPEGBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                      std::string& error, int reduction) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    jpeg_source_mgr source;
    installErrors(reinterpret_cast<jpeg_common_struct*>(&info), errors);
    // Nothing with a destructor is made between here and the last jump.
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        error = std::string("damaged JPEG data: ") + errors.message;
        return false;
    }
    jpeg_create_decompress(&info);
    setMemorySource(&info, &source, bytes, length);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    ColorModel model = ColorModel::RGB;
    if (info.jpeg_color_space == JCS_GRAYSCALE) {
        info.out_color_space = JCS_GRAYSCALE;
        model = ColorModel::Gray;
    } else if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        info.out_color_space = JCS_CMYK;
        model = ColorModel::CMYK;
    } else {
        info.out_color_space = JCS_RGB;
    }
    if (reduction == 2 || reduction == 4 || reduction == 8) {
        info.scale_num = 1;
        info.scale_denom = unsigned(reduction);
    }
    jpeg_calc_output_dimensions(&info);
    if (!out.allocate(info.output_width, info.output_height, model, false, &error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    readResolution(info, &out.dpiX, &out.dpiY);
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&info, &icc, &iccLength) && icc) {
        out.iccProfile.assign(icc, icc + iccLength);
        std::free(icc);
    }
    jpeg_start_decompress(&info);
    if (info.output_components != out.channels()) {
        jpeg_destroy_decompress(&info);
        error = "JPEG data with an unexpected number of components";
        return false;
    }
    JSAMPROW rows[16];
    while (info.output_scanline < info.output_height) {
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = out.row(first + i);
        jpeg_read_scanlines(&info, rows, count);
    }
    const bool inverted = info.saw_Adobe_marker && model == ColorModel::CMYK;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (inverted) // Adobe writes CMYK JPEG samples inverted.
        for (auto& v : out.pixels)
            v = std::uint8_t(255 - v);
    return true;
}

struct JPEGRowWriter::State {
    jpeg_compress_struct info;
    ErrorManager errors;
    unsigned char* buffer = nullptr; // jpeg_mem_dest's, in memory across the jump
    unsigned long destSize = 0;
    bool created = false;
    bool cmyk = false;
    bool alpha = false;
    Bitmap layout; // the rows' layout, without pixels
    Bitmap band;   // a band flattened or inverted for the encoder
    // The band handed to libjpeg.
    const std::uint8_t* next = nullptr;
    std::size_t rowBytes = 0;
    std::int64_t count = 0;
};

namespace {

bool writeJPEGRows(JPEGRowWriter::State& s) {
    if (setjmp(s.errors.jump))
        return false;
    JSAMPROW pointers[16];
    for (std::int64_t done = 0; done < s.count;) {
        const std::int64_t n = std::min<std::int64_t>(16, s.count - done);
        for (std::int64_t i = 0; i < n; ++i)
            pointers[i] = const_cast<JSAMPROW>(s.next + std::size_t(done + i) * s.rowBytes);
        done += jpeg_write_scanlines(&s.info, pointers, JDIMENSION(n));
    }
    return true;
}

} // namespace

JPEGRowWriter::JPEGRowWriter() : m(std::make_unique<State>()) {}

JPEGRowWriter::~JPEGRowWriter() {
    if (m->created)
        jpeg_destroy_compress(&m->info);
    std::free(m->buffer);
}

bool JPEGRowWriter::begin(const Bitmap& layout, int quality, double dpiX, double dpiY, FILE* file,
                          std::string& error) {
    if (layout.width <= 0 || layout.height <= 0) {
        error = "no picture to encode";
        return false;
    }
    State& s = *m;
    s.layout = layoutOf(layout);
    s.alpha = layout.hasAlpha;
    s.cmyk = layout.model == ColorModel::CMYK;
    jpeg_compress_struct& info = s.info;
    installErrors(reinterpret_cast<jpeg_common_struct*>(&info), s.errors);
    if (setjmp(s.errors.jump)) {
        error = std::string("JPEG encoding failed: ") + s.errors.message;
        return false;
    }
    jpeg_create_compress(&info);
    s.created = true;
    if (file)
        jpeg_stdio_dest(&info, file);
    else
        jpeg_mem_dest(&info, &s.buffer, &s.destSize);
    info.image_width = JDIMENSION(layout.width);
    info.image_height = JDIMENSION(layout.height);
    info.input_components = layout.colorChannels();
    info.in_color_space = layout.model == ColorModel::Gray  ? JCS_GRAYSCALE
                          : layout.model == ColorModel::RGB ? JCS_RGB
                                                            : JCS_CMYK;
    jpeg_set_defaults(&info);
    if (!s.cmyk) {
        info.write_JFIF_header = TRUE;
        const bool hasDpi = std::isfinite(dpiX) && std::isfinite(dpiY) && dpiX > 0 && dpiY > 0;
        info.density_unit = hasDpi ? 1 : 0;
        info.X_density = hasDpi ? UINT16(std::lround(std::min(dpiX, 65535.0))) : 1;
        info.Y_density = hasDpi ? UINT16(std::lround(std::min(dpiY, 65535.0))) : 1;
        if (info.X_density == 0)
            info.X_density = 1;
        if (info.Y_density == 0)
            info.Y_density = 1;
    }
    jpeg_set_quality(&info, std::clamp(quality, 1, 100), TRUE);
    jpeg_start_compress(&info, TRUE);
    if (!layout.iccProfile.empty())
        jpeg_write_icc_profile(&info, layout.iccProfile.data(), unsigned(layout.iccProfile.size()));
    return true;
}

bool JPEGRowWriter::write(const std::uint8_t* rows, std::int64_t count, std::string& error) {
    State& s = *m;
    s.next = rows;
    s.rowBytes = s.layout.rowBytes();
    s.count = count;
    if (s.alpha || s.cmyk) {
        // Alpha is composited onto white, as flattenAlpha does, and Adobe's CMYK is inverted.
        Bitmap in = s.layout;
        in.height = count;
        in.pixels.assign(rows, rows + std::size_t(count) * s.rowBytes);
        s.band = s.alpha ? flattenAlpha(in) : std::move(in);
        if (s.band.empty()) {
            error = "not enough memory to encode the picture";
            return false;
        }
        if (s.cmyk)
            for (auto& v : s.band.pixels)
                v = std::uint8_t(255 - v);
        s.next = s.band.pixels.data();
        s.rowBytes = s.band.rowBytes();
    }
    if (!writeJPEGRows(s)) {
        error = std::string("JPEG encoding failed: ") + s.errors.message;
        return false;
    }
    return true;
}

bool JPEGRowWriter::finish(std::vector<std::uint8_t>* out, std::string& error) {
    State& s = *m;
    if (setjmp(s.errors.jump)) {
        error = std::string("JPEG encoding failed: ") + s.errors.message;
        return false;
    }
    jpeg_finish_compress(&s.info);
    if (out && s.buffer)
        out->assign(s.buffer, s.buffer + s.destSize);
    return true;
}

bool encodeJPEGBitmap(const Bitmap& input, int quality, double dpiX, double dpiY,
                      std::vector<std::uint8_t>& out, std::string& error) {
    if (input.empty()) {
        error = "no picture to encode";
        return false;
    }
    JPEGRowWriter writer;
    return writer.begin(input, quality, dpiX, dpiY, nullptr, error) &&
           encodeInBands(writer, input, out, error);
}

} // namespace conversion
