#include "ImageConversionJob.h"
#include "ConversionLog.h"
#include "InputFile.h"

#include "CameraRawCodec.h"
#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "JPEGMemoryCodec.h"
#include "OutputFile.h"
#include "PixelLimits.h"
#include "StreamedConvert.h"
#include "TIFFCodec.h"
#include "WebPRoute.h"

#include <VNTUtil.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace conversion {

namespace {

bool readWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                   std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read the file: " + ec.message();
        return false;
    }
    if (size > kMaxPictureBytes) {
        error = "the file is larger than any image this program reads";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    try {
        bytes.resize(std::size_t(size));
    } catch (...) {
        error = "not enough memory to read the file";
        return false;
    }
    if (!in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size))) {
        const std::string why = whyUnreadable(path);
        error = "cannot read the file" + (why.empty() ? std::string() : ": " + why);
        return false;
    }
    return true;
}

} // namespace

ImageConversionJob::~ImageConversionJob() {
    if (inputIsTemporary) {
        std::error_code ignored;
        std::filesystem::remove(inputURL, ignored);
    }
}

bool ImageConversionJob::LoadInputHeader(const std::filesystem::path& url) {
    inputImage.reset();
    inputImageRep = nullptr;
    inputURL = url;
    if (typeIdentifierOfFile(url) != "public.jpeg")
        return false;
    // The header and the EXIF block come first; a megabyte holds them in any ordinary file.
    std::vector<std::uint8_t> bytes(1 << 20);
    std::ifstream in(url, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(std::size_t(in.gcount()));
    Bitmap header;
    if (bytes.empty() || !readJPEGHeader(bytes.data(), bytes.size(), header))
        return false;
    if (readImageOrientation(bytes.data(), bytes.size()) >= 5) {
        std::swap(header.width, header.height);
        std::swap(header.dpiX, header.dpiY);
    }
    auto image = std::make_unique<InputImage>();
    image->typeIdentifier = "public.jpeg";
    image->representations.push_back(std::move(header));
    inputImage = std::move(image);
    inputImageRep = &inputImage->representations.front();
    return true;
}

double ImageConversionJob::GetPixelsWide() const {
    if (!inputImageRep)
        return 0;
    if (inputImage && inputImage->nominalWidth > 0 &&
        inputImageRep == &inputImage->representations.front())
        return double(inputImage->nominalWidth);
    return double(inputImageRep->width);
}

double ImageConversionJob::GetPixelsHigh() const {
    if (!inputImageRep)
        return 0;
    if (inputImage && inputImage->nominalHeight > 0 &&
        inputImageRep == &inputImage->representations.front())
        return double(inputImage->nominalHeight);
    return double(inputImageRep->height);
}

bool ImageConversionJob::LoadInputImage(const std::filesystem::path& url, int jpegReduction) {
    inputImage.reset();
    inputImageRep = nullptr;
    inputURL = url;
    lastError.clear();
    const std::string uti = typeIdentifierOfFile(url);
    if (uti == "org.webmproject.webp")
        return loadWebP(url);
    if (uti == "com.adobe.pdf")
        return loadPDF(url);
    auto image = std::make_unique<InputImage>();
    image->typeIdentifier = uti;
    bool ok = false;
    // LibRaw turns a raw picture upright itself.
    const bool cameraRaw = (uti == "public.tiff" || uti.empty()) && isCameraRawFile(url);
    Bitmap png;
    if (uti == "public.tiff" && !cameraRaw) {
        ok = readTIFFFile(url, image->representations, lastError);
    } else if (uti == "public.png" && !holdsSixteenBitSamples(url, uti) &&
               readUprightPNGFile(url, png)) {
        image->representations.push_back(std::move(png));
        ok = true;
    } else {
        std::vector<std::uint8_t> bytes;
        if (!readWholeFile(url, bytes, lastError))
            return false;
        std::string extension = url.extension().string();
        if (!extension.empty())
            extension.erase(0, 1);
        const bool reduced = jpegReduction > 1 && uti == "public.jpeg";
        Bitmap header;
        if (reduced && readJPEGHeader(bytes.data(), bytes.size(), header)) {
            Bitmap b;
            ok = decodeJPEGBitmap(bytes.data(), bytes.size(), b, lastError, jpegReduction);
            if (ok)
                image->representations.push_back(std::move(b));
            image->nominalWidth = header.width;
            image->nominalHeight = header.height;
        } else {
            ok = decodeImageBytes(bytes.data(), bytes.size(), extension, image->representations,
                                  lastError);
        }
        // The codecs hand over the pixels as stored; a photo taken sideways says in its EXIF
        // orientation how to turn them, and is turned here so that every output stands upright
        // (and may record orientation 1). TIFF pixels are read oriented already.
        if (ok && image->representations.size() == 1 && !cameraRaw) {
            const int orientation = readImageOrientation(bytes.data(), bytes.size());
            if (applyOrientation(image->representations.front(), orientation) && orientation >= 5)
                std::swap(image->nominalWidth, image->nominalHeight);
        }
    }
    if (!ok || image->representations.empty())
        return false;
    inputImage = std::move(image);
    inputImageRep = &inputImage->representations.front();
    return true;
}

bool ImageConversionJob::loadWebP(const std::filesystem::path& url) {
    const std::filesystem::path temporary =
        std::filesystem::path(ToStdString(GetTemporaryURL().toLocalFile())).concat(".tif");
    if (!decodeWebPFileToTIFF(url, temporary, lastError))
        return false;
    auto image = std::make_unique<InputImage>();
    image->typeIdentifier = "public.tiff";
    // From here the temporary file is the job's, removed when the job ends.
    inputURL = temporary;
    inputIsTemporary = true;
    if (!readTIFFFile(temporary, image->representations, lastError) ||
        image->representations.empty())
        return false;
    inputImage = std::move(image);
    inputImageRep = &inputImage->representations.front();
    return true;
}

bool ImageConversionJob::loadPDF(const std::filesystem::path& url) {
    if (!OpenInputPDF(url)) {
        lastError = "not a PDF document that can be opened";
        return false;
    }
    if (!UnlockInputPDF()) {
        lastError = "the PDF document is locked by a password";
        return false;
    }
    auto image = std::make_unique<InputImage>();
    image->typeIdentifier = "com.adobe.pdf";
    image->drawnFromPDF = true;
    Bitmap page;
    if (!inputPDF->renderPage(0, 72, page, lastError))
        return false;
    image->representations.push_back(std::move(page));
    inputImage = std::move(image);
    inputImageRep = &inputImage->representations.front();
    return true;
}

bool ImageConversionJob::OpenInputPDF(const std::filesystem::path& url) {
    inputURL = url;
    auto pdf = std::make_unique<PDFInput>();
    if (!pdf->open(url)) {
        inputPDF.reset();
        return false;
    }
    inputPDF = std::move(pdf);
    return true;
}

bool ImageConversionJob::UnlockInputPDF() {
    return inputPDF && inputPDF->unlock(password);
}

void ImageConversionJob::SetPageRange(std::int64_t first, std::int64_t last, std::int32_t mode) {
    firstPage = first;
    lastPage = last;
    pageRangeMode = mode;
}

void ImageConversionJob::SetOutputNaming(const std::optional<std::string>& baseName,
                                         bool pageOffset, bool replace) {
    outputBaseName = baseName;
    progressPageOffset = pageOffset;
    replaceExisting = replace;
}

void ImageConversionJob::SetProgressTarget(ConversionProgress* target, bool hasSelector) {
    progressTarget = target;
    progressSelector = hasSelector;
}

std::int32_t ImageConversionJob::InputURLImageFormat() const {
    return ImageFormatOfURL(inputURL);
}

void ImageConversionJob::SetOutputFormat(std::int32_t format, const std::filesystem::path& output,
                                         double value) {
    quality = float(value);
    outputFormat = format;
    outputURL = output;
}

void ImageConversionJob::SetResolution(std::int64_t verticalDPI, std::int64_t horizontalDPI) {
    resolutionY = float(std::max<std::int64_t>(verticalDPI, 0));
    resolutionX = float(std::max<std::int64_t>(horizontalDPI, 0));
}

void ImageConversionJob::SetRotationAngle(std::int64_t degrees) {
    switch (degrees) {
    case 0:
    case 360:
        orientation = 1;
        break;
    case 90:
    case -270:
        orientation = 6;
        break;
    case 180:
    case -180:
        orientation = 3;
        break;
    case 270:
    case -90:
        orientation = 8;
        break;
    default:
        break;
    }
}

void ImageConversionJob::SetWatermark(const WatermarkSettings& s, bool text) {
    if (text) {
        watermark.text = s.text;
        watermark.textX0 = s.textX0;
        watermark.textY0 = s.textY0;
        watermark.referenceWidth = s.referenceWidth;
        watermark.referenceHeight = s.referenceHeight;
        watermark.font = s.font;
        watermark.fontSize = s.fontSize;
        watermark.textDrawingMode = s.textDrawingMode;
        watermark.textColor = s.textColor;
        watermark.strokeWidth = s.strokeWidth;
        watermark.textAlpha = s.textAlpha;
        watermark.characterSpacing = s.characterSpacing;
        watermark.textAngle = s.textAngle;
        watermark.hasShadow = s.hasShadow;
        watermark.shadowColor = s.shadowColor;
        watermark.shadowBlur = s.shadowBlur;
        watermark.shadowOffsetX = s.shadowOffsetX;
        watermark.shadowOffsetY = s.shadowOffsetY;
        watermark.textX1 = s.textX1;
        watermark.textY1 = s.textY1;
        hasTextWatermark = true;
        return;
    }
    watermark.imageX0 = s.imageX0;
    watermark.imageY0 = s.imageY0;
    watermark.imageX1 = s.imageX1;
    watermark.imageY1 = s.imageY1;
    watermark.image = s.image;
    watermark.imageAlpha = s.imageAlpha;
    watermark.imageScale = s.imageScale;
    watermark.referenceWidth = s.referenceWidth;
    watermark.referenceHeight = s.referenceHeight;
    hasImageWatermark = true;
    watermarkImage.reset();
    std::vector<std::uint8_t> bytes;
    std::vector<Bitmap> pictures;
    std::string error;
    std::string extension = s.image.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    if (readWholeFile(s.image, bytes, error) &&
        decodeImageBytes(bytes.data(), bytes.size(), extension, pictures, error) &&
        !pictures.empty())
        watermarkImage = std::move(pictures.front());
    else
        ConversionLogf("watermark picture %s: %s\n", s.image.c_str(),
                       error.empty() ? "cannot be read" : error.c_str());
}

double ImageConversionJob::GetImageHorizontalResolution() const {
    if (!inputImageRep)
        return 0;
    return inputImageRep->dpiX > 0 ? inputImageRep->dpiX : 72.0;
}

double ImageConversionJob::GetImageVerticalResolution() const {
    if (!inputImageRep)
        return 0;
    return inputImageRep->dpiY > 0 ? inputImageRep->dpiY : 72.0;
}

double ImageConversionJob::GetImageWidth() const {
    return inputImageRep ? GetPixelsWide() * 72.0 / GetImageHorizontalResolution() : 0;
}

double ImageConversionJob::GetImageHeight() const {
    return inputImageRep ? GetPixelsHigh() * 72.0 / GetImageVerticalResolution() : 0;
}

bool ImageConversionJob::FormatSupportsAlpha() const {
    return conversion::FormatSupportsAlpha(outputFormat);
}
bool ImageConversionJob::FormatSupportsMetadata() const {
    return conversion::FormatSupportsMetadata(outputFormat);
}
bool ImageConversionJob::FormatIsBitmapFileType() const {
    return conversion::FormatIsBitmapFileType(outputFormat);
}

std::int32_t ImageConversionJob::FormatOfInputFile() const {
    return ImageFormatFromUTI(typeIdentifierOfFile(inputURL), false);
}

std::string ImageConversionJob::JobFileExtension() const {
    return ExtensionForImageFormat(outputFormat);
}

bool ImageConversionJob::WriteImage(const Bitmap& image) {
    if (planOnly)
        return true;
    std::vector<std::uint8_t> bytes;
    if (!EncodeImageData(*this, image, bytes))
        return false;
    if (keepOutputInMemory) {
        encodedData = std::move(bytes);
        return true;
    }
    return writeFileAtomically(outputURL, bytes, fileAttributes, lastError);
}

bool pagesToProcess(std::int32_t mode, std::int64_t firstPage, std::int64_t lastPage,
                    std::int64_t pageCount, std::int64_t* first, std::int64_t* last) {
    std::int64_t from = 1, to = pageCount;
    if (mode == 1 || mode == 2) {
        if (firstPage < 1 || firstPage > pageCount)
            return false;
        from = firstPage;
        to =
            mode == 1 ? firstPage : (lastPage >= 1 && lastPage <= pageCount ? lastPage : pageCount);
    }
    if (first)
        *first = from;
    if (last)
        *last = to;
    return true;
}

} // namespace conversion
