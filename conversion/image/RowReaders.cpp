#include "RowReaders.h"

#include "PixelLimits.h"

#include <csetjmp>
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>

namespace conversion {

namespace {

// ---- JPEG --------------------------------------------------------------------------------------

struct JPEGErrors {
    jpeg_error_mgr standard;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegExit(j_common_ptr info) {
    auto* e = reinterpret_cast<JPEGErrors*>(info->err);
    info->err->format_message(info, e->message);
    std::longjmp(e->jump, 1);
}

void jpegSilence(j_common_ptr, int) {}

class JPEGReader final : public RowReader {
public:
    explicit JPEGReader(FILE* file) : m_file(file) {
        m_info.err = jpeg_std_error(&m_errors.standard);
        m_errors.standard.error_exit = jpegExit;
        m_errors.standard.emit_message = jpegSilence;
        m_errors.message[0] = 0;
    }
    ~JPEGReader() override {
        if (m_created)
            jpeg_destroy_decompress(&m_info);
    }

    bool start(Bitmap& layout, std::string& error) override {
        if (!header()) {
            error = std::string("damaged JPEG data: ") + m_errors.message;
            return false;
        }
        // CMYK (inverted by Adobe) is left to the whole-picture decoder.
        if (m_model == ColorModel::CMYK) {
            error.clear();
            return false;
        }
        layout = Bitmap();
        layout.width = m_info.output_width;
        layout.height = m_info.output_height;
        layout.model = m_model;
        layout.dpiX = m_dpiX;
        layout.dpiY = m_dpiY;
        if (m_icc)
            layout.iccProfile.assign(m_icc.get(), m_icc.get() + m_iccLength);
        if (!checkedPictureBytes(layout.width, layout.height, layout.channels(), nullptr, &error))
            return false;
        if (!begin()) {
            error = std::string("damaged JPEG data: ") + m_errors.message;
            return false;
        }
        if (m_info.output_components != layout.channels()) {
            error = "JPEG data with an unexpected number of components";
            return false;
        }
        m_rowBytes = layout.rowBytes();
        return true;
    }

    bool read(std::uint8_t* rows, std::int64_t count, std::string& error) override {
        m_next = rows;
        m_count = count;
        if (!scanlines()) {
            error = std::string("damaged JPEG data: ") + m_errors.message;
            return false;
        }
        return true;
    }

private:
    bool header() {
        if (setjmp(m_errors.jump))
            return false;
        jpeg_create_decompress(&m_info);
        m_created = true;
        jpeg_stdio_src(&m_info, m_file);
        jpeg_save_markers(&m_info, JPEG_APP0 + 2, 0xFFFF);
        jpeg_read_header(&m_info, TRUE);
        if (m_info.jpeg_color_space == JCS_GRAYSCALE) {
            m_info.out_color_space = JCS_GRAYSCALE;
            m_model = ColorModel::Gray;
        } else if (m_info.jpeg_color_space == JCS_CMYK || m_info.jpeg_color_space == JCS_YCCK) {
            m_info.out_color_space = JCS_CMYK;
            m_model = ColorModel::CMYK;
        } else {
            m_info.out_color_space = JCS_RGB;
        }
        jpeg_calc_output_dimensions(&m_info);
        if (m_info.density_unit == 1) {
            m_dpiX = m_info.X_density;
            m_dpiY = m_info.Y_density;
        } else if (m_info.density_unit == 2) {
            m_dpiX = double(float(m_info.X_density) * 254.0f / 100.0f);
            m_dpiY = double(float(m_info.Y_density) * 254.0f / 100.0f);
        }
        JOCTET* icc = nullptr;
        unsigned int length = 0;
        if (jpeg_read_icc_profile(&m_info, &icc, &length) && icc) {
            m_icc.reset(icc);
            m_iccLength = length;
        }
        return true;
    }

    bool begin() {
        if (setjmp(m_errors.jump))
            return false;
        jpeg_start_decompress(&m_info);
        return true;
    }

    bool scanlines() {
        if (setjmp(m_errors.jump))
            return false;
        JSAMPROW pointers[16];
        for (std::int64_t done = 0; done < m_count;) {
            const std::int64_t n = std::min<std::int64_t>(16, m_count - done);
            for (std::int64_t i = 0; i < n; ++i)
                pointers[i] = m_next + std::size_t(done + i) * m_rowBytes;
            done += jpeg_read_scanlines(&m_info, pointers, JDIMENSION(n));
        }
        return true;
    }

    struct Free {
        void operator()(JOCTET* p) const { std::free(p); }
    };

