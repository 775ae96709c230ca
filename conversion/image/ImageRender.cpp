#include "ImageRender.h"

#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "RenderSurface.h"
#include "Resample.h"
#include "Watermark.h"

#include <algorithm>
#include <cmath>

namespace conversion {

namespace {

// The eight transforms by number, for an image of width W and height H.
AffineTransform transformNumber(int n, double W, double H) {
    switch (n) {
    case 1:
        return {-1, 0, 0, 1, W, 0}; // mirrored left to right
    case 2:
        return {-1, 0, 0, -1, W, H}; // half turn
    case 3:
        return {1, 0, 0, -1, 0, H}; // mirrored top to bottom
    case 4:
        return {0, -1, -1, 0, H, W}; // mirrored across the other diagonal
    case 5:
        return {0, -1, 1, 0, 0, W}; // quarter turn clockwise
    case 6:
        return {0, 1, 1, 0, 0, 0}; // mirrored across the diagonal
    case 7:
        return {0, 1, -1, 0, H, 0}; // quarter turn counter-clockwise
    default:
        return {};
    }
}

bool hasRotationOrFlip(const ImageConversionJob& job) {
    const std::int64_t d = NormalizedDegrees(job.rotationDegrees);
    return (job.flipFlags & 3) != 0 || (d != 0 && d % 90 == 0);
}

// A size computed from options as an unsigned pixel count; negatives and NaN become 0 (which the
// drawing refuses) and huge values saturate (which the size cap refuses).
std::int64_t pixelsOf(double v) {
    if (!(v > 0))
        return 0;
    return v >= 9.0e15 ? std::int64_t(9.0e15) : std::int64_t(v);
}

std::int64_t roundedPixels(float v) {
    return pixelsOf(double(std::nearbyintf(v)));
}

} // namespace

double PointsFromUnit(std::int32_t unit, double value) {
    switch (unit) {
    case kLengthMillimetres:
        return value / 25.4 * 72;
    case kLengthCentimetres:
        return value / 2.54 * 72;
    default:
        return value * 72;
    }
}

double InchesFromUnit(std::int32_t unit, double value) {
    switch (unit) {
    case kLengthMillimetres:
        return value * 0.03937007859349251;
    case kLengthCentimetres:
        return value * 0.3937007784843445;
    default:
        return value / 72;
    }
}

std::int64_t NormalizedDegrees(std::int64_t degrees) {
    const std::int64_t d = degrees % 360;
    return d < 0 ? d + 360 : d;
}

bool isQuarterTurn(std::int64_t degrees) {
    const std::int64_t d = NormalizedDegrees(degrees);
    return d == 90 || d == 270;
}

AffineTransform CreateOrientationTransform(std::uint64_t width, std::uint64_t height,
                                           std::int32_t flips, std::int64_t degrees) {
    const double W = double(width), H = double(height);
    std::int64_t d = NormalizedDegrees(degrees);
    bool hFlip = (flips & kFlipHorizontal) != 0;
    bool vFlip = (flips & kFlipVertical) != 0;
    if (hFlip && vFlip) { // both mirrors are a half turn
        d = d + 180 < 360 ? d + 180 : d - 180;
        hFlip = vFlip = false;
    }
    if (d == 180)
        return transformNumber(hFlip ? 3 : vFlip ? 1 : 2, W, H);
    if (d == 90)
        return transformNumber(hFlip ? 6 : vFlip ? 4 : 7, W, H);
    if (d == 270)
        return transformNumber(hFlip ? 4 : vFlip ? 6 : 5, W, H);
    return transformNumber(hFlip ? 1 : vFlip ? 3 : 0, W, H);
}

bool RenderImage(ImageConversionJob& job, RenderSize size) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.width < 0 ||
        size.height < 0) {
        job.lastError = "the target size is not a usable size";
        return false;
    }
    if (size.unit == kLengthPercent)
        return RenderByPercent(job, &size);
    if (size.unit != kLengthPixels && size.unit != kLengthPoints) {
        size.width = PointsFromUnit(size.unit, size.width);
        size.height = PointsFromUnit(size.unit, size.height);
    }
    return FitAndRender(job, size.unit, &size, float(size.width), float(size.height));
}

bool RenderByPercent(ImageConversionJob& job, RenderSize* size) {
    const float p = float(size->width), q = float(size->height);
    const double pw = job.GetPixelsWide(), ph = job.GetPixelsHigh();
    const double sw = job.GetImageWidth(), sh = job.GetImageHeight();
    const float rx = sw > 0 ? float(pw / sw) : 0, ry = sh > 0 ? float(ph / sh) : 0;
    float tw = float(sw * double(rx * p / 100)), th = float(sh * double(ry * q / 100));
    if (size->keepAspectRatio) {
        if (q == 0 && p > 0) {
            th = 0;
        } else if (p == 0 && q > 0) {
            tw = 0;
        } else {
            // The pixel size itself, which the fit keeps as it is.
            tw = float(pw);
            th = float(ph);
        }
    }
    return FitAndRender(job, kLengthPixels, size, tw, th);
}

