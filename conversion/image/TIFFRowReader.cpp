// TIFF pages of the plainest layout read a band of rows at a time: one page in strips of 8-bit
// grey or RGB samples (with straight alpha), in the page's own order. Everything else is left
// to the whole-page reader, whose result this one gives byte for byte.
#include "RowReaders.h"

#include "PixelLimits.h"
#include "TIFFSamples.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <tiffio.h>
#include <vector>

namespace conversion {

namespace {

void quiet(const char*, const char*, va_list) {}

class TIFFReader final : public RowReader {
public:
    explicit TIFFReader(const std::filesystem::path& path) : m_path(path) {}
    ~TIFFReader() override {
        if (m_tif)
            TIFFClose(m_tif);
        if (m_quiet) {
            TIFFSetErrorHandler(m_error);
            TIFFSetWarningHandler(m_warning);
        }
    }

    bool start(Bitmap& layout, std::string& error) override {
        error.clear();
        m_error = TIFFSetErrorHandler(quiet);
        m_warning = TIFFSetWarningHandler(quiet);
        m_quiet = true;
        m_tif = TIFFOpen(m_path.c_str(), "rm");
        if (!m_tif || TIFFNumberOfDirectories(m_tif) != 1 || TIFFIsTiled(m_tif))
            return false;
        const TIFFPageLayout l = readTIFFPageLayout(m_tif);
        const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK;
        const int colours = grey ? 1 : 3;
        const bool alpha = l.extraCount > 0 && l.samples > colours;
        std::uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &orientation);
        if (!canReadTIFFSamples(l) || l.bits != 8 || l.planar != PLANARCONFIG_CONTIG ||
            (!grey && l.photometric != PHOTOMETRIC_RGB) || (alpha && l.associatedAlpha) ||
            l.samples != colours + (alpha ? 1 : 0) || orientation != ORIENTATION_TOPLEFT)
            return false;
        layout = Bitmap();
        layout.width = l.width;
        layout.height = l.height;
        layout.model = grey ? ColorModel::Gray : ColorModel::RGB;
        layout.hasAlpha = alpha;
        std::size_t bytes = 0;
        if (!checkedPictureBytes(layout.width, layout.height, layout.channels(), &bytes, nullptr) ||
            bytes + kPictureOverheadBytes > kMaxPictureBytes)
            return false;
        std::uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        m_rowsPerStrip = std::min(rowsPerStrip, l.height);
        m_rowBytes = layout.rowBytes();
        const std::uint64_t stripBytes = std::uint64_t(m_rowsPerStrip) * m_rowBytes;
        if (m_rowsPerStrip == 0 || stripBytes > kMaxPictureBytes ||
            stripBytes > std::uint64_t(TIFFStripSize64(m_tif)))
            return false;
        try {
            m_strip.resize(std::size_t(stripBytes));
        } catch (const std::bad_alloc&) {
            return false;
        }
        readTIFFResolutionAndProfile(m_tif, layout);
        m_height = l.height;
        return true;
    }

    bool read(std::uint8_t* rows, std::int64_t count, std::string& error) override {
        for (std::int64_t done = 0; done < count;) {
            if (m_stripRow >= m_stripRows) {
                const std::uint32_t first = m_nextStrip * m_rowsPerStrip;
                const tmsize_t got = TIFFReadEncodedStrip(m_tif, m_nextStrip, m_strip.data(),
                                                          tmsize_t(m_strip.size()));
                if (got < 0) {
                    error = "damaged TIFF data";
                    return false;
                }
                // A strip short of rows leaves the rest of its rows blank, as the whole-page
                // reader does.
                const std::size_t whole = std::size_t(got) / m_rowBytes;
                m_stripRows = std::min<std::uint32_t>(m_rowsPerStrip, m_height - first);
                if (whole < m_stripRows)
                    std::fill(m_strip.begin() + std::ptrdiff_t(whole * m_rowBytes),
                              m_strip.begin() + std::ptrdiff_t(m_stripRows * m_rowBytes), 0);
                m_stripRow = 0;
                ++m_nextStrip;
            }
            const std::int64_t n =
                std::min<std::int64_t>(count - done, std::int64_t(m_stripRows - m_stripRow));
            std::memcpy(rows + std::size_t(done) * m_rowBytes,
                        m_strip.data() + std::size_t(m_stripRow) * m_rowBytes,
                        std::size_t(n) * m_rowBytes);
            m_stripRow += std::uint32_t(n);
            done += n;
        }
        return true;
    }

private:
    std::filesystem::path m_path;
    TIFF* m_tif = nullptr;
    bool m_quiet = false;
    TIFFErrorHandler m_error = nullptr;
    TIFFErrorHandler m_warning = nullptr;
    std::uint32_t m_height = 0;
    std::uint32_t m_rowsPerStrip = 0;
    std::size_t m_rowBytes = 0;
    std::vector<std::uint8_t> m_strip;
    std::uint32_t m_nextStrip = 0;
    std::uint32_t m_stripRows = 0; // rows held in m_strip
    std::uint32_t m_stripRow = 0;  // the next of them to hand over
};

} // namespace

std::unique_ptr<RowReader> makeTIFFRowReader(const std::filesystem::path& path) {
    return std::make_unique<TIFFReader>(path);
}

} // namespace conversion
