// The text watermark's line laid out with Pango over cairo: the font the user named (looked up by
// its PostScript name) or the default sans-serif face first, and for each character it lacks a
// font that has it, so CJK or any other script draws as glyphs rather than empty boxes.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>
#include <string>

namespace conversion {

struct LayoutRelease {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
using WatermarkLayout = std::unique_ptr<PangoLayout, LayoutRelease>;

// One line (line breaks are shown, not followed) at `size` user units of `context`, whose
// current transformation it is made for. Null when Pango finds no font at all.
WatermarkLayout createWatermarkLayout(cairo_t* context, const std::string& text,
                                      const std::string& postScriptName, double size);

// Adds the outlines of the layout's glyphs to the current path, the baseline starting at the
// user-space origin; each character after the first moves `spacing` further along the line.
void appendWatermarkTextPath(cairo_t* context, PangoLayout* layout, double spacing);

} // namespace conversion