bool FitAndRender(ImageConversionJob& job, std::int32_t unit, RenderSize* size, float tw,
                  float th) {
    // A planning run has the picture's size without its pixels.
    if (!job.inputImageRep ||
        (job.planOnly ? job.inputImageRep->width <= 0 || job.inputImageRep->height <= 0
                      : job.inputImageRep->empty())) {
        job.lastError = "there is no image to draw";
        return false;
    }
    const Bitmap& source = *job.inputImageRep;
    const double pw = job.GetPixelsWide(), ph = job.GetPixelsHigh();
    const double sw = job.GetImageWidth(), sh = job.GetImageHeight();
    if (size->dpi > 0) {
        job.resolutionX = job.resolutionY = float(size->dpi);
    } else {
        job.resolutionX = float(pw / (sw / 72));
        job.resolutionY = float(ph / (sh / 72));
    }
    const bool widthOnly = tw > 0 && th == 0;
    const bool heightOnly = tw == 0 && th > 0;
    const bool enlarging = double(tw) > pw || double(th) > ph;
    const float sxPix = tw / float(pw), syPix = th / float(ph);
    const double sxPt = double(tw) / sw, syPt = double(th) / sh;

    if (!size->resample) {
        if (heightOnly) {
            const float v = float(ph / (double(th) / 72));
            job.resolutionX = job.resolutionX * v / job.resolutionY;
            job.resolutionY = v;
        } else if (tw > 0) {
            const float u = float(pw / (double(tw) / 72));
            job.resolutionY = job.resolutionY * u / job.resolutionX;
            job.resolutionX = u;
        } // with neither given the resolution stays the source's
        // Anything that changes the pixels is drawn; otherwise the source goes out as it is.
        if (job.hasTextWatermark || job.hasImageWatermark || job.outputFormat == kFormatCMYKTIFF ||
            job.colorMode != 0 || hasRotationOrFlip(job))
            return DrawImageIntoBitmap(job, source, std::uint64_t(pw), std::uint64_t(ph), false,
                                       {0, 0, pw, ph});
        if (job.outputFormat == 0)
            job.outputFormat = ImageFormatOfURL(job.inputURL);
        return job.WriteImage(source);
    }

    std::int64_t w = 0, h = 0;
    bool canvas = false;
    if (unit == kLengthPixels) {
        if (size->keepAspectRatio) {
            float s = 0;
            if (size->fitMode == 2)
                s = std::nearbyintf(float(ph) * sxPix) <= th ? sxPix : syPix;
            else if (widthOnly)
                s = sxPix;
            else if (heightOnly)
                s = syPix;
            if (s == 0) {
                job.lastError = "keeping the aspect ratio takes a width or a height, not both "
                                "(unless the image is fitted inside them)";
                return false;
            }
            w = roundedPixels(float(pw) * s);
            h = roundedPixels(s * float(ph));
            canvas = size->fitMode == 3;
        } else if (size->fitMode == 3) {
            w = double(tw) > pw ? std::int64_t(pw) : pixelsOf(tw);
            h = double(th) > ph ? std::int64_t(ph) : pixelsOf(th);
            canvas = true;
        } else {
            if (!size->allowEnlarging && enlarging) {
                w = std::int64_t(pw);
                h = std::int64_t(ph);
            } else {
                w = pixelsOf(tw);
                h = pixelsOf(th);
            }
            return DrawImageIntoBitmap(job, source, std::uint64_t(w), std::uint64_t(h),
                                       size->sharpen, {0, 0, double(w), double(h)});
        }
    } else {
        const double rx = job.resolutionX, ry = job.resolutionY;
        if (size->keepAspectRatio) {
            double f = 0;
            if (size->fitMode == 2)
                f = std::nearbyintf(float(ry * sh * sxPt / 72)) <= th ? sxPt : syPt;
            else if (widthOnly)
                f = sxPt;
            else if (heightOnly)
                f = syPt;
            if (f == 0) {
                job.lastError = "keeping the aspect ratio takes a width or a height, not both "
                                "(unless the image is fitted inside them)";
                return false;
            }
            w = roundedPixels(float(rx * sw * f / 72));
            h = roundedPixels(float(ry * sh * f / 72));
        } else {
            w = pixelsOf(double(tw) / 72 * rx);
            h = pixelsOf(double(th) / 72 * ry);
        }
        if (size->fitMode == 3) {
            w = std::min(w, std::int64_t(pw));
            h = std::min(h, std::int64_t(ph));
        }
        canvas = size->fitMode == 3;
    }
    if (!canvas && !size->allowEnlarging && (double(w) > pw || double(h) > ph)) {
        w = std::int64_t(pw);
        h = std::int64_t(ph);
    }
    if (canvas) {
        if (!size->allowEnlarging && (double(w) > pw || double(h) > ph)) {
            w = std::int64_t(pw);
            h = std::int64_t(ph);
        }
        // The source at its own pixel size, centred on the canvas and cut to it.
        const double dx = std::nearbyintf(float((pw - double(w)) * 0.5));
        const double dy = std::nearbyintf(float((ph - double(h)) * 0.5));
        return DrawImageIntoBitmap(job, source, std::uint64_t(w), std::uint64_t(h), size->sharpen,
                                   {-dx, -dy, pw, ph});
    }
    return DrawImageIntoBitmap(job, source, std::uint64_t(w), std::uint64_t(h), size->sharpen,
                               {0, 0, double(w), double(h)});
}

