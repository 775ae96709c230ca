#include "ConversionEntries.h"
#include "ConversionLog.h"

#include "image/ImageConversionJob.h"
#include "image/ImageFormats.h"
#include "image/ImageRender.h"
#include "pdf/PDFPagesToImages.h"

#include <cstdio>

namespace {

// A WebP input is read through the WebP decoder, which says where it saved its picture; that
// line names the output, not the temporary file the decoder wrote for the job.
void announceWebPInputResult(const conversion::ImageConversionJob& job) {
    std::error_code ec;
    if (job.inputIsTemporary && std::filesystem::exists(job.outputURL, ec))
        ConversionLogf("Saved file %s\n", job.outputURL.c_str());
}

} // namespace

bool ConvertImageFile(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    if (!conversion::isKnownFormatCode(options->format)) {
        ConversionLogf("convert: unknown output format code %d\n", int(options->format));
        return false;
    }
    conversion::ImageConversionJob job;
    if (!job.LoadInputImage(options->inputURL)) {
        ConversionLogf("convert: %s: %s\n", options->inputURL.c_str(), job.lastError.c_str());
        return false;
    }
    job.SetOutputFormat(options->format, options->outputURL, options->quality);
    job.SetResolution(options->dpi, options->dpi);
    if (options->dpi <= 0)
        job.SetKeepResolution(true);
    job.keepMetadata = options->keepMetadata;
    job.releasePicturesOnceEncoded = true;
    if (options->fileAttributes)
        job.fileAttributes = options->fileAttributes;
    const bool ok = conversion::ConvertImage(job);
    if (!ok)
        ConversionLogf("convert: %s: %s\n", options->outputURL.c_str(),
                       job.lastError.empty() ? "the image could not be written"
                                             : job.lastError.c_str());
    else
        announceWebPInputResult(job);
    return ok;
}

bool RenderImageFile(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    if (!conversion::isKnownFormatCode(options->format)) {
        ConversionLogf("render: unknown output format code %d\n", int(options->format));
        return false;
    }
    conversion::ImageConversionJob job;
    if (!job.LoadInputImage(options->inputURL)) {
        ConversionLogf("render: %s: %s\n", options->inputURL.c_str(), job.lastError.c_str());
        return false;
    }
    job.SetOutputFormat(options->format, options->outputURL, options->quality);
    if (options->applyTextWatermark)
        job.SetWatermark(options->watermark, true);
    if (options->applyImageWatermark)
        job.SetWatermark(options->watermark, false);
    job.SetColorMode(options->colorMode);
    job.rotationDegrees = options->rotationDegrees;
    job.flipFlags = options->flipFlags;
    job.keepMetadata = options->keepMetadata;
    if (options->fileAttributes)
        job.fileAttributes = options->fileAttributes;
    const bool ok = conversion::RenderImage(job, options->renderSize);
    if (!ok)
        ConversionLogf("render: %s: %s\n", options->outputURL.c_str(),
                       job.lastError.empty() ? "the image could not be written"
                                             : job.lastError.c_str());
    else
        announceWebPInputResult(job);
    return ok;
}

bool ConvertPDFToImages(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    if (!conversion::isKnownFormatCode(options->format)) {
        ConversionLogf("pdf-to-images: unknown output format code %d\n", int(options->format));
        return false;
    }
    conversion::ImageConversionJob job;
    job.SetPassword(options->password);
    if (!job.OpenInputPDF(options->inputURL)) {
        ConversionLogf("pdf-to-images: %s: not a PDF document that can be opened\n",
                       options->inputURL.c_str());
        return false;
    }
    if (job.IsInputPDFEncrypted() && !job.UnlockInputPDF()) {
        ConversionLogf("pdf-to-images: %s: the password does not open the document\n",
                       options->inputURL.c_str());
        return false;
    }
    job.SetOutputNaming(options->outputBaseName, options->progressPageOffset,
                        options->replaceExisting);
    job.SetPageRange(options->firstPage, options->lastPage, options->pageRangeMode);
    job.SetProgressTarget(options->progressTarget, options->progressSelector);
    job.SetOutputFormat(options->format, options->outputURL, options->quality);
    job.SetResolution(options->dpi, options->dpi);
    job.SetColorMode(options->colorMode);
    const bool ok = conversion::ConvertPDFPages(job, options->usePageSize, options->renderSize);
    if (!ok)
        ConversionLogf("pdf-to-images: %s: %s\n", options->inputURL.c_str(),
                       job.lastError.empty() ? "no page could be written" : job.lastError.c_str());
    return ok;
}
