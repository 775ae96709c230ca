// The job object of every image conversion: the settings of one run, the loaded input (an image
// file's pictures, or a PDF), where the output goes and the encoded output. One thread, one run.
#pragma once

#include "Bitmap.h"
#include "ConversionEntries.h"
#include "ImageCodecs.h"
#include "PDFInput.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

// The pictures of a loaded image file, in file order (pages, frames, icon sizes).
struct InputImage {
    std::vector<Bitmap> representations;
    std::string typeIdentifier;
    // The pictures were drawn from a PDF page; a run may draw it again at its resolution.
    bool drawnFromPDF = false;
    // The size the first picture stands for when it was decoded reduced (0: as decoded).
    std::int64_t nominalWidth = 0;
    std::int64_t nominalHeight = 0;
};

class ImageConversionJob {
public:
    ImageConversionJob() = default;
    ~ImageConversionJob();
    ImageConversionJob(const ImageConversionJob&) = delete;
    ImageConversionJob& operator=(const ImageConversionJob&) = delete;

    float quality = 0;
    std::int32_t outputFormat = 0;
    std::int32_t orientation = 0;
    std::int32_t colorMode = 0;
    float resolutionX = 0;
    float resolutionY = 0;
    float fixedResolution = 0;
    double maxPrintWidth = 0;
    double maxPrintHeight = 0;
    std::int64_t firstPage = 0;
    std::int64_t lastPage = 0;
    std::int32_t pageRangeMode = 0;
    std::unique_ptr<InputImage> inputImage;
    Bitmap* inputImageRep = nullptr; // within inputImage
    std::filesystem::path inputURL;
    std::filesystem::path outputURL;
    std::optional<std::string> password;
    std::optional<std::string> outputBaseName;
    bool progressPageOffset = false;
    bool replaceExisting = false;
    bool keepSourceResolution = false;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
    bool hasTextWatermark = false;
    bool keepMetadata = false;
    // The caller is done with the loaded pictures once they are written: a WebP encoder may free
    // each one as soon as it holds its own copy (the peak is then the encoder's, not both).
    bool releasePicturesOnceEncoded = false;
    bool keepOutputInMemory = false;
    bool hasImageWatermark = false;
    bool inputIsTemporary = false;
    std::int64_t rotationDegrees = 0;
    std::int32_t flipFlags = 0;
    std::optional<std::vector<std::uint8_t>> encodedData;
    std::optional<FileAttributes> fileAttributes;
    std::unique_ptr<PDFInput> inputPDF;
    // The watermark parts copied by SetWatermark, and the image watermark's picture.
    WatermarkSettings watermark;
    std::optional<Bitmap> watermarkImage;
    // The last failure's message, for the entry to report.
    std::string lastError;
    // A run that only works out the sizes: nothing is drawn or written, and the scale at which
    // the picture would be drawn (target pixels per source pixel) is recorded.
    bool planOnly = false;
    double plannedScaleX = 0;
    double plannedScaleY = 0;

    // Input.
    // A JPEG may be decoded at 1/2, 1/4 or 1/8 of its size (`jpegReduction`); the job then still
    // answers the full size, and draws the smaller picture in its place.
    bool LoadInputImage(const std::filesystem::path& url, int jpegReduction = 1);
    // A JPEG's size, upright, and resolution without its pixels, for a planning run; false for
    // other files.
    bool LoadInputHeader(const std::filesystem::path& url);
    bool OpenInputPDF(const std::filesystem::path& url);
    void SetPassword(const std::optional<std::string>& value) { password = value; }
    bool IsInputPDFEncrypted() const { return inputPDF && inputPDF->isEncrypted(); }
    // Without a password the empty one is tried.
    bool UnlockInputPDF();
    bool IsInputPDFLocked() const { return inputPDF && inputPDF->isLocked(); }
    void SetPageRange(std::int64_t first, std::int64_t last, std::int32_t mode);
    void SetOutputNaming(const std::optional<std::string>& baseName, bool pageOffset, bool replace);
    void SetProgressTarget(ConversionProgress* target, bool hasSelector);
    void SetKeepResolution(bool keep) { keepSourceResolution = keep; }
    double GetPixelsWide() const;
    double GetPixelsHigh() const;
    std::int32_t InputURLImageFormat() const;

    // Encoding settings.
    void SetOutputFormat(std::int32_t format, const std::filesystem::path& output, double value);
    // Negative resolutions count as 0 (none).
    void SetResolution(std::int64_t verticalDPI, std::int64_t horizontalDPI);
    void SetRotationAngle(std::int64_t degrees);
    void SetColorMode(std::int32_t mode) { colorMode = mode; }
    void SetQuality(double value) { quality = float(value); }
    void SetFormatCode(std::int32_t format) { outputFormat = format; }
    void SetOutputURL(const std::filesystem::path& url) { outputURL = url; }
    void SetOrientation(std::int32_t value) { orientation = value; }
    // Copies the text part (text true) or the image part with the reference size into the job.
    // A picture that cannot be read leaves the image watermark undrawn, with a message.
    void SetWatermark(const WatermarkSettings& settings, bool text);

    // Queries.
    double GetImageWidth() const;
    double GetImageHeight() const;
    double GetImageHorizontalResolution() const;
    double GetImageVerticalResolution() const;
    bool ImageHasAlpha() const { return inputImageRep && inputImageRep->hasAlpha; }
    bool FormatSupportsAlpha() const;
    bool FormatSupportsMetadata() const;
    bool FormatIsBitmapFileType() const;
    std::int32_t FormatOfInputFile() const;
    std::string JobFileExtension() const;

    // Encodes and writes the picture to outputURL (through a temporary file in its folder), or
    // keeps the bytes in encodedData when keepOutputInMemory is set.
    bool WriteImage(const Bitmap& image);

private:
    bool loadWebP(const std::filesystem::path& url);
    bool loadPDF(const std::filesystem::path& url);
};

// The pages a page conversion handles, for a document of `pageCount` pages: true with
// [first, last] (nothing when last < first), or false when the range names no page of it.
bool pagesToProcess(std::int32_t mode, std::int64_t firstPage, std::int64_t lastPage,
                    std::int64_t pageCount, std::int64_t* first, std::int64_t* last);

// What the encoder is told for the job's output, and the smaller set of the direct bitmap path
// (compression and quality only; nullopt for formats that have neither).
EncoderProperties ImageDestinationProperties(const ImageConversionJob& job);
std::optional<EncoderProperties> CompressionProperties(const ImageConversionJob& job);
bool EncodeImageData(ImageConversionJob& job, const Bitmap& image, std::vector<std::uint8_t>& out);
bool ImageFromData(ImageConversionJob& job, const std::vector<std::uint8_t>& data, Bitmap& out);
// The job's image into memory instead of a file.
bool EncodeJobImageToData(ImageConversionJob& job, std::vector<std::uint8_t>& out);
bool FormatIsBitmapFileType(std::int32_t format);
bool FormatSupportsAlpha(std::int32_t format);
bool FormatSupportsMetadata(std::int32_t format);

// Writes every representation of the loaded input in the job's format (image to image).
bool ConvertImage(ImageConversionJob& job);

} // namespace conversion