namespace {

// Draws the image upright into `where` (y upwards) under the context's current matrix.
void drawImageInto(cairo_t* cr, cairo_surface_t* image, const Bitmap& bitmap, Rect where) {
    cairo_save(cr);
    cairo_rectangle(cr, where.x, where.y, where.width, where.height);
    cairo_clip(cr);
    cairo_set_source_surface(cr, image, 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    // User space to the image's pixels: the image's first row at the top of the rectangle.
    cairo_matrix_t m;
    const double sx = double(bitmap.width) / where.width;
    const double sy = double(bitmap.height) / where.height;
    cairo_matrix_init(&m, sx, 0, 0, -sy, -where.x * sx, (where.y + where.height) * sy);
    cairo_pattern_set_matrix(pattern, &m);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);
}

// The device's rows run downwards; the transforms and rectangles here have y upwards.
void setUpwardMatrix(cairo_t* cr, std::uint64_t bitmapHeight, const AffineTransform& t) {
    cairo_identity_matrix(cr);
    cairo_translate(cr, 0, double(bitmapHeight));
    cairo_scale(cr, 1, -1);
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(cr, &m);
}

} // namespace

bool CreateAlphaMask(const Bitmap& image, std::uint64_t width, std::uint64_t height,
                     const AffineTransform& transform, Rect where, Bitmap& mask) {
    std::string error;
    SurfacePtr source = surfaceFromBitmap(image, &error);
    SurfacePtr target = createARGBSurface(std::int64_t(width), std::int64_t(height), &error);
    if (!source || !target)
        return false;
    ContextPtr cr(cairo_create(target.get()));
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_GOOD);
    setUpwardMatrix(cr.get(), height, transform);
    drawImageInto(cr.get(), source.get(), image, where);
    cr.reset();
    cairo_surface_flush(target.get());
    if (!mask.allocate(std::int64_t(width), std::int64_t(height), ColorModel::Gray, false, &error))
        return false;
    const unsigned char* data = cairo_image_surface_get_data(target.get());
    const int stride = cairo_image_surface_get_stride(target.get());
    for (std::uint64_t y = 0; y < height; ++y) {
        const auto* s = reinterpret_cast<const std::uint32_t*>(data + y * std::uint64_t(stride));
        std::uint8_t* d = mask.row(std::int64_t(y));
        for (std::uint64_t x = 0; x < width; ++x)
            d[x] = std::uint8_t(s[x] >> 24);
    }
    return true;
}

int JPEGReductionFor(double width, double height, double scaleX, double scaleY) {
    for (int d : {8, 4, 2}) {
        if (std::ceil(width / d) >= std::ceil(width * scaleX - 1e-9) &&
            std::ceil(height / d) >= std::ceil(height * scaleY - 1e-9))
            return d;
    }
    return 1;
}

