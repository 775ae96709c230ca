// Image to image: every picture of the loaded input in the job's format, numbered files in a
// folder for several, one PDF with a page each for PDF output.
#include "ImageConversionJob.h"

#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "ItemFailures.h"
#include "OutputFile.h"
#include "PDFImageWriter.h"
#include "TIFFCodec.h"
#include "WebPCodec.h"
#include "Workers.h"

#include <QString>
#include <QUrl>
#include <VNTUtil.h>
#include <algorithm>
#include <atomic>
#include <limits>

namespace conversion {

namespace {

// A name in the folder at which nothing exists: "base.ext", else "base 1.ext", "base 2.ext" ...
// The search goes on from `next` (0 at first), so that numbering many pictures costs one look
// each rather than a look at every name used before.
std::filesystem::path nextFreeFile(const std::filesystem::path& folder, const std::string& base,
                                   const std::string& extension, long& next) {
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    std::error_code ec;
    if (next == 0) {
        next = 1;
        const std::filesystem::path plain = folder / (base + suffix);
        if (!std::filesystem::exists(std::filesystem::symlink_status(plain, ec)))
            return plain;
    }
    for (; next < std::numeric_limits<long>::max(); ++next) {
        const std::filesystem::path candidate =
            folder / (base + " " + std::to_string(next) + suffix);
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) {
            ++next;
            return candidate;
        }
    }
    return {};
}

// The direct path: the bitmap writes itself with only its compression settings.
bool writeDirectTo(const ImageConversionJob& job, const Bitmap& bitmap,
                   const std::filesystem::path& output, std::string& error) {
    EncoderProperties p = CompressionProperties(job).value_or(EncoderProperties());
    p.hasResolution = true;
    p.dpiX = job.resolutionX;
    p.dpiY = job.resolutionY;
    p.hasAlpha = FormatSupportsAlpha(job.outputFormat);
    std::vector<std::uint8_t> bytes;
    return encodeBitmap(bitmap, job.outputFormat, p, bytes, error) &&
           writeFileAtomically(output, bytes, job.fileAttributes, error);
}

bool writeDirect(ImageConversionJob& job, const Bitmap& bitmap) {
    return writeDirectTo(job, bitmap, job.outputURL, job.lastError);
}

// WebP keeps the picture's colour profile (without it the colours change) and, when asked,
// the source's EXIF, each in its own chunk.
std::vector<std::uint8_t> exifForWebP(const ImageConversionJob& job) {
    std::vector<std::uint8_t> exif;
    if (job.keepMetadata) {
        MetadataPatch patch;
        patch.orientation = job.orientation;
        patch.dpiX = job.resolutionX;
        patch.dpiY = job.resolutionY;
        exif = ExifBlockForOutput(job.inputURL, patch);
    }
    return exif;
}

bool writeWebPTo(const ImageConversionJob& job, Bitmap& bitmap,
                 const std::vector<std::uint8_t>& exif, const std::filesystem::path& output,
                 std::string& error) {
    std::vector<std::uint8_t> bytes;
    const auto release = [&bitmap] { std::vector<std::uint8_t>().swap(bitmap.pixels); };
    return encodeWebPBitmap(bitmap, job.quality, exif, bytes, error,
                            job.releasePicturesOnceEncoded ? std::function<void()>(release)
                                                           : std::function<void()>()) &&
           writeFileAtomically(output, bytes, job.fileAttributes, error);
}

bool writeWebP(ImageConversionJob& job, Bitmap& bitmap) {
    return writeWebPTo(job, bitmap, exifForWebP(job), job.outputURL, job.lastError);
}

bool writeThroughTIFF(ImageConversionJob& job, const Bitmap& bitmap) {
    if (job.WriteImage(bitmap))
        return true;
    // A picture the chosen encoder refuses is tried once more from its TIFF round trip.
    const std::int32_t saved = job.outputFormat;
    job.outputFormat = kFormatTIFF;
    std::vector<std::uint8_t> tiff;
    std::string firstError = job.lastError;
    const bool encoded = EncodeImageData(job, bitmap, tiff);
    job.outputFormat = saved;
    Bitmap decoded;
    if (!encoded || !ImageFromData(job, tiff, decoded)) {
        job.lastError = firstError;
        return false;
    }
    if (job.WriteImage(decoded))
        return true;
    job.lastError = firstError;
    return false;
}

// A picture of several that could not be written: the run goes on with the others, and fails.
void noteFailedPicture(std::size_t index) {
    NoteFailedItem("picture " + std::to_string(index + 1));
}

// Several pictures into numbered files, several at once. The names are taken first, in order
// (they depend only on what the folder held before), then the pictures are encoded and written
// by as many workers as the cores and the memory allow, then the outcomes are reported in order,
// as writing them one after the other reports them: the run succeeds only when every picture
// was written; the message is the last failure's.
bool writeNumberedInParallel(ImageConversionJob& job, const std::filesystem::path& folder,
                             bool folderMade, const std::string& baseName,
                             const std::string& extension) {
    auto& pictures = job.inputImage->representations;
    const std::size_t count = pictures.size();
    struct Outcome {
        std::filesystem::path name;
        bool empty = false;
        bool ok = false;
        std::string error;
    };
    std::vector<Outcome> outcomes(count);
    long nextNumber = 0;
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        outcomes[i].name = nextFreeFile(folder, baseName, extension, nextNumber);
        outcomes[i].empty = pictures[i].empty();
        largest = std::max<std::uint64_t>(largest, pictures[i].pixels.size());
    }
    if (!job.inputImageRep)
        job.inputImageRep = &pictures.front();
    if (job.keepSourceResolution) {
        job.resolutionX = float(job.GetImageHorizontalResolution());
        job.resolutionY = float(job.GetImageVerticalResolution());
    }
    const bool webp = job.outputFormat == kFormatWebP;
    const std::vector<std::uint8_t> exif = webp ? exifForWebP(job) : std::vector<std::uint8_t>();
    // What a worker holds beside the pictures: its encoder's copy and output, about the
    // picture's size again (a WebP encoder's planes and work, about three times it).
    const std::uint64_t perWorker = std::max<std::uint64_t>(1, largest * (webp ? 3 : 1));
    const std::uint64_t byMemory =
        std::max<std::uint64_t>(1, availableMemoryBytes() / 2 / perWorker);
    const unsigned workers = unsigned(
        std::min<std::uint64_t>({std::uint64_t(usableCores()), std::uint64_t(count), byMemory}));
    const ImageConversionJob& settings = job;
    std::atomic<std::size_t> next{0};
    runWorkers(workers, [&](unsigned) {
        for (std::size_t i = next++; i < count; i = next++) {
            Outcome& o = outcomes[i];
            if (o.name.empty() || o.empty)
                continue;
            o.ok = webp ? writeWebPTo(settings, pictures[i], exif, o.name, o.error)
                        : writeDirectTo(settings, pictures[i], o.name, o.error);
        }
    });
    std::size_t failed = 0;
    bool anyWritten = false;
    for (std::size_t i = 0; i < count; ++i) {
        const Outcome& o = outcomes[i];
        job.outputURL = o.name;
        bool written = false;
        if (o.name.empty()) {
            job.lastError = "no name is free in " + folder.string();
        } else if (o.empty) {
            job.lastError = "picture " + std::to_string(i + 1) + " holds no pixels";
        } else if (o.ok) {
            written = true;
        } else {
            job.lastError = o.error;
            written = !webp && writeThroughTIFF(job, pictures[i]);
        }
        if (!written) {
            ++failed;
            noteFailedPicture(i);
        }
        anyWritten = anyWritten || written;
    }
    if (folderMade && !anyWritten) {
        std::error_code ignored;
        std::filesystem::remove(folder, ignored); // only when empty
    }
    return failed == 0;
}

} // namespace

