// The conversion library's interface: one plain function per kind of job, each taking a record
// of options that the caller fills and keeps alive for the call, running the job on the calling
// thread and answering true when the run succeeded. Messages go to standard error.
//
// Entries exist only for the jobs this library has; the others join as their jobs arrive.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

// ---- Progress and cancellation -----------------------------------------------------------------

// The receiver of a job's reports. Cancellation is asked on the job's thread at each checkpoint,
// so an implementation answers it from any thread; progress is called on the job's thread too,
// and a receiver with a window hands it on to its own thread without waiting for it.
class ConversionProgress {
public:
    virtual ~ConversionProgress() = default;
    virtual bool isConversionCancelled() { return false; }
    virtual void progress(std::int64_t value) { (void)value; }
};

// True when the target exists and asks for the run to end.
bool IsConversionCancelled(ConversionProgress* target);
// Calls the target's progress only when there is a target and it has a selector.
void ReportConversionProgress(ConversionProgress* target, bool hasSelector, std::int64_t value);

// ---- Option records ----------------------------------------------------------------------------

enum LengthUnit : std::int32_t {
    kLengthPercent = 1,
    kLengthPixels = 2,
    kLengthInches = 3, // and every value not listed
    kLengthCentimetres = 4,
    kLengthMillimetres = 5,
    kLengthPoints = 6,
};

enum PageRangeMode : std::int32_t {
    kPageRangeAll = 0,
    kPageRangeSingle = 1,
    kPageRangeFromTo = 2,
};

enum ColorMode : std::int32_t {
    kColorModeSource = 0,
    kColorModeRGB = 1,
    kColorModeCMYK = 2,
    kColorModeGray = 3,
};

// Bits of `flipFlags`; both together mean an extra half turn.
enum FlipFlags : std::int32_t {
    kFlipHorizontal = 1,
    kFlipVertical = 2,
};

struct RenderSize {
    bool keepAspectRatio = false;
    bool resample = false;
    bool allowEnlarging = false;
    bool sharpen = false;
    std::int64_t dpi = 0;
    double width = 0;
    double height = 0;
    std::int32_t unit = kLengthPixels;
    std::int32_t fitMode = 0;
};

// Attributes given to a written file; unset fields keep what the system gives.
struct FileAttributes {
    std::optional<mode_t> permissions;
    std::optional<std::time_t> modificationTime;
};

struct ImageJobOptions {
    bool usePageSize = false;
    bool applyTextWatermark = false;
    bool applyImageWatermark = false;
    bool progressPageOffset = false;
    bool replaceExisting = false;
    std::int64_t rotationDegrees = 0;
    std::int32_t flipFlags = 0;
    // Dots per inch; for ConvertImageFile 0 keeps the source's own resolution.
    std::int64_t dpi = 0;
    std::int32_t format = 0;
    std::int32_t colorMode = kColorModeSource;
    double quality = 0.8;
    std::optional<std::string> password;
    std::int32_t pageRangeMode = kPageRangeAll;
    std::int64_t firstPage = 1;
    std::int64_t lastPage = 1;
    bool keepMetadata = false;
    RenderSize renderSize;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
    std::filesystem::path inputURL;
    std::filesystem::path outputURL;
    std::optional<std::string> outputBaseName;
    std::optional<FileAttributes> fileAttributes;
};

// ---- Entries -----------------------------------------------------------------------------------

// Writes the input image (every picture it holds) in the chosen format: one file, numbered files
// in a folder named after the output for several pictures, or one PDF with a page each. Uses
// inputURL, outputURL, format, quality, dpi, keepMetadata and fileAttributes.
bool ConvertImageFile(const ImageJobOptions* options);

// Writes every picture embedded in the pages of the input PDF (image XObjects of each page's
// resources and of the forms they hold, then the inline images the page and those forms draw)
// into the folder outputURL as "<base>_Page<p>_<k>.<ext>" in the chosen format. Uses inputURL,
// outputURL, outputBaseName, format, quality, password, the page range, replaceExisting and the
// progress target; false for a missing field, an input that does not open or unlock, a page
// range outside the document, or when the last picture handled could not be written.
bool ExtractImagesFromPDF(const ImageJobOptions* options);