bool DrawImageIntoBitmap(ImageConversionJob& job, const Bitmap& image, std::uint64_t width,
                         std::uint64_t height, bool sharpen, Rect where) {
    if (width == 0 || height == 0 || where.width <= 0 || where.height <= 0) {
        job.lastError = "the requested size comes to no pixels";
        return false;
    }
    if (job.planOnly) {
        job.plannedScaleX = where.width / job.GetPixelsWide();
        job.plannedScaleY = where.height / job.GetPixelsHigh();
        return true;
    }
    const bool turned = isQuarterTurn(job.rotationDegrees);
    if (turned)
        std::swap(job.resolutionX, job.resolutionY);
    const std::uint64_t bw = turned ? height : width;
    const std::uint64_t bh = turned ? width : height;
    ColorModel model = image.model;
    if (job.outputFormat == kFormatCMYKTIFF || job.colorMode == kColorModeCMYK)
        model = ColorModel::CMYK;
    else if (job.colorMode == kColorModeRGB)
        model = ColorModel::RGB;
    else if (job.colorMode == kColorModeGray)
        model = ColorModel::Gray;
    if (job.outputFormat == 0)
        job.outputFormat = ImageFormatOfURL(job.inputURL);
    bool maskAlpha = false;
    if (image.hasAlpha && model == ColorModel::CMYK) {
        if (job.outputFormat == kFormatTIFF || job.outputFormat == kFormatCMYKTIFF) {
            maskAlpha = true;
        } else {
            model = ColorModel::RGB;
            job.colorMode = kColorModeRGB;
        }
    }
    // The resolution recorded with the output, which the size alone decides.
    const auto settleResolution = [&] {
        if (job.fixedResolution > 0) {
            job.resolutionX = job.resolutionY = job.fixedResolution;
        } else if (job.maxPrintWidth > 0 && job.maxPrintHeight > 0) {
            double w = double(bw), h = double(bh);
            if (job.orientation >= 5)
                std::swap(w, h);
            if (w > job.maxPrintWidth || h > job.maxPrintHeight)
                job.resolutionX = job.resolutionY =
                    float(72 * std::max(w / job.maxPrintWidth, h / job.maxPrintHeight));
        }
    };
    Bitmap result;
    const AffineTransform t =
        CreateOrientationTransform(width, height, job.flipFlags, job.rotationDegrees);
    // A plain reduction of an opaque picture in its own model, with nothing drawn on it, is
    // resampled directly (on every core) rather than through an ARGB copy of the source.
    if (t == AffineTransform{} && where.x == 0 && where.y == 0 && where.width == double(width) &&
        where.height == double(height) && !job.hasImageWatermark && !job.hasTextWatermark &&
        !sharpen && !image.hasAlpha && model == image.model &&
        (model == ColorModel::RGB || model == ColorModel::Gray) &&
        std::int64_t(width) <= image.width && std::int64_t(height) <= image.height) {
        if (!reduceBitmap(image, std::int64_t(width), std::int64_t(height), 0, result,
                          &job.lastError))
            return false;
        // As the drawn path, which leaves RGB and grey without a profile.
        result.iccProfile.clear();
        settleResolution();
        result.dpiX = job.resolutionX;
        result.dpiY = job.resolutionY;
        return job.WriteImage(result);
    }
    SurfacePtr target = createARGBSurface(std::int64_t(bw), std::int64_t(bh), &job.lastError);
    if (!target)
        return false;
    SurfacePtr source = surfaceFromBitmap(image, &job.lastError);
    if (!source)
        return false;
    Bitmap mask;
    if (maskAlpha && !CreateAlphaMask(image, bw, bh, t, where, mask)) {
        job.lastError = "not enough memory for the picture's transparency";
        return false;
    }
    {
        ContextPtr cr(cairo_create(target.get()));
        cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_GOOD);
        setUpwardMatrix(cr.get(), bh, t);
        drawImageInto(cr.get(), source.get(), image, where);
        source.reset();
        // The watermarks go on the upright bitmap.
        cairo_identity_matrix(cr.get());
        if (job.hasImageWatermark)
            DrawImageWatermark(job, cr.get(), unsigned(bw), unsigned(bh));
        if (job.hasTextWatermark)
            DrawTextWatermark(job, cr.get(), unsigned(bw), unsigned(bh));
    }
    settleResolution();
    if (sharpen)
        sharpenLuminance(target.get());
    // Colours stay as drawn (not composited onto white) where the picture is see-through.
    const bool keepAlpha = model == ColorModel::RGB || maskAlpha;
    if (!bitmapFromSurface(target.get(), model, keepAlpha, result, &job.lastError))
        return false;
    target.reset();
    if (maskAlpha) {
        // The mask's coverage is the picture's alpha, as the file keeps it.
        Bitmap withAlpha;
        if (!withAlpha.allocate(result.width, result.height, result.model, true, &job.lastError))
            return false;
        withAlpha.iccProfile = std::move(result.iccProfile);
        const int channels = result.channels();
        for (std::int64_t y = 0; y < result.height; ++y) {
            const std::uint8_t* s = result.row(y);
            const std::uint8_t* a = mask.row(y);
            std::uint8_t* d = withAlpha.row(y);
            for (std::int64_t x = 0; x < result.width; ++x) {
                std::copy(s + x * channels, s + x * channels + 4, d + x * 5);
                d[x * 5 + 4] = a[x];
            }
        }
        result = std::move(withAlpha);
    }
    result.dpiX = job.resolutionX;
    result.dpiY = job.resolutionY;
    return job.WriteImage(result);
}

} // namespace conversion
