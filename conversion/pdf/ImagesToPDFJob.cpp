#include "ImagesToPDFJob.h"
#include "ConversionLog.h"

#include "ImageFormats.h"
#include "ImageMetadataCopier.h"
#include "ItemFailures.h"
#include "JPEGMemoryCodec.h"
#include "MergedPDFDocument.h"
#include "PDFImageWriter.h"
#include "VNTUtil.h"

#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <jpeglib.h>

namespace conversion {

namespace {

// The file's first `limit` bytes (all of it when it is shorter).
bool readFile(const std::filesystem::path& path, std::string& bytes, std::string& error,
              std::size_t limit = std::string::npos) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "is a folder";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        const std::string why = std::strerror(errno);
        error = "cannot be opened: " + why;
        return false;
    }
    bytes.clear();
    char buffer[1 << 16];
    std::size_t n;
    while (bytes.size() < limit && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, std::min(n, limit - bytes.size()));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "cannot be read";
        return false;
    }
    return true;
}

bool isJPEG(const std::string& b) {
    return b.size() > 3 && std::uint8_t(b[0]) == 0xFF && std::uint8_t(b[1]) == 0xD8 &&
           std::uint8_t(b[2]) == 0xFF;
}

bool isJPEG2000(const std::string& b) {
    static const char jp2[] = "\x00\x00\x00\x0CjP  \r\n\x87\n";
    static const char codestream[] = "\xFF\x4F\xFF\x51";
    return (b.size() > 12 && b.compare(0, 12, std::string(jp2, 12)) == 0) ||
           (b.size() > 4 && b.compare(0, 4, std::string(codestream, 4)) == 0);
}

struct JPEGHeader {
    std::int64_t width = 0, height = 0;
    int components = 0;
    bool adobe = false;
    double dpiX = 0, dpiY = 0;
    std::vector<std::uint8_t> iccProfile; // from its APP2 markers
};

struct JPEGErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// Reads only the header, so passing a photo through costs no decoding.
bool readJPEGHeader(const std::string& bytes, JPEGHeader& header) {
    jpeg_decompress_struct info{};
    JPEGErrorExit error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JPEGErrorExit*>(c->err)->jump, 1);
    };
    error.manager.output_message = [](j_common_ptr) {};
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&info, &icc, &iccLength) && icc)
        header.iccProfile.assign(icc, icc + iccLength);
    std::free(icc);
    header.width = info.image_width;
    header.height = info.image_height;
    header.components = info.num_components;
    header.adobe = info.saw_Adobe_marker;
    if (info.density_unit == 1) {
        header.dpiX = info.X_density;
        header.dpiY = info.Y_density;
    } else if (info.density_unit == 2) {
        header.dpiX = info.X_density * 2.54;
        header.dpiY = info.Y_density * 2.54;
    }
    jpeg_destroy_decompress(&info);
    return header.width > 0 && header.height > 0 &&
           (header.components == 1 || header.components == 3 || header.components == 4);
}

std::string number(double value) {
    std::ostringstream s;
    s.precision(4);
    s << std::fixed << value;
    return s.str();
}

QPDFObjectHandle imageDictionary(QPDF& pdf, std::int64_t w, std::int64_t h) {
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(w));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(h));
    return image;
}

QPDFObjectHandle encodedImage(QPDF& pdf, std::string data, const char* filter, std::int64_t w,
                              std::int64_t h, int components, bool invertCMYK,
                              const std::vector<std::uint8_t>& profile) {
    QPDFObjectHandle image = imageDictionary(pdf, w, h);
    if (components > 0) {
        image.getDict().replaceKey("/ColorSpace", imageColorSpace(pdf, components, profile));
        image.getDict().replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    }
    if (invertCMYK) {
        QPDFObjectHandle decode = QPDFObjectHandle::newArray();
        for (int i = 0; i < 4; ++i) {
            decode.appendItem(QPDFObjectHandle::newInteger(1));
            decode.appendItem(QPDFObjectHandle::newInteger(0));
        }
        image.getDict().replaceKey("/Decode", decode);
    }
    if (filter)
        image.replaceStreamData(data, QPDFObjectHandle::newName(filter),
                                QPDFObjectHandle::newNull());
    return image;
}