bool ConvertImage(ImageConversionJob& job) {
    if (!job.inputImage || job.inputImage->representations.empty()) {
        job.lastError = "no image is loaded";
        return false;
    }
    if (!canWriteFormat(job.outputFormat, &job.lastError))
        return false;
    // A PDF page is drawn again at the resolution asked for, rather than enlarged from 72 dpi.
    if (job.inputImage->drawnFromPDF && job.inputPDF && job.resolutionX > 0 &&
        job.resolutionX != 72) {
        Bitmap page;
        if (job.inputPDF->renderPage(0, job.resolutionX, page, job.lastError)) {
            job.inputImage->representations.front() = std::move(page);
            job.inputImageRep = &job.inputImage->representations.front();
        }
    }
    auto& representations = job.inputImage->representations;
    const std::size_t count = representations.size();
    const std::string baseName = job.outputURL.stem().string();
    std::string extension = job.outputURL.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    const bool severalFiles = count > 1 && job.outputFormat != kFormatPDF;
    const bool onePDF = count > 1 && job.outputFormat == kFormatPDF;
    std::filesystem::path folder;
    bool folderMade = false;
    bool anyWritten = false;
    PDFImageWriter pdf;
    // Every picture is tried; one that failed fails the run (and is named when there are
    // several).
    std::size_t failed = 0;
    auto fail = [&](std::size_t i) {
        ++failed;
        if (count > 1)
            noteFailedPicture(i);
    };
    long nextNumber = 0;
    if (severalFiles) {
        folder = job.outputURL.parent_path() / baseName;
        std::error_code ec;
        folderMade = std::filesystem::create_directories(folder, ec);
        // JPEG, PNG and WebP encoders share nothing, so their pictures can be written at once.
        const std::int32_t f = job.outputFormat;
        if (f == kFormatWebP || ((f == kFormatJPEG || f == kFormatPNG) &&
                                 job.keepSourceResolution && !job.keepMetadata))
            return writeNumberedInParallel(job, folder, folderMade, baseName, extension);
    }
    for (std::size_t i = 0; i < count; ++i) {
        Bitmap& bitmap = representations[i];
        if (severalFiles) {
            job.outputURL = nextFreeFile(folder, baseName, extension, nextNumber);
            if (job.outputURL.empty()) {
                job.lastError = "no name is free in " + folder.string();
                fail(i);
                continue;
            }
        }
        if (!job.inputImageRep)
            job.inputImageRep = &bitmap;
        if (job.keepSourceResolution) {
            job.resolutionX = float(job.GetImageHorizontalResolution());
            job.resolutionY = float(job.GetImageVerticalResolution());
        }
        if (bitmap.empty()) {
            job.lastError = "picture " + std::to_string(i + 1) + " holds no pixels";
            fail(i);
            continue;
        }
        if (onePDF) {
            pdf.addPage(bitmap, job.resolutionX, job.resolutionY);
            continue;
        }
        const std::int32_t f = job.outputFormat;
        bool written = false;
        if (f == kFormatWebP) {
            written = writeWebP(job, bitmap);
        } else if (job.keepSourceResolution && !job.keepMetadata &&
                   (f == 2 || f == 4 || f == 7 || f == 10 || f == 13) && writeDirect(job, bitmap)) {
            written = true;
        } else {
            written = writeThroughTIFF(job, bitmap);
        }
        if (!written)
            fail(i);
        anyWritten = anyWritten || written;
    }
    bool written = true;
    if (onePDF) {
        // Every page that could be made is written, even when a picture failed; the result
        // still says that one did.
        std::vector<std::uint8_t> bytes;
        written = pdf.pageCount() > 0 && pdf.write(bytes, job.lastError) &&
                  writeFileAtomically(job.outputURL, bytes, job.fileAttributes, job.lastError);
    }
    if (severalFiles && folderMade && !anyWritten) {
        std::error_code ignored;
        std::filesystem::remove(folder, ignored); // only when empty
    }
    return written && failed == 0;
}

} // namespace conversion
