#include "PDFPagesToImages.h"
#include "ConversionLog.h"

#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageRender.h"
#include "JPEGMemoryCodec.h"
#include "OutputFile.h"
#include "PageTask.h"
#include "PageWorkers.h"
#include "PixelLimits.h"
#include "RenderSurface.h"

#include <QString>
#include <QUrl>
#include <VNTUtil.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

namespace {

// An existing file to be replaced stays until its successor is complete.
std::filesystem::path uniqueFile(const std::filesystem::path& folder, const std::string& name,
                                 const std::string& extension, bool replace) {
    return outputPathInFolder(folder, name, extension, replace);
}

std::string numberedName(const std::string& base, std::int64_t number, int digits) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "-%0*lld", digits, static_cast<long long>(number));
    return base + buffer;
}

// The multi-page TIFF of a run: written into a temporary file beside its final name, closed on
// every path, and put in place only when the run ends without being cancelled. A run that wrote
// fewer pages than its range had (pages skipped) has its page counts set to what the file holds.
class MultiPageTIFF {
public:
    ~MultiPageTIFF() { discard(); }

    bool isOpen() const { return m_tiff != nullptr; }
    bool open(const std::filesystem::path& target, std::string& error) {
        m_target = target;
        std::string reason;
        if (!m_output.create(target.parent_path(), false, reason)) {
            error = "cannot create " + target.string() + ": " + m_output.errorText();
            return false;
        }
        errno = 0;
        m_tiff = TIFFOpen(m_output.path().c_str(), "w");
        if (!m_tiff) {
            error = "cannot create " + target.string() + ": " + std::strerror(errno ? errno : EIO);
            m_output.abandon();
        }
        return m_tiff != nullptr;
    }
    bool add(const Bitmap& page, std::uint64_t count, double rx, double ry) {
        const int model = page.model == ColorModel::Gray  ? 0
                          : page.model == ColorModel::RGB ? 1
                                                          : 2;
        errno = 0;
        const bool ok =
            WriteTIFFPage(m_tiff, std::uint32_t(page.width), std::uint32_t(page.height),
                          page.pixels.data(), model, page.hasAlpha, m_written, count, rx, ry);
        if (ok)
            ++m_written;
        else
            m_cause = errno ? errno : EIO;
        return ok;
    }
    // The cause of the last failed page, as strerror gives it.
    const char* failure() const { return std::strerror(m_cause); }
    // Closes the file and puts it in place; false with a message when that fails.
    bool finish(std::uint64_t count, std::string& error) {
        if (!m_tiff)
            return true;
        // TIFFClose reports nothing: the flush before it is where a failed write shows.
        errno = 0;
        const bool flushed = TIFFFlush(m_tiff) != 0;
        const int cause = errno ? errno : EIO;
        TIFFClose(m_tiff);
        m_tiff = nullptr;
        if (!flushed) {
            error = "cannot write " + m_target.string() + ": " + std::strerror(cause);
            discard();
            return false;
        }
        if (m_written != count && !fixPageCounts()) {
            error = "cannot complete " + m_target.string();
            discard();
            return false;
        }
        std::string reason;
        if (!m_output.replace(m_target, reason)) {
            error = "cannot write " + m_target.string() + ": " + m_output.errorText();
            return false;
        }
        return true;
    }
    void discard() {
        if (m_tiff) {
            TIFFClose(m_tiff);
            m_tiff = nullptr;
        }
        m_output.abandon();
    }
    const std::filesystem::path& target() const { return m_target; }
    std::uint64_t pages() const { return m_written; }

private:
    bool fixPageCounts() {
        TIFF* t = TIFFOpen(m_output.path().c_str(), "r+");
        if (!t)
            return false;
        bool ok = true;
        for (std::uint16_t i = 0; i < m_written && ok; ++i) {
            ok = TIFFSetDirectory(t, i) &&
                 TIFFSetField(t, TIFFTAG_PAGENUMBER, i, std::uint16_t(m_written)) &&
                 TIFFRewriteDirectory(t);
        }
        ok = TIFFFlush(t) != 0 && ok;
        TIFFClose(t);
        return ok;
    }

    TIFF* m_tiff = nullptr;
    std::filesystem::path m_target;
    OutputFile m_output;
    std::uint64_t m_written = 0;
    int m_cause = 0;
};

} // namespace

