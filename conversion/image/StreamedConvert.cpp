#include "StreamedConvert.h"

#include "CameraRawCodec.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "JPEGMemoryCodec.h"
#include "OutputFile.h"
#include "PNGCodec.h"
#include "PixelLimits.h"
#include "RowReaders.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <tiffio.h>
#include <vector>

namespace conversion {

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

// Whether the picture stands as stored: the whole-picture path turns pictures by their EXIF
// orientation, which only it does. JPEG: the segments before the scan, read for the EXIF block.
bool jpegIsUpright(FILE* file) {
    std::vector<std::uint8_t> head(2);
    if (std::fread(head.data(), 1, 2, file) != 2 || head[0] != 0xFF || head[1] != 0xD8)
        return false;
    bool exif = false;
    for (;;) {
        unsigned char marker[4];
        if (std::fread(marker, 1, 4, file) != 4 || marker[0] != 0xFF)
            return false;
        head.insert(head.end(), marker, marker + 4);
        if (marker[1] == 0xDA) // start of scan: every header segment is read
            break;
        const std::size_t length = std::size_t(marker[2]) << 8 | marker[3];
        if (length < 2 || head.size() + length > (std::size_t(1) << 24))
            return false;
        const std::size_t at = head.size();
        head.resize(at + length - 2);
        if (std::fread(head.data() + at, 1, length - 2, file) != length - 2)
            return false;
        exif = exif || marker[1] == 0xE1;
    }
    std::rewind(file);
    if (!exif)
        return true;
    head.push_back(0xFF);
    head.push_back(0xD9);
    const int orientation = readImageOrientation(head.data(), head.size());
    return orientation <= 1;
}

// PNG: no chunk that may carry EXIF: eXIf, or the raw profiles ImageMagick keeps in text chunks
// (keyword "Raw profile type exif" or "... APP1"), which the EXIF reader reads too.
bool pngIsUpright(FILE* file) {
    unsigned char signature[8];
    if (std::fread(signature, 1, 8, file) != 8)
        return false;
    for (;;) {
        unsigned char chunk[8];
        if (std::fread(chunk, 1, 8, file) != 8)
            return false;
        const std::uint32_t length = bigEndian32(chunk);
        const std::string type(reinterpret_cast<const char*>(chunk + 4), 4);
        if (length > 0x7fffffffu || type == "eXIf")
            return false;
        if (type == "IEND")
            break;
        std::uint32_t skipped = 0;
        if (type == "zTXt" || type == "tEXt" || type == "iTXt") {
            char keyword[17] = {};
            skipped = std::min<std::uint32_t>(length, 16);
            if (std::fread(keyword, 1, skipped, file) != skipped)
                return false;
            if (std::string(keyword, skipped).rfind("Raw profile type", 0) == 0)
                return false;
        }
        if (std::fseek(file, long(length - skipped) + 4, SEEK_CUR) != 0)
            return false;
    }
    std::rewind(file);
    return true;
}

// The encoder of the output, JPEG or PNG, behind one face.
struct Encoder {
    JPEGRowWriter jpeg;
    PNGRowWriter png;
    bool isPNG = false;
    bool begin(const Bitmap& layout, const ImageConversionJob& job, FILE* file, std::string& e) {
        const double dpiX = double(job.resolutionX), dpiY = double(job.resolutionY);
        if (isPNG)
            return png.begin(layout, true, dpiX, dpiY, file, e);
        const double q = std::isfinite(job.quality) ? double(job.quality) : 0.85;
        const int quality = int(std::lround(std::clamp(q, 0.0, 1.0) * 100.0));
        return jpeg.begin(layout, quality, dpiX, dpiY, file, e);
    }
    bool write(const std::uint8_t* rows, std::int64_t count, std::string& e) {
        return isPNG ? png.write(rows, count, e) : jpeg.write(rows, count, e);
    }
    bool finish(std::string& e) { return isPNG ? png.finish(nullptr, e) : jpeg.finish(nullptr, e); }
};

// Bands of rows passed from the decoder's thread to the encoder's.
class BandQueue {
public:
    BandQueue(std::size_t bands, std::size_t bytes) : m_buffers(bands) {
        for (std::size_t i = 0; i < bands; ++i) {
            m_buffers[i].resize(bytes);
            m_free.push_back(i);
        }
    }
    std::uint8_t* data(std::size_t band) { return m_buffers[band].data(); }
    // A free band for the decoder; false once the encoder has stopped.
    bool takeFree(std::size_t& band) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || !m_free.empty(); });
        if (m_stopped)
            return false;
        band = m_free.front();
        m_free.pop_front();
        return true;
    }
    void putFull(std::size_t band, std::int64_t rows) {
        std::lock_guard lock(m_mutex);
        m_full.emplace_back(band, rows);
        m_changed.notify_all();
    }
    // The next decoded band; false when the decoder has finished (or failed) and none is left.
    bool takeFull(std::size_t& band, std::int64_t& rows) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_finished || !m_full.empty(); });
        if (m_full.empty())
            return false;
        band = m_full.front().first;
        rows = m_full.front().second;
        m_full.pop_front();
        return true;
    }
    void putFree(std::size_t band) {
        std::lock_guard lock(m_mutex);
        m_free.push_back(band);
        m_changed.notify_all();
    }
    void finish() {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }
    void stop() {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::vector<std::uint8_t>> m_buffers;
    std::deque<std::size_t> m_free;
    std::deque<std::pair<std::size_t, std::int64_t>> m_full;
    bool m_finished = false;
    bool m_stopped = false;
};

