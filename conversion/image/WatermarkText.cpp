#include "WatermarkText.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangofc-fontmap.h>

namespace conversion {

namespace {

struct DescriptionRelease {
    void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
using Description = std::unique_ptr<PangoFontDescription, DescriptionRelease>;

// The family and style of the face with the PostScript name, else of the default sans-serif
// face, as fontconfig matches them. Fontconfig offers the face whose name shares the longest
// start with the one asked for; a face of another name is not the one the user chose.
Description describeFont(const std::string& postScriptName) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return Description(pango_font_description_from_string("sans-serif"));
    if (!postScriptName.empty())
        FcPatternAddString(pattern, FC_POSTSCRIPT_NAME,
                           reinterpret_cast<const FcChar8*>(postScriptName.c_str()));
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match)
        return Description(pango_font_description_from_string("sans-serif"));
    FcChar8* found = nullptr;
    const bool named =
        !postScriptName.empty() &&
        FcPatternGetString(match, FC_POSTSCRIPT_NAME, 0, &found) == FcResultMatch && found &&
        FcStrCmpIgnoreCase(found, reinterpret_cast<const FcChar8*>(postScriptName.c_str())) == 0;
    if (!postScriptName.empty() && !named) {
        FcPatternDestroy(match);
        return describeFont({});
    }
    Description description(pango_fc_font_description_from_pattern(match, FALSE));
    FcPatternDestroy(match);
    return description;
}

} // namespace

WatermarkLayout createWatermarkLayout(cairo_t* cr, const std::string& text,
                                      const std::string& postScriptName, double size) {
    WatermarkLayout layout(pango_cairo_create_layout(cr));
    if (!layout)
        return nullptr;
    PangoContext* context = pango_layout_get_context(layout.get());
    // Positions and advances as the outlines have them, unrounded, so that the line grows in
    // proportion to its size.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
    pango_layout_context_changed(layout.get());

    Description description = describeFont(postScriptName);
    if (!description)
        return nullptr;
    pango_font_description_set_absolute_size(description.get(), size * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), description.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.data(), int(text.size()));
    if (pango_layout_get_line_count(layout.get()) < 1)
        return nullptr;
    return layout;
}

void appendWatermarkTextPath(cairo_t* cr, PangoLayout* layout, double spacing) {
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0);
    if (!line)
        return;
    const int extra = int(spacing * PANGO_SCALE);
    int clusters = 0;
    bool first = true;
    int x = 0; // along the line, in Pango units
    for (GSList* item = line->runs; item; item = item->next) {
        const auto* run = static_cast<const PangoGlyphItem*>(item->data);
        PangoGlyphString* glyphs = pango_glyph_string_copy(run->glyphs);
        // The spacing moves every glyph of a cluster by the clusters before it: an accent stays
        // on its letter.
        for (int i = 0; i < glyphs->num_glyphs; ++i) {
            PangoGlyphInfo& glyph = glyphs->glyphs[i];
            if (glyph.attr.is_cluster_start) {
                clusters += first ? 0 : 1;
                first = false;
            }
            glyph.geometry.x_offset += clusters * extra;
        }
        cairo_move_to(cr, double(x) / PANGO_SCALE, 0);
        pango_cairo_glyph_string_path(cr, run->item->analysis.font, glyphs);
        x += pango_glyph_string_get_width(run->glyphs);
        pango_glyph_string_free(glyphs);
    }
}

} // namespace conversion
