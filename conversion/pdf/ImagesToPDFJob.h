// Images to PDF: each image, turned by its angle, as a page of its own size or placed on a fixed
// paper within the margins; one PDF per image or all in one. JPEG and JPEG 2000 data that need no
// resampling go into the PDF as they are; everything else is stored losslessly (or as JPEG when
// that is the chosen page image format), alpha as a soft mask.
#pragma once

#include "ConversionEntries.h"
#include "ImageConversionJob.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

class MergedPDFDocument;

class ImagesToPDFJob : public ImageConversionJob {
public:
    ImagesToPDFJob() { outputFormat = 8; }

    std::vector<ImageToPDFItem> jobList;
    ConversionProgress* target = nullptr;
    bool selector = false;
    double pageQuality = 0.8;
    std::int32_t pageImageFormat = 0;
    std::int32_t pageColorMode = 0;
    std::int32_t pageSizeMode = 0;
    std::uint64_t pageWidth = 0;
    std::uint64_t pageHeight = 0;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    std::int64_t pageOrientation = 0;
    std::int64_t scalePercent = 100;
    std::int64_t maximumResolution = 0;
    const PDFWriteOptions* writeOptions = nullptr;

    void SetImagesToPDFOptions(const ImagesToPDFOptions& options);
    // Negative sizes and margins count as 0.
    void SetPageLayout(std::int64_t orientation, std::int32_t imageFormat, std::int32_t colorMode,
                       std::int32_t sizeMode, std::int64_t scale, std::int64_t maxResolution,
                       const PDFWriteOptions* options, double width, double height, double left,
                       double right, double top, double bottom, double quality);
    void SetProgressTarget(ConversionProgress* t, bool hasSelector) {
        target = t;
        selector = hasSelector;
    }
    bool ConvertImagesSeparately();
    bool MergeImagesIntoPDF();
};

// Appends the image as a page of `document`; false with `error` set when no page was made.
bool PDFPageFromImageFile(ImagesToPDFJob& job, const std::filesystem::path& image,
                          MergedPDFDocument& document, std::optional<std::int64_t> angle,
                          std::string& error);

// Quarter turns clockwise for an angle in degrees: 90 and -270 one, 180 and -180 two, 270 and
// -90 three; any other angle none.
int quarterTurnsForAngle(std::optional<std::int64_t> angle);

// The picture averaged down to the given size (each side at least 1 pixel).
Bitmap downsampleBitmap(const Bitmap& source, std::int64_t width, std::int64_t height);

// "x.pdf", else "x 1.pdf", ... in the folder; empty when the folder is unusable.
std::filesystem::path uniquePDFPathFor(const std::filesystem::path& folder,
                                       const std::filesystem::path& input);

} // namespace conversion