// Samples unfiltered: the writer compresses them with Flate, losslessly.
QPDFObjectHandle losslessImage(QPDF& pdf, const Bitmap& b) {
    const int colors = b.colorChannels();
    std::string samples;
    std::string alpha;
    splitColourAndAlpha(b, samples, alpha);
    auto make = [&](std::string data, int components, const std::vector<std::uint8_t>& profile) {
        QPDFObjectHandle image = imageDictionary(pdf, b.width, b.height);
        image.getDict().replaceKey("/ColorSpace", imageColorSpace(pdf, components, profile));
        image.getDict().replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        image.replaceStreamData(data, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
        return image;
    };
    QPDFObjectHandle image = make(std::move(samples), colors, b.iccProfile);
    if (b.hasAlpha && !isOpaque(b))
        image.getDict().replaceKey("/SMask", make(std::move(alpha), 1, {}));
    return image;
}

Bitmap inColorMode(const Bitmap& b, std::int32_t mode) {
    switch (mode) {
    case kColorModeRGB:
        return b.model == ColorModel::RGB ? b : convertBitmap(b, ColorModel::RGB, true);
    case kColorModeGray:
        return b.model == ColorModel::Gray ? b : convertBitmap(b, ColorModel::Gray, true);
    case kColorModeCMYK:
        return b.model == ColorModel::CMYK ? b : convertBitmap(b, ColorModel::CMYK, false);
    default:
        return b;
    }
}

bool usable(double d) {
    return std::isfinite(d) && d > 0;
}

// A 2 x 2 matrix of whole numbers, rows first: a quarter turn or a mirroring of the plane.
using Turn = std::array<int, 4>;

Turn times(const Turn& a, const Turn& b) {
    return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
            a[2] * b[1] + a[3] * b[3]};
}

// The matrix ("cm") that draws an image (the unit square, its first row at the top) into the
// box of w x h points at (x, y): its stored samples turned upright by their EXIF orientation
// (1 to 8), then by `turns` quarter turns clockwise. In coordinates centred on the picture,
// with y upwards.
std::array<double, 6> imagePlacement(int orientation, int turns, double x, double y, double w,
                                     double h) {
    static const Turn upright[9] = {
        {1, 0, 0, 1},   {1, 0, 0, 1},  {-1, 0, 0, 1}, {-1, 0, 0, -1}, {1, 0, 0, -1},
        {0, -1, -1, 0}, {0, 1, -1, 0}, {0, 1, 1, 0},  {0, -1, 1, 0},
    };
    const Turn clockwise = {0, 1, -1, 0};
    Turn m = upright[orientation >= 1 && orientation <= 8 ? orientation : 1];
    for (int i = 0; i < ((turns % 4) + 4) % 4; ++i)
        m = times(clockwise, m);
    // Scaled to the box, then moved so that the centre of the unit square lands on the box's.
    const double a = w * m[0], c = w * m[1], b = h * m[2], d = h * m[3];
    return {a, b, c, d, x + w / 2 - (a + c) / 2, y + h / 2 - (b + d) / 2};
}

} // namespace

int quarterTurnsForAngle(std::optional<std::int64_t> angle) {
    const std::int64_t a = angle && *angle >= -270 && *angle <= 270 ? *angle : 0;
    switch (a) {
    case 90:
    case -270:
        return 1;
    case 180:
    case -180:
        return 2;
    case 270:
    case -90:
        return 3;
    default:
        return 0;
    }
}

Bitmap downsampleBitmap(const Bitmap& s, std::int64_t width, std::int64_t height) {
    Bitmap d;
    width = std::clamp<std::int64_t>(width, 1, s.width);
    height = std::clamp<std::int64_t>(height, 1, s.height);
    if (!d.allocate(width, height, s.model, s.hasAlpha, nullptr))
        return {};
    d.dpiX = s.dpiX;
    d.dpiY = s.dpiY;
    d.iccProfile = s.iccProfile;
    const int n = s.channels();
    std::vector<std::uint64_t> sum(std::size_t(width) * std::size_t(n), 0);
    std::vector<std::uint32_t> count(std::size_t(width), 0u);
    for (std::int64_t y = 0; y < height; ++y) {
        std::fill(sum.begin(), sum.end(), 0);
        std::fill(count.begin(), count.end(), 0);
        const std::int64_t y0 = y * s.height / height, y1 = (y + 1) * s.height / height;
        for (std::int64_t sy = y0; sy < std::max(y1, y0 + 1); ++sy) {
            const std::uint8_t* row = s.row(sy);
            for (std::int64_t sx = 0; sx < s.width; ++sx) {
                const std::size_t x = std::size_t(sx * width / s.width);
                for (int c = 0; c < n; ++c)
                    sum[x * std::size_t(n) + std::size_t(c)] += row[sx * n + c];
                ++count[x];
            }
        }
        std::uint8_t* out = d.row(y);
        for (std::int64_t x = 0; x < width; ++x)
            for (int c = 0; c < n; ++c)
                out[x * n + c] =
                    std::uint8_t((sum[std::size_t(x * n + c)] + count[std::size_t(x)] / 2) /
                                 std::max<std::uint32_t>(1, count[std::size_t(x)]));
    }
    return d;
}