constexpr std::int64_t kBandRows = 32;
constexpr std::size_t kReadBuffer = 1 << 20;
constexpr std::size_t kBands = 4;

// Decodes every row through the queue (on its own thread); false with `error` on damaged data.
bool decodeInto(RowReader& reader, std::int64_t height, BandQueue& queue, std::string& error) {
    bool ok = true;
    for (std::int64_t y = 0; y < height && ok; y += kBandRows) {
        std::size_t band = 0;
        if (!queue.takeFree(band))
            break;
        const std::int64_t rows = std::min(kBandRows, height - y);
        ok = reader.read(queue.data(band), rows, error);
        if (ok)
            queue.putFull(band, rows);
    }
    queue.finish();
    return ok;
}

} // namespace

bool readUprightPNGFile(const std::filesystem::path& path, Bitmap& out) {
    FilePtr input(std::fopen(path.c_str(), "rb"));
    if (!input)
        return false;
    // Large reads: libpng asks for a chunk header and a few kilobytes at a time.
    std::setvbuf(input.get(), nullptr, _IOFBF, kReadBuffer);
    if (!pngIsUpright(input.get()))
        return false;
    std::unique_ptr<RowReader> reader = makePNGRowReader(input.get());
    Bitmap layout;
    std::string error;
    if (!reader->start(layout, error) ||
        !out.allocate(layout.width, layout.height, layout.model, layout.hasAlpha, &error))
        return false;
    out.dpiX = layout.dpiX;
    out.dpiY = layout.dpiY;
    out.iccProfile = std::move(layout.iccProfile);
    constexpr std::int64_t kRows = 64;
    for (std::int64_t y = 0; y < out.height; y += kRows)
        if (!reader->read(out.row(y), std::min(kRows, out.height - y), error)) {
            out = Bitmap();
            return false;
        }
    return true;
}

bool holdsSixteenBitSamples(const std::filesystem::path& path, const std::string& typeIdentifier) {
    if (typeIdentifier == "public.png") {
        // The signature, then IHDR: length, type, width, height, bit depth, colour type.
        unsigned char head[26];
        FilePtr file(std::fopen(path.c_str(), "rb"));
        return file && std::fread(head, 1, sizeof head, file.get()) == sizeof head &&
               std::memcmp(head + 12, "IHDR", 4) == 0 && head[24] == 16 && head[25] != 3;
    }
    if (typeIdentifier == "public.tiff") {
        // libtiff's handlers are the process's: silenced, as the TIFF codec leaves them.
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        TIFF* tif = TIFFOpen(path.c_str(), "rh");
        std::uint16_t bits = 8;
        if (tif) {
            TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
            TIFFClose(tif);
        }
        return bits == 16;
    }
    return false;
}