    FILE* m_file;
    jpeg_decompress_struct m_info{};
    JPEGErrors m_errors{};
    bool m_created = false;
    ColorModel m_model = ColorModel::RGB;
    double m_dpiX = 0, m_dpiY = 0;
    std::unique_ptr<JOCTET, Free> m_icc;
    unsigned int m_iccLength = 0;
    std::size_t m_rowBytes = 0;
    std::uint8_t* m_next = nullptr;
    std::int64_t m_count = 0;
};

// ---- PNG ---------------------------------------------------------------------------------------

void pngRead(png_structp png, png_bytep out, png_size_t count) {
    auto* file = static_cast<FILE*>(png_get_io_ptr(png));
    if (std::fread(out, 1, count, file) != count)
        png_error(png, "PNG data ends early");
}

void pngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error)
        *error = message ? message : "PNG error";
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

class PNGReader final : public RowReader {
public:
    explicit PNGReader(FILE* file) : m_file(file) {}
    ~PNGReader() override {
        if (m_png)
            png_destroy_read_struct(&m_png, &m_info, nullptr);
    }

    bool start(Bitmap& layout, std::string& error) override {
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_message, pngError, pngWarning);
        if (!m_png) {
            error = "PNG reader could not be made";
            return false;
        }
        m_info = png_create_info_struct(m_png);
        if (!m_info || !header()) {
            error = "damaged PNG data: " + m_message;
            return false;
        }
        // Interlaced pictures come whole only after the last pass.
        if (m_interlaced) {
            error.clear();
            return false;
        }
        layout = Bitmap();
        layout.width = m_width;
        layout.height = m_height;
        layout.model = m_channels <= 2 ? ColorModel::Gray : ColorModel::RGB;
        layout.hasAlpha = m_channels == 2 || m_channels == 4;
        layout.dpiX = m_dpiX;
        layout.dpiY = m_dpiY;
        layout.iccProfile = std::move(m_icc);
        std::string sizeError;
        if (!checkedPictureBytes(layout.width, layout.height, layout.channels(), nullptr,
                                 &sizeError) ||
            m_rowBytes != layout.rowBytes()) {
            error = sizeError.empty() ? "unsupported PNG layout" : sizeError;
            return false;
        }
        return true;
    }

    bool read(std::uint8_t* rows, std::int64_t count, std::string& error) override {
        m_next = rows;
        m_count = count;
        if (!readRows()) {
            error = "damaged PNG data: " + m_message;
            return false;
        }
        return true;
    }

private:
    bool header() {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        png_set_read_fn(m_png, m_file, pngRead);
        png_set_user_limits(m_png, 0x7fffffff, 0x7fffffff);
        png_read_info(m_png, m_info);
        m_width = png_get_image_width(m_png, m_info);
        m_height = png_get_image_height(m_png, m_info);
        const int colorType = png_get_color_type(m_png, m_info);
        png_set_strip_16(m_png);
        png_set_packing(m_png);
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            png_set_palette_to_rgb(m_png);
        if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(m_png, m_info) < 8)
            png_set_expand_gray_1_2_4_to_8(m_png);
        if (png_get_valid(m_png, m_info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(m_png);
        m_interlaced = png_get_interlace_type(m_png, m_info) != PNG_INTERLACE_NONE;
        png_read_update_info(m_png, m_info);
        m_channels = png_get_channels(m_png, m_info);
        m_rowBytes = png_get_rowbytes(m_png, m_info);
        png_uint_32 resX = 0, resY = 0;
        int unit = 0;
        if (png_get_pHYs(m_png, m_info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
            m_dpiX = resX * 0.0254;
            m_dpiY = resY * 0.0254;
        }
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileLength = 0;
        if (png_get_iCCP(m_png, m_info, &name, &compression, &profile, &profileLength) && profile)
            m_icc.assign(profile, profile + profileLength);
        return true;
    }

    bool readRows() {
        if (setjmp(png_jmpbuf(m_png)))
            return false;
        for (std::int64_t y = 0; y < m_count; ++y)
            png_read_row(m_png, m_next + std::size_t(y) * m_rowBytes, nullptr);
        return true;
    }

    FILE* m_file;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    std::string m_message;
    png_uint_32 m_width = 0, m_height = 0;
    int m_channels = 0;
    bool m_interlaced = false;
    std::size_t m_rowBytes = 0;
    double m_dpiX = 0, m_dpiY = 0;
    std::vector<std::uint8_t> m_icc;
    std::uint8_t* m_next = nullptr;
    std::int64_t m_count = 0;
};

} // namespace

std::unique_ptr<RowReader> makeJPEGRowReader(FILE* file) {
    return std::make_unique<JPEGReader>(file);
}

std::unique_ptr<RowReader> makePNGRowReader(FILE* file) {
    return std::make_unique<PNGReader>(file);
}

} // namespace conversion