void ImagesToPDFJob::SetImagesToPDFOptions(const ImagesToPDFOptions& o) {
    jobList = o.jobList;
    outputURL = o.outputURL;
    SetPageLayout(o.orientation, o.pageImageFormat, o.colorMode, o.pageSizeMode, o.scalePercent,
                  o.maximumResolution, o.writeOptions, double(o.pageWidth), double(o.pageHeight),
                  o.leftMargin, o.rightMargin, o.topMargin, o.bottomMargin, o.quality);
    jobList = o.jobList;
    outputURL = o.outputURL;
}

void ImagesToPDFJob::SetPageLayout(std::int64_t orientation, std::int32_t imageFormat,
                                   std::int32_t colorMode, std::int32_t sizeMode,
                                   std::int64_t scale, std::int64_t maxResolution,
                                   const PDFWriteOptions* options, double width, double height,
                                   double left, double right, double top, double bottom,
                                   double quality) {
    auto length = [](double v) { return std::isfinite(v) && v > 0 ? v : 0.0; };
    auto whole = [&](double v) { return std::uint64_t(std::min(length(v), 1e9)); };
    pageOrientation = orientation;
    pageImageFormat = imageFormat;
    pageColorMode = colorMode;
    pageSizeMode = sizeMode;
    scalePercent = scale;
    maximumResolution = maxResolution;
    writeOptions = options;
    pageWidth = whole(width);
    pageHeight = whole(height);
    leftMargin = length(left);
    rightMargin = length(right);
    topMargin = length(top);
    bottomMargin = length(bottom);
    pageQuality = std::clamp(std::isfinite(quality) ? quality : 0.8, 0.0, 1.0);
    jobList.clear();
    outputURL.clear();
}

