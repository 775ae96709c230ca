// The drawing surface of a render: the project's Bitmap moved into and out of cairo's 32-bit
// premultiplied ARGB, colour models changed through Little CMS with a real CMYK profile, and the
// luminance sharpening applied after a reduction.
#pragma once

#include "Bitmap.h"

#include <cairo.h>
#include <memory>
#include <string>

namespace conversion {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

// A new ARGB32 surface of the size (transparent), or null with a message when the size is over
// the shared cap or cairo cannot make it.
SurfacePtr createARGBSurface(std::int64_t width, std::int64_t height, std::string* error);

// The picture as premultiplied ARGB; grey and CMYK are turned to sRGB (CMYK through the picture's
// own profile, else the default CMYK profile).
SurfacePtr surfaceFromBitmap(const Bitmap& bitmap, std::string* error);

// The surface's pixels in the model; alpha is kept (un-premultiplied) when `keepAlpha` is set and
// some pixel is not opaque, else composited onto white. CMYK carries the profile it was made with.
bool bitmapFromSurface(cairo_surface_t* surface, ColorModel model, bool keepAlpha, Bitmap& out,
                       std::string* error);

// An RGB picture (without alpha) in CMYK through the default CMYK profile, which it then carries.
bool rGBBitmapToCMYK(const Bitmap& rgb, Bitmap& out, std::string* error);

// Raises the contrast of edges in the luminance of the surface, leaving flat areas and colour as
// they are; alpha is not touched.
void sharpenLuminance(cairo_surface_t* surface);

} // namespace conversion
