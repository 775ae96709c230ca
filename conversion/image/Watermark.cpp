#include "Watermark.h"
#include "ConversionLog.h"

#include "ImageConversionJob.h"
#include "RenderSurface.h"
#include "WatermarkText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace conversion {

namespace {

double axisOrigin(double lo, double hi, double reference, double target, double scale) {
    const double r = target / reference;
    const double b = hi - lo;
    const double m = lo + b / 2 - reference / 2;
    const float toLow = std::fabs(float(lo));
    const float toCentre = std::fabs(float(m));
    const float toHigh = std::fabs(float(reference - hi));
    if (toLow < toCentre && toLow < toHigh)
        return lo * r;
    if (toCentre < toLow && toCentre < toHigh)
        return target / 2 + m * r - (b / 2) * scale;
    if (toHigh < toLow && toHigh < toCentre)
        return target - (reference - hi) * r - b * scale;
    return 0;
}

bool usableReference(const WatermarkSettings& w) {
    return std::isfinite(w.referenceWidth) && std::isfinite(w.referenceHeight) &&
           w.referenceWidth > 0 && w.referenceHeight > 0;
}

void setColor(cairo_t* cr, const std::optional<WatermarkColor>& c) {
    if (c)
        cairo_set_source_rgba(cr, c->red, c->green, c->blue, c->alpha);
    else
        cairo_set_source_rgba(cr, 0, 0, 0, 1);
}

// Three box blurs of radius r on an A8 surface: close to a Gaussian of sigma about r.
void blurAlpha(cairo_surface_t* surface, int r) {
    if (r < 1)
        return;
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<int> line(std::size_t(std::max(w, h)));
    auto pass = [&](unsigned char* first, int count, int step) {
        for (int i = 0; i < count; ++i)
            line[std::size_t(i)] = first[std::ptrdiff_t(i) * step];
        int sum = 0;
        for (int i = -r; i <= r; ++i)
            sum += (i >= 0 && i < count) ? line[std::size_t(i)] : 0;
        for (int i = 0; i < count; ++i) {
            first[std::ptrdiff_t(i) * step] = (unsigned char)(sum / (2 * r + 1));
            const int out = i - r, in = i + r + 1;
            sum -= (out >= 0) ? line[std::size_t(out)] : 0;
            sum += (in < count) ? line[std::size_t(in)] : 0;
        }
    };
    for (int round = 0; round < 3; ++round) {
        for (int y = 0; y < h; ++y)
            pass(data + std::ptrdiff_t(y) * stride, w, 1);
        for (int x = 0; x < w; ++x)
            pass(data + x, h, stride);
    }
    cairo_surface_mark_dirty(surface);
}

} // namespace

WatermarkOrigin ComputeWatermarkOrigin(double x0, double y0, double x1, double y1,
                                       double targetWidth, double targetHeight,
                                       double referenceWidth, double referenceHeight, double kx,
                                       double ky) {
    return {axisOrigin(x0, x1, referenceWidth, targetWidth, kx),
            axisOrigin(y0, y1, referenceHeight, targetHeight, ky)};
}

float watermarkScale(unsigned width, unsigned height) {
    return float(std::max(width, height)) / 550.0f;
}

