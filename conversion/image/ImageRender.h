// Rendering the loaded input image at a requested size, orientation and colour model, with the
// watermarks on it and optional sharpening, then writing it (or keeping it in memory).
#pragma once

#include "Bitmap.h"
#include "ConversionEntries.h"

#include <cstdint>

namespace conversion {

class ImageConversionJob;

// x' = a x + c y + tx, y' = b x + d y + ty, in coordinates whose y grows upwards.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const AffineTransform&) const = default;
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
};

double PointsFromUnit(std::int32_t unit, double value);
double InchesFromUnit(std::int32_t unit, double value);

// The degrees taken modulo 360 into [0, 360).
std::int64_t NormalizedDegrees(std::int64_t degrees);
// True when the rotation is an odd number of quarter turns (the output's sides exchange).
bool isQuarterTurn(std::int64_t degrees);

// The transform that draws a W x H image turned counter-clockwise by `degrees` (quarter turns;
// other angles do not turn) and mirrored by the flip bits, onto the bitmap of the turned size.
AffineTransform CreateOrientationTransform(std::uint64_t width, std::uint64_t height,
                                           std::int32_t flips, std::int64_t degrees);

bool RenderImage(ImageConversionJob& job, RenderSize size);
bool RenderByPercent(ImageConversionJob& job, RenderSize* size);
bool FitAndRender(ImageConversionJob& job, std::int32_t unit, RenderSize* size, float targetWidth,
                  float targetHeight);

// The largest DCT reduction of a JPEG (8, 4, 2, else 1) that keeps a width x height picture at
// or above the size it is to be drawn at (scale: target pixels per source pixel, each side).
int JPEGReductionFor(double width, double height, double scaleX, double scaleY);

// Draws `image` into `where` (W x H before turning) on a new bitmap in the job's colour model,
// turned and flipped by the job, with its watermarks and the recorded resolution, and writes it.
bool DrawImageIntoBitmap(ImageConversionJob& job, const Bitmap& image, std::uint64_t width,
                         std::uint64_t height, bool sharpen, Rect where);

// The alpha that `image` leaves on a width x height bitmap when drawn into `where` under the
// transform: one sample a pixel, 255 fully covered, 0 untouched.
bool CreateAlphaMask(const Bitmap& image, std::uint64_t width, std::uint64_t height,
                     const AffineTransform& transform, Rect where, Bitmap& mask);

} // namespace conversion
