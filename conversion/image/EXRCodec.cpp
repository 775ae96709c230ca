#include "EXRCodec.h"

#include "PixelLimits.h"

#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <algorithm>
#include <cstring>
#include <exception>

namespace conversion {

namespace {

class MemoryStream : public Imf::OStream {
public:
    explicit MemoryStream(std::vector<std::uint8_t>& bytes)
        : Imf::OStream("memory"), m_bytes(bytes) {}
    void write(const char c[], int n) override {
        const std::size_t end = m_position + std::size_t(n);
        if (end > m_bytes.size())
            m_bytes.resize(end);
        std::memcpy(m_bytes.data() + m_position, c, std::size_t(n));
        m_position = end;
    }
    std::uint64_t tellp() override { return m_position; }
    void seekp(std::uint64_t position) override { m_position = std::size_t(position); }

private:
    std::vector<std::uint8_t>& m_bytes;
    std::size_t m_position = 0;
};

} // namespace

bool encodeEXRBitmap(const Bitmap& input, std::vector<std::uint8_t>& out, std::string& error) {
    if (input.empty()) {
        error = "no picture to encode";
        return false;
    }
    if (input.width > INT32_MAX || input.height > INT32_MAX ||
        !checkedPictureBytes(input.width, input.height, sizeof(Imf::Rgba), nullptr, &error))
        return false;
    try {
        // Grey or RGB samples of 16 bits, as their file held them, keep what a half float holds
        // of them; anything else goes through 8-bit RGB.
        const bool deep =
            input.hasDeepPixels() && !input.hasAlpha && input.model != ColorModel::CMYK;
        const Bitmap rgb = deep ? layoutOf(input) : convertBitmap(input, ColorModel::RGB, false);
        const std::size_t count = std::size_t(rgb.width) * std::size_t(rgb.height);
        std::vector<Imf::Rgba> pixels(count);
        if (deep) {
            const std::size_t n = std::size_t(input.channels());
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint16_t* p = &input.deepPixels[i * n];
                const float r = p[0] / 65535.0f;
                pixels[i] = n == 1 ? Imf::Rgba(r, r, r, 1.0f)
                                   : Imf::Rgba(r, p[1] / 65535.0f, p[2] / 65535.0f, 1.0f);
            }
        }
        for (std::size_t i = 0; !deep && i < count; ++i) {
            const std::uint8_t* p = &rgb.pixels[i * 3];
            pixels[i] = Imf::Rgba(p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f, 1.0f);
        }
        std::vector<std::uint8_t> bytes;
        {
            MemoryStream stream(bytes);
            Imf::Header header(int(rgb.width), int(rgb.height));
            header.compression() = Imf::ZIP_COMPRESSION;
            Imf::RgbaOutputFile file(stream, header, Imf::WRITE_RGB);
            file.setFrameBuffer(pixels.data(), 1, std::size_t(rgb.width));
            file.writePixels(int(rgb.height));
        }
        out.swap(bytes);
    } catch (const std::exception& e) {
        error = std::string("the OpenEXR writer failed: ") + e.what();
        return false;
    }
    return true;
}

} // namespace conversion