bool PDFPageFromImageFile(ImagesToPDFJob& job, const std::filesystem::path& path,
                          MergedPDFDocument& document, std::optional<std::int64_t> angle,
                          std::string& error) {
    double W = 0, H = 0;
    if (job.pageSizeMode != 0) {
        W = double(job.pageWidth);
        H = double(job.pageHeight);
        if (job.pageOrientation == 1)
            std::swap(W, H);
    }
    const int turns = quarterTurnsForAngle(angle);
    if (path.empty()) {
        error = "no image file";
        return false;
    }
    const double AW = W - job.leftMargin - job.rightMargin;
    const double AH = H - job.topMargin - job.bottomMargin;
    if (job.pageSizeMode != 0 && (AW <= 0 || AH <= 0)) {
        error = "the margins leave no room for the image on the paper";
        return false;
    }
    // The head is enough to tell JPEG data and read its header; its samples stay in the file
    // until the PDF is written.
    std::string bytes;
    if (!readFile(path, bytes, error, std::size_t(1) << 18))
        return false;
    JPEGHeader jpeg;
    bool passJPEG = isJPEG(bytes) && readJPEGHeader(bytes, jpeg);
    if (isJPEG(bytes) && !passJPEG) {
        // Large metadata before the frame header: read it all.
        if (!readFile(path, bytes, error))
            return false;
        passJPEG = readJPEGHeader(bytes, jpeg);
    }
    const bool passJPX = !passJPEG && isJPEG2000(bytes);
    // How the stored pixels are to be turned to stand upright. Pictures the job decodes are
    // turned as they are read (LoadInputImage); a JPEG's EXIF says it for its data.
    int orientation =
        passJPEG
            ? std::max(1, readImageOrientation(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                               bytes.size()))
            : 1;
    Bitmap decoded;
    std::int64_t pw = 0, ph = 0;
    double dpiX = 0, dpiY = 0;
    if (passJPEG) {
        pw = jpeg.width;
        ph = jpeg.height;
        dpiX = jpeg.dpiX;
        dpiY = jpeg.dpiY;
    } else {
        ImageConversionJob render;
        if (!render.LoadInputImage(path) || !render.inputImageRep) {
            error = render.lastError.empty() ? "not a readable image" : render.lastError;
            return false;
        }
        decoded = std::move(*render.inputImageRep);
        pw = decoded.width;
        ph = decoded.height;
        dpiX = decoded.dpiX;
        dpiY = decoded.dpiY;
    }
    if (!usable(dpiX) || !usable(dpiY))
        dpiX = dpiY = 72;
    // The stored picture's sides are exchanged on the page by its orientation and the turns.
    bool sideways = (orientation >= 5) != (turns % 2 == 1);
    // Pixel size and resolution as the picture stands on the page.
    const double rw = double(sideways ? ph : pw), rh = double(sideways ? pw : ph);
    const double rdx = sideways ? dpiY : dpiX, rdy = sideways ? dpiX : dpiY;

    double scale = job.scalePercent > 0 ? double(job.scalePercent) : 100.0;
    double fixedResolution = 0;
    if (job.maximumResolution > 0) {
        const double RX = job.pageSizeMode == 1 ? rw / AW * 72.0 : rdx;
        const double RY = job.pageSizeMode == 1 ? rh / AH * 72.0 : rdy;
        const double M = double(job.maximumResolution);
        if (RX > M || RY > M) {
            scale = 100.0 * M / std::max(RX, RY);
            fixedResolution = M;
        }
    }
    // Images are never enlarged.
    scale = std::min(scale, 100.0);
    auto scaled = [&](std::int64_t side) {
        return std::max<std::int64_t>(1, std::llround(double(side) * scale / 100.0));
    };
    std::int64_t nw = scaled(pw), nh = scaled(ph);
    const bool resample = nw != pw || nh != ph;
    const bool recolor = job.pageColorMode != kColorModeSource;

    QPDF& pdf = document.pdf();
    QPDFObjectHandle image;
    double outDX = dpiX, outDY = dpiY;
    if (fixedResolution > 0) {
        outDX = outDY = fixedResolution;
    }
    if (passJPEG && !resample && !recolor) {
        image = encodedImage(pdf, {}, nullptr, pw, ph, jpeg.components,
                             jpeg.components == 4 && jpeg.adobe, jpeg.iccProfile);
        document.setStreamDataFromFile(image, path, QPDFObjectHandle::newName("/DCTDecode"));
    } else if (passJPX && !resample && !recolor) {
        image = encodedImage(pdf, {}, nullptr, pw, ph, 0, false, {});
        document.setStreamDataFromFile(image, path, QPDFObjectHandle::newName("/JPXDecode"));
    } else {
        if (passJPEG) {
            if (bytes.size() == std::size_t(1) << 18 && !readFile(path, bytes, error))
                return false;
            std::string decodeError;
            if (!decodeJPEGBitmap(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                  decoded, decodeError)) {
                error = decodeError;
                return false;
            }
            // Samples the job writes itself stand upright, as every other decoded picture.
            if (applyOrientation(decoded, orientation) && orientation >= 5) {
                std::swap(nw, nh);
                std::swap(dpiX, dpiY);
                std::swap(outDX, outDY);
            }
            orientation = 1;
            sideways = turns % 2 == 1;
        }
        if (resample)
            decoded = downsampleBitmap(decoded, nw, nh);
        if (decoded.empty()) {
            error = "the image could not be resampled";
            return false;
        }
        decoded = inColorMode(decoded, job.pageColorMode);
        if (job.pageImageFormat == kFormatJPEG) {
            std::vector<std::uint8_t> out;
            if (!encodeJPEGBitmap(decoded, int(job.pageQuality * 100), 0, 0, out, error))
                return false;
            image =
                encodedImage(pdf, std::string(out.begin(), out.end()), "/DCTDecode", decoded.width,
                             decoded.height, decoded.colorChannels(), false, decoded.iccProfile);
        } else {
            image = losslessImage(pdf, decoded);
        }
        if (fixedResolution <= 0) {
            // The page keeps the size in points of the scaled picture at the source resolution.
            outDX = dpiX;
            outDY = dpiY;
        }
    }
    // Size in points of the picture as stored (u) and as it stands on the page (i).
    double uw = double(nw) * 72.0 / outDX, uh = double(nh) * 72.0 / outDY;
    double iw = sideways ? uh : uw, ih = sideways ? uw : uh;
    double pageW = iw, pageH = ih, x = 0, y = 0;
    if (job.pageSizeMode != 0) {
        if (iw > AW || ih > AH) {
            const double fit = std::min(AW / iw, AH / ih);
            iw *= fit;
            ih *= fit;
        }
        pageW = W;
        pageH = H;
        x = job.leftMargin + (AW - iw) / 2;
        y = job.bottomMargin + (AH - ih) / 2;
    }
    const std::array<double, 6> m = imagePlacement(orientation, turns, x, y, iw, ih);
    const std::string content = "q " + number(m[0]) + " " + number(m[1]) + " " + number(m[2]) +
                                " " + number(m[3]) + " " + number(m[4]) + " " + number(m[5]) +
                                " cm /Im0 Do Q\n";
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    QPDFObjectHandle box = QPDFObjectHandle::newArray();
    box.appendItem(QPDFObjectHandle::newInteger(0));
    box.appendItem(QPDFObjectHandle::newInteger(0));
    box.appendItem(QPDFObjectHandle::newReal(pageW, 4));
    box.appendItem(QPDFObjectHandle::newReal(pageH, 4));
    page.replaceKey("/MediaBox", box);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    document.appendPage(pdf.makeIndirectObject(page));
    return true;
}

