// The user's watermarks drawn on a finished, upright render: the picture first, the text over
// it. Boxes are given on a reference area and placed on the output by the edge (or centre) they
// were nearest to; sizes grow with k = max(width, height) / 550.
#pragma once

#include <cairo.h>

namespace conversion {

class ImageConversionJob;

struct WatermarkOrigin {
    double x = 0;
    double y = 0;
};

// Where the box (x0, y0)-(x1, y1) of the reference area goes on a target of the given size, its
// own extent growing by kx and ky. Coordinates have their origin at the lower left.
WatermarkOrigin ComputeWatermarkOrigin(double x0, double y0, double x1, double y1,
                                       double targetWidth, double targetHeight,
                                       double referenceWidth, double referenceHeight, double kx,
                                       double ky);

// The scale of sizes given on the reference area, for an output of the size.
float watermarkScale(unsigned width, unsigned height);

// Both draw on `context` (device space, y downwards, `width` x `height` pixels) and leave its
// state as they found it. A watermark without a usable reference size, picture or font draws
// nothing.
void DrawImageWatermark(ImageConversionJob& job, cairo_t* context, unsigned width, unsigned height);
void DrawTextWatermark(ImageConversionJob& job, cairo_t* context, unsigned width, unsigned height);

} // namespace conversion
