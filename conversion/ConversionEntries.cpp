#include "ConversionEntries.h"

#include "image/ImageConversionJob.h"
#include "image/ImageFormats.h"

#include <cstdio>

bool IsConversionCancelled(ConversionProgress* target) {
    return target && target->isConversionCancelled();
}

void ReportConversionProgress(ConversionProgress* target, bool hasSelector, std::int64_t value) {
    if (target && hasSelector)
        target->progress(value);
}

bool ConvertImageFile(const ImageJobOptions* options) {
    if (!options || options->inputURL.empty() || options->outputURL.empty())
        return false;
    if (!conversion::IsKnownFormatCode(options->format)) {
        std::fprintf(stderr, "convert: unknown output format code %d\n", int(options->format));
        return false;
    }
    conversion::ImageConversionJob job;
    if (!job.LoadInputImage(options->inputURL)) {
        std::fprintf(stderr, "convert: %s: %s\n", options->inputURL.c_str(), job.lastError.c_str());
        return false;
    }
    job.SetOutputFormat(options->format, options->outputURL, options->quality);
    job.SetResolution(options->dpi, options->dpi);
    if (options->dpi <= 0)
        job.SetKeepResolution(true);
    job.keepMetadata = options->keepMetadata;
    if (options->fileAttributes)
        job.fileAttributes = options->fileAttributes;
    const bool ok = conversion::ConvertImage(job);
    if (!ok)
        std::fprintf(stderr, "convert: %s: %s\n", options->outputURL.c_str(),
                     job.lastError.empty() ? "the image could not be written"
                                           : job.lastError.c_str());
    return ok;
}
