#include "ConversionEntries.h"
#include "ConversionLog.h"
#include "InputFile.h"
#include "ItemFailures.h"

#include "image/ImageConversionJob.h"
#include "image/ImageFormats.h"
#include "image/ImageRender.h"
#include "image/StreamedConvert.h"
#include "pdf/PDFPagesToImages.h"
#include "pdf/PopplerMessages.h"

#include <cstdio>

namespace {

// A WebP input is read through the WebP decoder, which says where it saved its picture; that
// line names the output, not the temporary file the decoder wrote for the job.
void announceWebPInputResult(const conversion::ImageConversionJob& job) {
    std::error_code ec;
    if (job.inputIsTemporary && std::filesystem::exists(job.outputURL, ec))
        ConversionLogf("Saved file %s\n", job.outputURL.c_str());
}

bool convertImageFile(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    if (!conversion::isKnownFormatCode(options->format)) {
        ConversionLogf("convert: unknown output format code %d\n", int(options->format));
        return false;
    }
    conversion::ImageConversionJob job;
    const auto setUp = [&] {
        job.SetOutputFormat(options->format, options->outputURL, options->quality);
        job.SetResolution(options->dpi, options->dpi);
        if (options->dpi <= 0)
            job.SetKeepResolution(true);
        job.keepMetadata = options->keepMetadata;
        if (options->fileAttributes)
            job.fileAttributes = options->fileAttributes;
    };
    // Plain JPEG and PNG conversions go a band of rows at a time, never holding the picture.
    setUp();
    job.inputURL = options->inputURL;
    switch (conversion::convertStreamed(job)) {
    case conversion::StreamedResult::Done:
        return true;
    case conversion::StreamedResult::InputFailed:
        ConversionLogf("convert: %s: %s\n", options->inputURL.c_str(), job.lastError.c_str());
        return false;
    case conversion::StreamedResult::OutputFailed:
        ConversionLogf("convert: %s: %s\n", options->outputURL.c_str(), job.lastError.c_str());
        return false;
    case conversion::StreamedResult::NotHandled:
        break;
    }
    if (!job.LoadInputImage(options->inputURL)) {
        ConversionLogf("convert: %s: %s\n", options->inputURL.c_str(), job.lastError.c_str());
        return false;
    }
    setUp();
    job.releasePicturesOnceEncoded = true;
    const bool ok = conversion::ConvertImage(job);
    if (!ok)
        ConversionLogf("convert: %s: %s\n", options->outputURL.c_str(),
                       job.lastError.empty() ? "the image could not be written"
                                             : job.lastError.c_str());
    else
        announceWebPInputResult(job);
    return ok;
}

} // namespace

bool ConvertImageFile(const ImageJobOptions* options) {
    // A file of several pictures is one run: a picture that failed fails it.
    conversion::ItemFailures failures("convert");
    return failures.result(convertImageFile(options));
}

namespace {

void setUpRender(conversion::ImageConversionJob& job, const ImageJobOptions* options,
                 bool readWatermarkPicture) {
    job.SetOutputFormat(options->format, options->outputURL, options->quality);
    if (options->applyTextWatermark)
        job.SetWatermark(options->watermark, true);
    if (options->applyImageWatermark) {
        if (readWatermarkPicture)
            job.SetWatermark(options->watermark, false);
        else
            job.hasImageWatermark = true;
    }
    job.SetColorMode(options->colorMode);
    job.rotationDegrees = options->rotationDegrees;
    job.flipFlags = options->flipFlags;
    job.keepMetadata = options->keepMetadata;
}

// A JPEG drawn smaller than half its size is decoded reduced by its DCT (1/2, 1/4 or 1/8, never
// below the size it is drawn at), which saves most of the decoding and of the memory. The render
// is first run on the header alone to learn that size.
int renderReduction(const ImageJobOptions* options) {
    conversion::ImageConversionJob probe;
    if (!probe.LoadInputHeader(options->inputURL))
        return 1;
    setUpRender(probe, options, false);
    probe.planOnly = true;
    if (!conversion::RenderImage(probe, options->renderSize) || probe.plannedScaleX <= 0 ||
        probe.plannedScaleY <= 0)
        return 1;
    return conversion::JPEGReductionFor(probe.GetPixelsWide(), probe.GetPixelsHigh(),
                                        probe.plannedScaleX, probe.plannedScaleY);
}

} // namespace

bool RenderImageFile(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    if (!conversion::isKnownFormatCode(options->format)) {
        ConversionLogf("render: unknown output format code %d\n", int(options->format));
        return false;
    }
    conversion::ImageConversionJob job;
    if (!job.LoadInputImage(options->inputURL, renderReduction(options))) {
        ConversionLogf("render: %s: %s\n", options->inputURL.c_str(), job.lastError.c_str());
        return false;
    }
    setUpRender(job, options, true);
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
    // Poppler's messages go to the log from here on, before any page worker draws.
    conversion::ensurePopplerWithConversionLog();
    conversion::ImageConversionJob job;
    job.SetPassword(options->password);
    if (const std::string why = conversion::whyUnreadable(options->inputURL); !why.empty()) {
        ConversionLogf("pdf-to-images: %s: cannot be read: %s\n", options->inputURL.c_str(),
                       why.c_str());
        return false;
    }
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