namespace {

std::filesystem::path uniquePDFIn(const std::filesystem::path& folder,
                                  const std::filesystem::path& input) {
    const QUrl url = GetUniqueURLForFileInFolder(
        QUrl::fromLocalFile(QString::fromStdString(folder.string())),
        QUrl::fromLocalFile(QString::fromStdString(input.string())), "pdf", false);
    return url.isValid() ? std::filesystem::path(url.toLocalFile().toStdString())
                         : std::filesystem::path();
}

} // namespace

std::filesystem::path uniquePDFPathFor(const std::filesystem::path& folder,
                                       const std::filesystem::path& input) {
    return uniquePDFIn(folder, input);
}

bool ImagesToPDFJob::ConvertImagesSeparately() {
    std::error_code ec;
    if (!jobList.empty() && !std::filesystem::is_directory(outputURL, ec)) {
        ConversionLogf("images-to-pdf: %s is no folder to write into\n", outputURL.c_str());
        return false;
    }
    // Every image is tried; the run succeeds only when every one was written.
    std::size_t failed = 0;
    for (const ImageToPDFItem& item : jobList) {
        ReportConversionProgress(target, selector, 3);
        MergedPDFDocument document;
        std::string error;
        bool written = PDFPageFromImageFile(*this, item.filePath, document, item.angle, error);
        if (written) {
            const std::filesystem::path output = uniquePDFIn(outputURL, item.filePath);
            written = !output.empty() && document.write(output, writeOptions, error);
        }
        if (!written) {
            ++failed;
            NoteFailedItem(item.filePath);
            ConversionLogf("images-to-pdf: %s: %s\n", item.filePath.c_str(), error.c_str());
        }
        if (IsConversionCancelled(target))
            return false;
    }
    return failed == 0;
}

bool ImagesToPDFJob::MergeImagesIntoPDF() {
    MergedPDFDocument document;
    // The pages that could be made are written; the run succeeds only when none failed.
    std::size_t failed = 0;
    for (const ImageToPDFItem& item : jobList) {
        ReportConversionProgress(target, selector, 3);
        std::string error;
        if (!PDFPageFromImageFile(*this, item.filePath, document, item.angle, error)) {
            ++failed;
            NoteFailedItem(item.filePath);
            ConversionLogf("images-to-pdf: %s: %s\n", item.filePath.c_str(), error.c_str());
        }
        if (IsConversionCancelled(target))
            return false;
    }
    if (document.pageCount() == 0)
        return failed == 0;
    ReportConversionProgress(target, selector, 6);
    std::string error;
    const bool written = document.write(outputURL, writeOptions, error);
    if (!written)
        ConversionLogf("images-to-pdf: %s: %s\n", outputURL.c_str(), error.c_str());
    ReportConversionProgress(target, selector, 7);
    return written && failed == 0;
}

} // namespace conversion
