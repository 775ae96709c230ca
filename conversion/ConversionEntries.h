// The conversion library's interface: one plain function per kind of job, each taking a record
// of options that the caller fills and keeps alive for the call, running the job on the calling
// thread and answering true when the run succeeded. Messages go through ConversionLog
// (ConversionLog.h), which writes them to standard error unless the host sets a hook.
//
// What a host provides: nothing of a window system. The library makes no QGuiApplication and
// sets no Qt platform; documents are laid out in the lumeno-text-layout helper program, which
// makes its own, found through LUMENO_LIBEXEC or <exe dir>/../libexec/lumeno. Its resources are
// found through LUMENO_RESOURCES or <exe dir>/../share/lumeno (InstalledPaths.h).
//
// Entries exist only for the jobs this library has; the others join as their jobs arrive.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

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

// A colour given by its red, green, blue and alpha components, 0 to 1.
struct WatermarkColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
};

// The user's two watermarks, a line of text and a small picture, each placed by a box given on a
// reference area of the caller's own size (x to the right, y upwards, origin at the lower left).
// Sizes on the reference area grow with the output.
struct WatermarkSettings {
    std::string text;
    double textX0 = 0;
    double textY0 = 0;
    double referenceWidth = 0;
    double referenceHeight = 0;
    // PostScript name of the font; empty or unknown takes the default sans-serif face.
    std::string font;
    std::int64_t fontSize = 0;
    // 0 fill, 1 stroke, 2 fill and stroke, 3 invisible, 4 to 7 the same with clipping.
    std::int32_t textDrawingMode = 0;
    // None: black.
    std::optional<WatermarkColor> textColor;
    std::int64_t strokeWidth = 0;
    double textAlpha = 1;
    double characterSpacing = 0;
    // Counter-clockwise, in degrees.
    std::int64_t textAngle = 0;
    bool hasShadow = false;
    // None: no shadow is drawn.
    std::optional<WatermarkColor> shadowColor;
    std::int64_t shadowBlur = 0;
    std::int64_t shadowOffsetX = 0;
    std::int64_t shadowOffsetY = 0;
    double textX1 = 0;
    double textY1 = 0;
    double imageX0 = 0;
    double imageY0 = 0;
    double imageX1 = 0;
    double imageY1 = 0;
    // The picture's file, read with the job's codecs.
    std::filesystem::path image;
    double imageAlpha = 1;
    double imageScale = 1;
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
    WatermarkSettings watermark;
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

// Draws the input image at the size of `renderSize` (units, percentages, fit modes), turned by
// rotationDegrees and flipFlags, with the watermarks asked for, and writes it in the chosen
// format. Uses inputURL, outputURL, format, quality, colorMode, renderSize, rotationDegrees,
// flipFlags, applyTextWatermark, applyImageWatermark, watermark, keepMetadata and fileAttributes.
bool RenderImageFile(const ImageJobOptions* options);

// Draws every page of the range of the input PDF at dpi (or fitted to renderSize with
// usePageSize) into numbered image files in the output folder, or into one multi-page TIFF.
// Reports each page's number to progressTarget and stops between pages when it cancels.
bool ConvertPDFToImages(const ImageJobOptions* options);

// ---- PDF to text documents ---------------------------------------------------------------------

enum TextDocumentFormat : std::int32_t {
    kTextFormatUTF8 = 1,
    kTextFormatUTF16 = 2,
    kTextFormatRTF = 3,
    kTextFormatRTFD = 4,
    kTextFormatDoc = 5,
    kTextFormatDOCX = 6,
    kTextFormatODT = 7,
};

struct PDFToTextOptions {
    std::filesystem::path inputURL;
    std::filesystem::path outputFolderURL;
    // Unset: the input's file name without its extension.
    std::optional<std::string> outputBaseName;
    // Extension of every file written; unset or empty: none. Not derived from the format.
    std::optional<std::string> outputExtension;
    // Tried on an encrypted, locked PDF; an empty string is a password too.
    std::optional<std::string> password;
    std::int32_t textFormat = kTextFormatUTF8;
    bool filePerPage = false;
    std::int64_t firstPage = 1;
    std::int64_t lastPage = 1;
    std::int32_t pageRangeMode = kPageRangeAll;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
};

// Writes the text of the chosen pages, with its fonts, sizes, bold and italic where the format
// holds them, as one document per page ("Base-07") or one document for all pages ("Base"), under
// names that no existing file has. True when at least one page's text was written and no write
// failed. Throws the integer 301 when the input cannot be opened as a PDF.
bool ConvertPDFToTextDocument(const PDFToTextOptions* options);

// ---- Writing PDF -------------------------------------------------------------------------------

// How a PDF is written. With a user or owner password the file is encrypted (AES-256) and the
// permissions below apply to whoever opens it without the owner password.
struct PDFWriteOptions {
    std::optional<std::string> userPassword;
    std::optional<std::string> ownerPassword;
    bool allowPrinting = true;
    bool allowCopying = true;
    bool allowModifying = true;
    bool allowAnnotating = true;
};

// ---- Images, documents and mixed files to PDF ---------------------------------------------------

struct ImageToPDFItem {
    std::filesystem::path filePath;
    // Degrees; outside -270..270 counts as 0; multiples of 90 turn the image.
    std::optional<std::int64_t> angle;
};

struct ImagesToPDFOptions {
    bool merge = false;
    double quality = 0.8;
    // ImageFileFormat code in which each image that is not passed through is stored; JPEG (2) and
    // JPEG 2000 are stored as such, every other code losslessly.
    std::int32_t pageImageFormat = 0;
    std::int32_t colorMode = kColorModeSource;
    // 0: each page the size of its image; otherwise the fixed paper, images fitted within the
    // margins (1 also measures the resolution against the image as fitted there).
    std::int32_t pageSizeMode = 0;
    std::int64_t maximumResolution = 0;
    std::uint64_t pageWidth = 612;
    std::uint64_t pageHeight = 792;
    double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
    std::int64_t orientation = 0; // 1: landscape
    std::int64_t scalePercent = 100;
    std::vector<ImageToPDFItem> jobList;
    // The output folder (one PDF per image) or file (merged).
    std::filesystem::path outputURL;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
    const PDFWriteOptions* writeOptions = nullptr;
};

// Text attributes laid over a document (plain text always, rich documents when asked).
struct TextAttributes {
    std::optional<std::string> fontFamily;
    std::optional<double> fontSize;         // points
    std::optional<std::uint32_t> textColor; // 0xRRGGBB
};

struct DocumentsToPDFOptions {
    std::vector<std::filesystem::path> jobList;
    std::filesystem::path outputURL;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
    bool merge = false;
    bool richTextAttributes = false;
    double paperWidth = 612, paperHeight = 792;
    double leftMargin = 72, rightMargin = 72, topMargin = 72, bottomMargin = 72;
    std::int64_t orientation = 0;
    const PDFWriteOptions* writeOptions = nullptr;
    const TextAttributes* textAttributes = nullptr;
};

enum MergeFileType : std::int32_t {
    kMergeFileImage = 1,
    kMergeFileDocument = 2,
    kMergeFilePDF = 3,
};

struct MergeFileItem {
    std::int32_t fileType = 0; // other values: skipped
    std::filesystem::path filePath;
    std::optional<std::string> password;
    std::optional<std::int64_t> angle;
};

struct MergeFilesOptions {
    std::vector<MergeFileItem> jobList;
    std::filesystem::path outputURL;
    ConversionProgress* progressTarget = nullptr;
    bool progressSelector = false;
    bool merge = false;
    bool richTextAttributes = false;
    double pageWidth = 612, pageHeight = 792;
    double leftMargin = 36, rightMargin = 36, topMargin = 36, bottomMargin = 36;
    std::int64_t orientation = 0;
    double imageQuality = 0.8;
    std::int32_t imageFormat = 0;
    std::int32_t colorMode = kColorModeSource;
    std::int32_t pageSizeMode = 0;
    std::int64_t maximumResolution = 0;
    std::int64_t scalePercent = 100;
    const PDFWriteOptions* writeOptions = nullptr;
    const TextAttributes* textAttributes = nullptr;
};

// The merged runs below refuse, with a message and before any work, an output that is one of
// their inputs (the same file by device and inode, through links too) or an existing file that
// is no PDF (a merge may write over one of its PDF inputs), and a paper outside PDF's limits.

// One PDF per image in the output folder ("x.pdf", "x 1.pdf"), or all images as pages of one PDF.
// Progress 3 per image, 6 and 7 around the merged write. False when any image failed (the others
// are written all the same), on cancellation (nothing more is written) and without an output.
bool ConvertImagesToPDF(const ImagesToPDFOptions* options);
// Plain text, HTML, web archives, RTF, RTFD, DOC, DOCX and ODT laid out on the paper; one PDF per
// document or one for all. False when any document failed (the others are written all the same).
bool ConvertDocumentsToPDF(const DocumentsToPDFOptions* options);
// Images, documents and PDFs, one PDF each or all in one with an outline entry per input.
bool MergeFilesToPDF(const MergeFilesOptions* options);
