// Image to image: every picture of the loaded input in the job's format, numbered files in a
// folder for several, one PDF with a page each for PDF output.
#include "ImageConversionJob.h"

#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "OutputFile.h"
#include "PDFImageWriter.h"
#include "TIFFCodec.h"
#include "WebPCodec.h"

#include <QString>
#include <QUrl>
#include <VNTUtil.h>
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
bool writeDirect(ImageConversionJob& job, const Bitmap& bitmap) {
    EncoderProperties p = CompressionProperties(job).value_or(EncoderProperties());
    p.hasResolution = true;
    p.dpiX = job.resolutionX;
    p.dpiY = job.resolutionY;
    p.hasAlpha = FormatSupportsAlpha(job.outputFormat);
    std::vector<std::uint8_t> bytes;
    return encodeBitmap(bitmap, job.outputFormat, p, bytes, job.lastError) &&
           writeFileAtomically(job.outputURL, bytes, job.fileAttributes, job.lastError);
}

// WebP keeps the picture's colour profile (without it the colours change) and, when asked,
// the source's EXIF, each in its own chunk.
bool writeWebP(ImageConversionJob& job, Bitmap& bitmap) {
    std::vector<std::uint8_t> exif;
    if (job.keepMetadata) {
        MetadataPatch patch;
        patch.orientation = job.orientation;
        patch.dpiX = job.resolutionX;
        patch.dpiY = job.resolutionY;
        exif = ExifBlockForOutput(job.inputURL, patch);
    }
    std::vector<std::uint8_t> bytes;
    const auto release = [&bitmap] { std::vector<std::uint8_t>().swap(bitmap.pixels); };
    return encodeWebPBitmap(bitmap, job.quality, exif, bytes, job.lastError,
                            job.releasePicturesOnceEncoded ? std::function<void()>(release)
                                                           : std::function<void()>()) &&
           writeFileAtomically(job.outputURL, bytes, job.fileAttributes, job.lastError);
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
    bool result = false;
    long nextNumber = 0;
    if (severalFiles) {
        folder = job.outputURL.parent_path() / baseName;
        std::error_code ec;
        folderMade = std::filesystem::create_directories(folder, ec);
    }
    for (std::size_t i = 0; i < count; ++i) {
        Bitmap& bitmap = representations[i];
        if (severalFiles) {
            job.outputURL = nextFreeFile(folder, baseName, extension, nextNumber);
            if (job.outputURL.empty()) {
                job.lastError = "no name is free in " + folder.string();
                result = false;
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
            result = false;
            continue;
        }
        if (onePDF) {
            pdf.addPage(bitmap, job.resolutionX, job.resolutionY);
            result = true;
            continue;
        }
        const std::int32_t f = job.outputFormat;
        if (f == kFormatWebP) {
            result = writeWebP(job, bitmap);
        } else if (job.keepSourceResolution && !job.keepMetadata &&
                   (f == 2 || f == 4 || f == 7 || f == 10 || f == 13) && writeDirect(job, bitmap)) {
            result = true;
        } else {
            result = writeThroughTIFF(job, bitmap);
        }
        anyWritten = anyWritten || result;
    }
    if (onePDF) {
        // Every page that could be made is written, even when the last picture failed; the
        // result still says that one failed.
        std::vector<std::uint8_t> bytes;
        const bool written =
            pdf.pageCount() > 0 && pdf.write(bytes, job.lastError) &&
            writeFileAtomically(job.outputURL, bytes, job.fileAttributes, job.lastError);
        result = result && written;
    }
    if (severalFiles && folderMade && !anyWritten) {
        std::error_code ignored;
        std::filesystem::remove(folder, ignored); // only when empty
    }
    return result;
}

} // namespace conversion