bool WriteTIFFPage(TIFF* tiff, std::uint32_t width, std::uint32_t height,
                   const std::uint8_t* pixels, int colorModel, bool alpha, std::uint64_t pageIndex,
                   std::uint64_t pageCount, double resolutionX, double resolutionY) {
    if (!tiff || !pixels || width == 0 || height == 0)
        return false;
    std::uint16_t samples = 4, photometric = PHOTOMETRIC_RGB;
    bool extra = alpha;
    switch (colorModel) {
    case 2:
        samples = 4;
        photometric = PHOTOMETRIC_SEPARATED;
        extra = false;
        break;
    case 1:
        samples = alpha ? 4 : 3;
        break;
    case 0:
        samples = 1;
        photometric = PHOTOMETRIC_MINISBLACK;
        extra = false;
        break;
    default:
        break;
    }
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(resolutionX));
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(resolutionY));
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    if (extra) {
        const std::uint16_t type = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &type);
    }
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tiff, TIFFTAG_PAGENUMBER, std::uint16_t(pageIndex), std::uint16_t(pageCount));
    const std::size_t rowBytes = std::size_t(samples) * width;
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::copy(pixels + std::size_t(y) * rowBytes, pixels + std::size_t(y + 1) * rowBytes,
                  row.begin());
        if (TIFFWriteScanline(tiff, row.data(), y, 0) < 0)
            return false;
    }
    return TIFFWriteDirectory(tiff) != 0;
}

bool WriteCMYKJPEG(ImageConversionJob& job, std::uint32_t width, std::uint32_t height,
                   const std::uint8_t* pixels, int jpegColorSpace, int components) {
    job.encodedData.reset();
    std::size_t bytes = 0;
    if (!pixels || components < 1 ||
        !checkedPictureBytes(width, height, components, &bytes, &job.lastError))
        return false;
    // Readers take CMYK JPEG samples as Adobe writes them: inverted, 0 for full ink.
    std::vector<std::uint8_t> inverted;
    if (components == 4) {
        inverted.assign(pixels, pixels + bytes);
        for (auto& v : inverted)
            v = std::uint8_t(255 - v);
        pixels = inverted.data();
    }
    std::uint8_t* buffer = nullptr;
    std::size_t size = 0;
    CompressJPEGData(width, height, pixels, jpegColorSpace, components, &buffer, &size,
                     int(float(job.quality) * 100), job.resolutionX, job.resolutionY);
    if (size == 0) {
        std::free(buffer);
        job.lastError = "JPEG encoding failed";
        return false;
    }
    job.encodedData.emplace(buffer, buffer + size);
    std::free(buffer);
    return true;
}