void DrawImageWatermark(ImageConversionJob& job, cairo_t* cr, unsigned width, unsigned height) {
    const WatermarkSettings& w = job.watermark;
    if (!usableReference(w) || !job.watermarkImage || job.watermarkImage->empty())
        return;
    const double k = watermarkScale(width, height);
    const WatermarkOrigin o =
        ComputeWatermarkOrigin(w.imageX0, w.imageY0, w.imageX1, w.imageY1, width, height,
                               w.referenceWidth, w.referenceHeight, k, k);
    const Bitmap& picture = *job.watermarkImage;
    double pw = double(picture.width), ph = double(picture.height);
    if (pw > ph && pw > 550) {
        ph = ph / (pw / 550);
        pw = 550;
    } else if (pw <= ph && ph > 550) {
        pw = pw / (ph / 550);
        ph = 550;
    }
    const double dw = pw * w.imageScale * k, dh = ph * w.imageScale * k;
    if (!(dw > 0 && dh > 0 && std::isfinite(dw) && std::isfinite(dh)))
        return;
    SurfacePtr source = surfaceFromBitmap(picture, nullptr);
    if (!source)
        return;
    cairo_save(cr);
    // The box's low corner is its lower left; the device's rows run downwards.
    const double top = double(height) - o.y - dh;
    cairo_rectangle(cr, o.x, top, dw, dh);
    cairo_clip(cr);
    cairo_translate(cr, o.x, top);
    cairo_scale(cr, dw / double(picture.width), dh / double(picture.height));
    cairo_set_source_surface(cr, source.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint_with_alpha(cr, std::clamp(w.imageAlpha, 0.0, 1.0));
    cairo_restore(cr);
}

void DrawTextWatermark(ImageConversionJob& job, cairo_t* cr, unsigned width, unsigned height) {
    const WatermarkSettings& w = job.watermark;
    if (!usableReference(w) || w.text.empty())
        return;
    const float k = watermarkScale(width, height);
    const WatermarkOrigin o =
        ComputeWatermarkOrigin(w.textX0, w.textY0, w.textX1, w.textY1, width, height,
                               w.referenceWidth, w.referenceHeight, k, k);
    const double size = double(w.fontSize) * k;
    const double lineWidth = double(w.strokeWidth) * k;
    const double blur = double(w.shadowBlur) * k;
    const double spacing = w.characterSpacing * k;
    const double shadowX = std::trunc(double(w.shadowOffsetX) * k);
    const double shadowY = std::trunc(double(w.shadowOffsetY) * k);
    if (!(size > 0 && std::isfinite(size)))
        return;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    // The text starts at the box's low corner, its baseline turned counter-clockwise.
    cairo_translate(cr, o.x, double(height) - o.y);
    cairo_rotate(cr, -double(float(w.textAngle) * 0.017453292f));
    const WatermarkLayout layout = createWatermarkLayout(cr, w.text, w.font, size);
    if (!layout) {
        ConversionLogf("text watermark: no font can be found\n");
        cairo_restore(cr);
        return;
    }

    const std::int32_t mode = w.textDrawingMode;
    const bool fill = mode == 0 || mode == 2 || mode == 4 || mode == 6;
    const bool stroke = mode == 1 || mode == 2 || mode == 5 || mode == 6;
    cairo_push_group(cr);
    cairo_new_path(cr);
    appendWatermarkTextPath(cr, layout.get(), spacing);
    if (fill) {
        setColor(cr, w.textColor);
        cairo_fill_preserve(cr);
    }
    if (stroke && lineWidth > 0) {
        setColor(cr, w.textColor);
        cairo_set_line_width(cr, lineWidth);
        cairo_stroke_preserve(cr);
    }
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    cairo_stroke_extents(cr, &x1, &y1, &x2, &y2);
    cairo_new_path(cr);
    cairo_pattern_t* text = cairo_pop_group(cr);
    const double alpha = std::clamp(w.textAlpha, 0.0, 1.0);

    if (w.hasShadow && w.shadowColor && (fill || stroke)) {
        // The shadow is the text's coverage, blurred, in the shadow colour, offset upwards for
        // a positive y as the box coordinates are.
        double dx[4] = {x1, x2, x1, x2}, dy[4] = {y1, y1, y2, y2};
        double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
        for (int i = 0; i < 4; ++i) {
            cairo_user_to_device(cr, &dx[i], &dy[i]);
            minX = std::min(minX, dx[i]);
            maxX = std::max(maxX, dx[i]);
            minY = std::min(minY, dy[i]);
            maxY = std::max(maxY, dy[i]);
        }
        const int radius = int(std::lround(blur / 2));
        const double margin = 3.0 * radius + 2;
        const double left = std::floor(minX - margin), top = std::floor(minY - margin);
        const double sw = std::ceil(maxX + margin) - left, sh = std::ceil(maxY + margin) - top;
        if (sw > 0 && sh > 0 && sw < 32767 && sh < 32767) {
            cairo_surface_t* coverage =
                cairo_image_surface_create(CAIRO_FORMAT_A8, int(sw), int(sh));
            cairo_t* c = cairo_create(coverage);
            cairo_translate(c, -left, -top);
            cairo_matrix_t m;
            cairo_get_matrix(cr, &m);
            cairo_transform(c, &m);
            cairo_set_source(c, text);
            cairo_paint(c);
            cairo_destroy(c);
            blurAlpha(coverage, radius);
            cairo_save(cr);
            cairo_identity_matrix(cr);
            const WatermarkColor& sc = *w.shadowColor;
            cairo_set_source_rgba(cr, sc.red, sc.green, sc.blue, sc.alpha * alpha);
            cairo_mask_surface(cr, coverage, left + shadowX, top - shadowY);
            cairo_restore(cr);
            cairo_surface_destroy(coverage);
        }
    }
    cairo_set_source(cr, text);
    cairo_paint_with_alpha(cr, alpha);
    cairo_pattern_destroy(text);
    cairo_restore(cr);
}

} // namespace conversion
