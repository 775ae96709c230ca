#include "PageTask.h"

#include "RenderSurface.h"

namespace conversion {

std::uint64_t pageBytes(std::int64_t width, std::int64_t height) {
    return std::uint64_t(width) * std::uint64_t(height) * 12;
}

namespace {

// The encoder's settings of the run, for a worker's job.
void copyEncoding(const ImageConversionJob& from, ImageConversionJob& to) {
    to.quality = from.quality;
    to.outputFormat = from.outputFormat;
    to.orientation = from.orientation;
    to.colorMode = from.colorMode;
    to.resolutionX = from.resolutionX;
    to.resolutionY = from.resolutionY;
    to.inputURL = from.inputURL;
    to.keepMetadata = from.keepMetadata;
    to.keepOutputInMemory = from.keepOutputInMemory;
    to.fileAttributes = from.fileAttributes;
}

} // namespace

void drawPage(const ImageConversionJob& job, PageWorker& worker, const PagePlan& plan,
              PageOutcome& outcome) {
    const long long p = static_cast<long long>(plan.page);
    std::string error;
    if (!worker.opened) {
        worker.opened = true;
        worker.usable = worker.drawer.open(job.inputPDF->path(), job.inputPDF->password(), error);
        worker.openError = error;
        copyEncoding(job, worker.job);
    }
    Bitmap& page = worker.page;
    if (!worker.usable) {
        outcome.log = "pdf-to-images: page " + std::to_string(p) + ": " + worker.openError + "\n";
        outcome.error = worker.openError;
        return;
    }
    if (!worker.drawer.draw(int(plan.page - 1), plan.scale, plan.width, plan.height, plan.gray,
                            page, error)) {
        outcome.log = "pdf-to-images: page " + std::to_string(p) + ": " + error + "\n";
        outcome.error = error;
        return;
    }
    Bitmap converted;
    const Bitmap* written = &page;
    if (plan.cmyk) {
        if (!rGBBitmapToCMYK(page, converted, &error)) {
            outcome.error = error;
            return;
        }
        written = &converted;
    }
    if (plan.target.empty()) {
        // The multi-page TIFF is written by the run, page after page.
        outcome.tiffPage = plan.cmyk ? std::move(converted) : page;
        outcome.tiffPage->dpiX = job.resolutionX;
        outcome.tiffPage->dpiY = job.resolutionY;
        outcome.ok = true;
        return;
    }
    page.dpiX = converted.dpiX = job.resolutionX;
    page.dpiY = converted.dpiY = job.resolutionY;
    ImageConversionJob& writer = worker.job;
    outcome.namesOutput = true;
    writer.outputURL = plan.target;
    writer.lastError.clear();
    outcome.ok = writer.WriteImage(*written);
    if (!outcome.ok) {
        outcome.error = writer.lastError;
        outcome.log = "pdf-to-images: page " + std::to_string(p) + ": " + writer.lastError + "\n";
    }
    if (writer.encodedData)
        outcome.encoded = std::move(writer.encodedData);
    writer.encodedData.reset();
}

} // namespace conversion