bool ConvertPDFPages(ImageConversionJob& job, bool usePageSize, RenderSize size) {
    if (!job.inputPDF || !job.inputPDF->isOpen()) {
        job.lastError = "no PDF document is open";
        return false;
    }
    if (usePageSize && size.unit != kLengthPixels && size.unit != kLengthPoints) {
        size.width = PointsFromUnit(size.unit, size.width);
        size.height = PointsFromUnit(size.unit, size.height);
    }
    const std::int64_t n = job.inputPDF->pageCount();
    std::int64_t first = 0, last = 0;
    if (!pagesToProcess(job.pageRangeMode, job.firstPage, job.lastPage, n, &first, &last)) {
        job.lastError = "the document has no page " + std::to_string(job.firstPage);
        return false;
    }
    if (job.resolutionX == 0 && job.resolutionY == 0)
        job.resolutionX = job.resolutionY = 72;
    else if (job.resolutionX == 0)
        job.resolutionX = job.resolutionY;
    else if (job.resolutionY == 0)
        job.resolutionY = job.resolutionX;
    const double factor = std::max(job.resolutionX, job.resolutionY) / 72.0;
    const std::filesystem::path folder = job.outputURL;
    const std::string base =
        job.outputBaseName ? *job.outputBaseName : job.inputURL.stem().string();
    // The files go into the output folder, never beside or above it.
    if (!isPlainFileName(base)) {
        job.lastError = "the base name \"" + base + "\" is no plain file name";
        return false;
    }
    const int digits = int(std::to_string(last).size());
    if (first == last && job.outputFormat == kFormatMultiPageTIFF)
        job.outputFormat = kFormatTIFF;
    const bool multiPage = job.outputFormat == kFormatMultiPageTIFF;
    const std::uint64_t count = std::uint64_t(last - first + 1);
    bool result = true;
    bool anyDrawn = false;
    MultiPageTIFF tiff;

    // The pages are drawn and written side by side, each worker with a document of its own;
    // this thread plans them in order (sizes, names, the checks that read the file), reports
    // progress, asks about cancelling, and hears of the pages in their order. The multi-page
    // TIFF is written here, in page order. The first page's size stands for the others when
    // choosing how many workers the memory allows.
    double w0 = 612, h0 = 792;
    job.inputPDF->pageSize(int(first - 1), &w0, &h0);
    const std::uint64_t budget = pageMemoryBudget();
    const double s0 = usePageSize ? 1 : factor;
    const std::uint64_t typical =
        pageBytes(std::int64_t(std::min(s0 * w0, 1.0e6)), std::int64_t(std::min(s0 * h0, 1.0e6)));
    std::vector<PageWorker> workers(pageWorkerCount(std::int64_t(count), typical, budget));
    std::deque<PageOutcome> outcomes; // of pages planned and not yet folded into the result
    std::int64_t nextToFold = first;
    std::uint64_t charged = 0; // memory of the pages planned and not yet done

    // Folds the finished pages at the head into the run's result, in page order; false when
    // the multi-page TIFF cannot be written, which ends the run.
    auto fold = [&]() -> bool {
        while (!outcomes.empty() && outcomes.front().done.load(std::memory_order_acquire)) {
            PageOutcome& o = outcomes.front();
            const std::int64_t p = nextToFold++;
            if (!o.log.empty())
                ConversionLogf("%s", o.log.c_str());
            if (o.namesOutput)
                job.outputURL = o.output;
            if (o.encoded)
                job.encodedData = std::move(o.encoded);
            if (o.counts) {
                if (!o.ok)
                    job.lastError = o.error;
                result = o.ok;
            }
            if (o.tiffPage) {
                if (!tiff.add(*o.tiffPage, count, job.resolutionX, job.resolutionY)) {
                    job.lastError = "cannot write page " + std::to_string(p) +
                                    " into the TIFF file: " + tiff.failure();
                    tiff.discard();
                    return false;
                }
            }
            outcomes.pop_front();
        }
        charged = 0;
        for (const PageOutcome& o : outcomes)
            if (!o.done.load(std::memory_order_acquire) || o.tiffPage)
                charged += o.bytes;
        return true;
    };

    bool ended = false; // the TIFF failed: nothing more is done
    bool cancelled = false;
    {
        PageWorkers pool(workers.size());
        for (std::int64_t p = first; p <= last && !ended; ++p) {
            if (!fold()) {
                ended = true;
                break;
            }
            if (IsConversionCancelled(job.progressTarget)) {
                cancelled = true;
                break;
            }
            const std::int64_t number = job.progressPageOffset ? p + job.firstPage - 1 : p;
            ReportConversionProgress(job.progressTarget, job.progressSelector, number);
            const std::string name =
                (last == 1 || multiPage) ? base : numberedName(base, p, digits);
            PageOutcome& outcome = outcomes.emplace_back();
            auto settled = [&outcome] { outcome.done.store(true, std::memory_order_release); };

            double w = 0, h = 0;
            if (!job.inputPDF->pageSize(int(p - 1), &w, &h)) {
                // A page without a usable box is skipped, and said to be.
                outcome.log =
                    "pdf-to-images: page " + std::to_string(p) + " has no size and is skipped\n";
                settled();
                continue;
            }
            anyDrawn = true;
            outcome.counts = true;
            double s = factor;
            if (usePageSize) {
                const double W = size.width, H = size.height;
                if (H == 0 && W > 0) {
                    s = W / w;
                } else if (W == 0 && H > 0) {
                    s = H / h;
                } else {
                    s = W / w;
                    if (std::nearbyintf(float(s * h)) > H)
                        s = H / h;
                }
                if (size.unit != kLengthPixels)
                    s *= factor;
            }
            const float fw = std::nearbyintf(float(s * w)), fh = std::nearbyintf(float(s * h));
            if (!(fw >= 1 && fh >= 1) || !std::isfinite(fw) || !std::isfinite(fh)) {
                outcome.log = "pdf-to-images: page " + std::to_string(p) +
                              " comes to no pixels at this size\n";
                outcome.error = "a page comes to no pixels at the requested size";
                settled();
                continue;
            }
            PagePlan plan;
            plan.page = p;
            plan.scale = s;
            plan.width = std::int64_t(std::min(fw, 1.0e12f));
            plan.height = std::int64_t(std::min(fh, 1.0e12f));
            plan.cmyk = job.outputFormat == kFormatCMYKTIFF || job.colorMode == kColorModeCMYK;
            plan.gray = !plan.cmyk && job.colorMode == kColorModeGray;
            std::string error;
            // The checks read the file through one parser, so they are made here.
            if (!checkedPictureBytes(plan.width, plan.height, 4, nullptr, &error) ||
                !job.inputPDF->pageIsSafeToDraw(int(p - 1), error)) {
                outcome.log = "pdf-to-images: page " + std::to_string(p) + ": " + error + "\n";
                outcome.error = error;
                settled();
                continue;
            }
            if (multiPage && !tiff.isOpen()) {
                // The file is begun with the first page that is drawn, so that it is there (as
                // a temporary file) while that page is.
                const std::filesystem::path target =
                    uniqueFile(folder, base, job.JobFileExtension(), job.replaceExisting);
                if (target.empty() || !tiff.open(target, job.lastError)) {
                    if (target.empty())
                        job.lastError = "no file can be made in " + folder.string();
                    outcomes.pop_back(); // this page ends the run
                    const std::string message = job.lastError;
                    fold();
                    job.lastError = message;
                    return false; // the workers are joined on the way out
                }
                job.outputURL = target;
            }
            if (!multiPage) {
                // The names of the pages differ, so a page's name never depends on the files
                // of the pages written beside it.
                plan.target = uniqueFile(folder, name, job.JobFileExtension(), job.replaceExisting);
                // The job names the page's file once the page comes to be written.
                outcome.output = plan.target;
                outcome.namesOutput = plan.target.empty();
                if (plan.target.empty()) {
                    outcome.error = "no file can be made in " + folder.string();
                    settled();
                    continue;
                }
            }
            const std::uint64_t bytes = pageBytes(plan.width, plan.height);
            // Pages wait while those being drawn would take more than the budget together.
            while (charged > 0 && charged + bytes > budget) {
                pool.waitForAnyFinished();
                if (!fold()) {
                    ended = true;
                    break;
                }
            }
            if (ended)
                break;
            outcome.bytes = bytes;
            charged += bytes;
            pool.run([&job, &workers, plan, &outcome](std::size_t worker) {
                try {
                    drawPage(job, workers[worker], plan, outcome);
                } catch (const std::exception& e) {
                    // Memory ran out under Poppler or the encoder: this page fails, alone.
                    outcome.ok = false;
                    outcome.error = std::string("the page could not be drawn: ") + e.what();
                    outcome.log = "pdf-to-images: page " + std::to_string(plan.page) + ": " +
                                  outcome.error + "\n";
                }
                outcome.done.store(true, std::memory_order_release);
            });
        }
        if (!ended)
            pool.waitForAll();
    }
    if (ended || !fold())
        return false;
    if (cancelled)
        return result; // the multi-page file is closed and removed with `tiff`
    if (tiff.isOpen() && tiff.pages() == 0)
        tiff.discard(); // begun for a page that could not be drawn after all: nothing to keep
    if (tiff.isOpen() && !tiff.finish(count, job.lastError))
        return false;
    if (!anyDrawn) {
        job.lastError = "no page of the range has a size to draw; nothing was written";
        return false;
    }
    return result;
}

bool ConvertPDFWithImageRep(ImageConversionJob& job) {
    if (!job.inputPDF || job.inputPDF->pageCount() < 1)
        return false;
    const std::string base = job.inputURL.stem().string();
    const std::filesystem::path folder = job.outputURL;
    bool result = false;
    for (int i = 0; i < job.inputPDF->pageCount(); ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "-%03d", i + 1);
        std::string name = base + number;
        const std::string extension = job.JobFileExtension();
        if (!extension.empty())
            name += "." + extension;
        auto image = std::make_unique<InputImage>();
        image->typeIdentifier = "com.adobe.pdf";
        image->drawnFromPDF = true;
        Bitmap page;
        // The page at twice its size in points.
        if (!job.inputPDF->renderPage(i, 144, page, job.lastError)) {
            result = false;
            continue;
        }
        image->representations.push_back(std::move(page));
        job.inputImage = std::move(image);
        job.inputImageRep = &job.inputImage->representations.front();
        job.outputURL = folder / name;
        result = ConvertImage(job);
        job.inputImageRep = nullptr;
        job.inputImage.reset();
    }
    return result;
}

} // namespace conversion