StreamedResult convertStreamed(ImageConversionJob& job) {
    const std::int32_t f = job.outputFormat;
    if (!job.keepSourceResolution || job.keepMetadata || (f != kFormatJPEG && f != kFormatPNG))
        return StreamedResult::NotHandled;
    const std::string uti = typeIdentifierOfFile(job.inputURL);
    const bool jpegInput = uti == "public.jpeg";
    if (f == kFormatPNG && holdsSixteenBitSamples(job.inputURL, uti))
        return StreamedResult::NotHandled;
    std::unique_ptr<RowReader> reader;
    FilePtr input;
    if (uti == "public.tiff") {
        // Camera raw files are TIFF inside, and go to LibRaw.
        if (isCameraRawFile(job.inputURL))
            return StreamedResult::NotHandled;
        reader = makeTIFFRowReader(job.inputURL);
    } else {
        if (!jpegInput && uti != "public.png")
            return StreamedResult::NotHandled;
        std::error_code ec;
        const auto size = std::filesystem::file_size(job.inputURL, ec);
        if (ec || size > kMaxPictureBytes)
            return StreamedResult::NotHandled;
        input.reset(std::fopen(job.inputURL.c_str(), "rb"));
        if (!input)
            return StreamedResult::NotHandled;
        std::setvbuf(input.get(), nullptr, _IOFBF, kReadBuffer);
        if (!(jpegInput ? jpegIsUpright(input.get()) : pngIsUpright(input.get())))
            return StreamedResult::NotHandled;
        reader = jpegInput ? makeJPEGRowReader(input.get()) : makePNGRowReader(input.get());
    }
    Bitmap layout;
    std::string error;
    if (!reader->start(layout, error)) {
        if (error.empty())
            return StreamedResult::NotHandled;
        job.lastError = error;
        return StreamedResult::InputFailed;
    }
    // As the whole-picture path records it: the file's resolution, else 72 dpi.
    job.resolutionX = float(layout.dpiX > 0 ? layout.dpiX : 72.0);
    job.resolutionY = float(layout.dpiY > 0 ? layout.dpiY : 72.0);

    OutputFile output;
    const std::filesystem::path& target = job.outputURL;
    if (!output.create(target.parent_path(), false, error)) {
        job.lastError = "cannot create a file in " + error;
        return StreamedResult::OutputFailed;
    }
    FilePtr file(std::fopen(output.path().c_str(), "wb"));
    if (!file) {
        job.lastError = "cannot write " + target.string() + ": " + std::strerror(errno);
        return StreamedResult::OutputFailed;
    }
    Encoder encoder;
    encoder.isPNG = f == kFormatPNG;
    if (!encoder.begin(layout, job, file.get(), error)) {
        job.lastError = error;
        return StreamedResult::OutputFailed;
    }
    const std::size_t rowBytes = layout.rowBytes();
    BandQueue queue(kBands, std::size_t(kBandRows) * rowBytes);
    std::string readError;
    bool readOK = true;
    bool writeOK = true;
    std::int64_t written = 0;
    std::thread decoder;
    try {
        decoder =
            std::thread([&] { readOK = decodeInto(*reader, layout.height, queue, readError); });
    } catch (const std::system_error&) {
        // No thread to spare: a band read, then written, in turn on this one.
        for (std::int64_t y = 0; y < layout.height && readOK && writeOK; y += kBandRows) {
            const std::int64_t rows = std::min(kBandRows, layout.height - y);
            readOK = reader->read(queue.data(0), rows, readError);
            writeOK = readOK && encoder.write(queue.data(0), rows, error);
            written += readOK && writeOK ? rows : 0;
        }
        queue.finish();
    }
    for (std::size_t band = 0; writeOK && decoder.joinable();) {
        std::int64_t rows = 0;
        if (!queue.takeFull(band, rows))
            break;
        writeOK = encoder.write(queue.data(band), rows, error);
        written += rows;
        queue.putFree(band);
    }
    // A failed write says why in the file's own words ("No space left on device").
    const int writeErrno = errno;
    if (!writeOK && std::ferror(file.get()))
        error = "cannot write " + target.string() + ": " + std::strerror(writeErrno);
    if (!writeOK)
        queue.stop();
    if (decoder.joinable())
        decoder.join();
    if (!readOK) {
        job.lastError = readError;
        return StreamedResult::InputFailed;
    }
    bool finished = writeOK && written == layout.height;
    if (finished && !encoder.finish(error)) {
        finished = false;
        if (std::ferror(file.get()))
            error = "cannot write " + target.string() + ": " + std::strerror(errno);
    }
    if (!finished) {
        job.lastError = error.empty() ? "the picture could not be encoded" : error;
        return StreamedResult::OutputFailed;
    }
    const int failure = std::fflush(file.get()) != 0 || std::ferror(file.get()) ? errno : 0;
    FILE* raw = file.release();
    const int closeFailure = std::fclose(raw) != 0 ? errno : 0;
    if (failure || closeFailure) {
        job.lastError = "cannot write " + target.string() + ": " +
                        std::strerror(failure ? failure : closeFailure);
        return StreamedResult::OutputFailed;
    }
    if (job.fileAttributes)
        applyFileAttributes(output.path(), *job.fileAttributes);
    if (!output.replace(target, error)) {
        job.lastError = "cannot write " + error;
        return StreamedResult::OutputFailed;
    }
    return StreamedResult::Done;
}

} // namespace conversion
