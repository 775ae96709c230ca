// Watermarks drawn on white renders and measured by their ink.
#include "Watermark.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "ImageRender.h"
#include "RenderTestSupport.h"
#include "WatermarkText.h"

#include <array>
#include <gtest/gtest.h>

using namespace conversion;
using imagetest::Pixels;

namespace {

Bitmap white(std::int64_t w, std::int64_t h) {
    return rendertest::makeBitmap(w, h, false, [](std::int64_t, std::int64_t) {
        return std::array<int, 4>{255, 255, 255, 255};
    });
}

WatermarkSettings textMark(const std::string& text, double x0, double y0, double x1, double y1,
                           std::int64_t size) {
    WatermarkSettings w;
    w.text = text;
    w.textX0 = x0;
    w.textY0 = y0;
    w.textX1 = x1;
    w.textY1 = y1;
    w.referenceWidth = w.referenceHeight = 550;
    w.fontSize = size;
    w.textColor = WatermarkColor{0, 0, 0, 1};
    return w;
}

Pixels renderWith(std::int64_t w, std::int64_t h, const WatermarkSettings& mark, bool text,
                  bool* ok = nullptr) {
    const rendertest::Rendered r = rendertest::render(
        white(w, h), rendertest::pixels(double(w), double(h), false),
        [&](ImageConversionJob& job) { job.SetWatermark(mark, text); }, kFormatPNG);
    if (ok)
        *ok = r.ok;
    EXPECT_TRUE(r.ok) << r.error;
    return r.pixels;
}

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
    bool empty() const { return right < 0; }
};

// The pixels darker than `below` on any channel.
Box inked(const Pixels& p, int below = 200) {
    Box b;
    for (std::size_t y = 0; y < p.height; ++y)
        for (std::size_t x = 0; x < p.width; ++x) {
            const std::uint8_t* s = &p.rgba[(y * p.width + x) * 4];
            if (s[0] < below || s[1] < below || s[2] < below) {
                b.left = std::min(b.left, int(x));
                b.right = std::max(b.right, int(x));
                b.top = std::min(b.top, int(y));
                b.bottom = std::max(b.bottom, int(y));
            }
        }
    return b;
}

const std::uint8_t* at(const Pixels& p, int x, int y) {
    return imagetest::at(p, std::size_t(x), std::size_t(y));
}

struct Ink {
    std::size_t pixels = 0;
    int pieces = 0; // connected parts, eight neighbours
};

Ink inkOf(const Pixels& p, int below = 128) {
    Ink ink;
    const int w = int(p.width), h = int(p.height);
    std::vector<char> seen(p.width * p.height, 0);
    auto dark = [&](int x, int y) { return at(p, x, y)[0] < below; };
    std::vector<std::pair<int, int>> stack;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (seen[std::size_t(y * w + x)] || !dark(x, y))
                continue;
            ++ink.pieces;
            stack.push_back({x, y});
            seen[std::size_t(y * w + x)] = 1;
            while (!stack.empty()) {
                const auto [cx, cy] = stack.back();
                stack.pop_back();
                ++ink.pixels;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h ||
                            seen[std::size_t(ny * w + nx)] || !dark(nx, ny))
                            continue;
                        seen[std::size_t(ny * w + nx)] = 1;
                        stack.push_back({nx, ny});
                    }
            }
        }
    return ink;
}

} // namespace

TEST(Watermark, OriginsFollowTheNearestEdgeOrTheCentre) {
    struct Case {
        double x0, y0, x1, y1, tw, th, k, ex, ey;
    } cases[] = {
        // Near the low edges: proportional distance, at (40, 40) on twice the size.
        {20, 20, 220, 60, 1100, 1100, 2, 40, 40},
        // Centred: T / 2 - (b / 2) k.
        {175, 255, 375, 295, 1100, 1100, 2, 550 - 200, 550 - 40},
        // Touching the high edges: touching them on the output.
        {350, 500, 550, 550, 1100, 1100, 2, 1100 - 400, 1100 - 100},
        // As far from the low edge as from the centre: 0.
        {100, 100, 250, 250, 1100, 1100, 2, 0, 0},
        // Another aspect: each axis scaled by its own ratio.
        {20, 20, 120, 60, 2200, 1100, 4, 80, 40},
    };
    for (const Case& c : cases) {
        const WatermarkOrigin o =
            ComputeWatermarkOrigin(c.x0, c.y0, c.x1, c.y1, c.tw, c.th, 550, 550, c.k, c.k);
        EXPECT_DOUBLE_EQ(o.x, c.ex) << c.x0 << "," << c.y0;
        EXPECT_DOUBLE_EQ(o.y, c.ey) << c.x0 << "," << c.y0;
    }
    EXPECT_FLOAT_EQ(watermarkScale(1100, 700), 2.0f);
}

TEST(Watermark, TextGrowsWithTheOutputAndKeepsItsPlace) {
    const WatermarkSettings mark = textMark("Draft", 20, 20, 220, 60, 20);
    const Box small = inked(renderWith(550, 550, mark, true));
    const Box large = inked(renderWith(1100, 1100, mark, true));
    ASSERT_FALSE(small.empty());
    ASSERT_FALSE(large.empty());
    EXPECT_NEAR(large.width(), 2 * small.width(), 4);
    EXPECT_NEAR(large.height(), 2 * small.height(), 4);
    // The baseline starts at the box's low corner, 20 / 550 of the side from the lower left.
    EXPECT_NEAR(small.left, 20, 3);
    EXPECT_NEAR(large.left, 40, 4);
    EXPECT_NEAR(small.bottom, 550 - 20, 2);
    EXPECT_NEAR(large.bottom, 1100 - 40, 3);
}

TEST(Watermark, NinetyDegreesRunsUpwardsFromTheOrigin) {
    WatermarkSettings mark = textMark("Draft", 20, 20, 220, 60, 30);
    const Box level = inked(renderWith(550, 550, mark, true));
    mark.textAngle = 90;
    const Box turned = inked(renderWith(550, 550, mark, true));
    ASSERT_FALSE(turned.empty());
    EXPECT_NEAR(turned.height(), level.width(), 3);
    EXPECT_NEAR(turned.width(), level.height(), 3);
    // Running upwards from (20, 20): its lowest ink is near the origin's row and the glyphs
    // stand to the left of the baseline.
    EXPECT_NEAR(turned.bottom, 550 - 20, 6); // less the first glyph's side bearing
    EXPECT_LE(turned.right, 20 + 2);
}

TEST(Watermark, StrokeModeIsHollowAndFillAndStrokeUsesTheTextColour) {
    WatermarkSettings mark = textMark("H", 100, 100, 300, 300, 200);
    mark.textColor = WatermarkColor{1, 0, 0, 1};
    const Pixels filled = renderWith(550, 550, mark, true);
    // The left stem of the H on the middle row of its ink.
    const Box box = inked(filled);
    ASSERT_FALSE(box.empty());
    const int row = (box.top + box.bottom) / 2 - 30;
    int stemEnd = box.left;
    while (at(filled, stemEnd + 1, row)[1] < 128)
        ++stemEnd;
    const int stemCentre = (box.left + stemEnd) / 2;
    ASSERT_GT(stemEnd - box.left, 8) << "the stem is too thin to look inside";
    EXPECT_LT(at(filled, stemCentre, row)[1], 60);

    mark.textDrawingMode = 1;
    mark.strokeWidth = 2;
    const Pixels outlined = renderWith(550, 550, mark, true);
    EXPECT_GT(at(outlined, stemCentre, row)[1], 200) << "the inside of the stroke is empty";
    EXPECT_LT(at(outlined, box.left + 1, row)[1], 160) << "the outline is drawn";
    EXPECT_GT(at(outlined, box.left + 1, row)[0], 200) << "in the text colour";

    mark.textDrawingMode = 2;
    const Pixels both = renderWith(550, 550, mark, true);
    const std::uint8_t* inside = at(both, stemCentre, row);
    EXPECT_GT(inside[0], 200) << "filled with the text colour, not black";
    EXPECT_LT(inside[1], 60);
}

TEST(Watermark, OpacityAndShadow) {
    WatermarkSettings mark = textMark("H", 100, 100, 300, 300, 200);
    mark.textAlpha = 0.5;
    const Pixels half = renderWith(550, 550, mark, true);
    const Box box = inked(half, 250);
    const int row = (box.top + box.bottom) / 2 - 30;
    EXPECT_NEAR(at(half, box.left + 6, row)[0], 128, 6);

    mark.textAlpha = 1;
    const Box plain = inked(renderWith(550, 550, mark, true), 250);
    mark.hasShadow = true;
    mark.shadowColor = WatermarkColor{0, 0, 1, 1};
    mark.shadowBlur = 4;
    mark.shadowOffsetX = 10;
    mark.shadowOffsetY = -10; // right and down
    const Pixels shadowed = renderWith(550, 550, mark, true);
    const Box withShadow = inked(shadowed, 250);
    EXPECT_GT(withShadow.right, plain.right + 5);
    EXPECT_GT(withShadow.bottom, plain.bottom + 5);
    EXPECT_LE(withShadow.left, plain.left + 1);
    // The shadow is blue where only it falls.
    const std::uint8_t* s = at(shadowed, plain.right + 8, (plain.top + plain.bottom) / 2);
    EXPECT_GT(int(s[2]) - int(s[0]), 40);
}

TEST(Watermark, PictureIsReducedToFiveHundredFiftyThenScaled) {
    const imagetest::fs::path dir = imagetest::freshDir("watermark-picture");
    Magick::Image picture(Magick::Geometry(1200, 600), Magick::Color("red"));
    picture.type(Magick::TrueColorType);
    imagetest::writeWith(picture, "PNG", dir / "mark.png");
    WatermarkSettings mark;
    mark.referenceWidth = mark.referenceHeight = 550;
    mark.imageX0 = 10;
    mark.imageY0 = 10;
    mark.imageX1 = 100;
    mark.imageY1 = 60;
    mark.image = dir / "mark.png";
    mark.imageScale = 0.5;
    mark.imageAlpha = 1;
    const Pixels p = renderWith(550, 550, mark, false);
    const Box box = inked(p);
    EXPECT_NEAR(box.width(), 275, 2);
    EXPECT_NEAR(box.height(), 138, 2);
    EXPECT_NEAR(box.left, 10, 1);
    EXPECT_NEAR(box.bottom, 550 - 10 - 1, 1);

    mark.image = dir / "missing.png";
    bool ok = false;
    EXPECT_TRUE(inked(renderWith(200, 200, mark, false, &ok)).empty());
    EXPECT_TRUE(ok);
}

TEST(Watermark, CharacterSpacingWidensTheLineByItsScaledAmount) {
    WatermarkSettings mark = textMark("Draft", 20, 20, 220, 60, 30);
    const Box plain = inked(renderWith(550, 550, mark, true));
    mark.characterSpacing = 10; // four gaps between five glyphs
    const Box spaced = inked(renderWith(550, 550, mark, true));
    EXPECT_NEAR(spaced.width() - plain.width(), 40, 2);
    const Box spacedLarge = inked(renderWith(1100, 1100, mark, true));
    mark.characterSpacing = 0;
    const Box plainLarge = inked(renderWith(1100, 1100, mark, true));
    EXPECT_NEAR(spacedLarge.width() - plainLarge.width(), 80, 3);
}

TEST(Watermark, EntryDrawsOnlyTheWatermarksAskedForAndNothingWithoutAReferenceArea) {
    const imagetest::fs::path dir = imagetest::freshDir("watermark-entry");
    Magick::Image canvas(Magick::Geometry(300, 200), Magick::Color("white"));
    canvas.type(Magick::TrueColorType);
    imagetest::writeWith(canvas, "PNG", dir / "in.png");
    ImageJobOptions o = imagetest::jobOptions(dir / "in.png", dir / "out.png", 7);
    o.renderSize.unit = kLengthPixels;
    o.renderSize.width = 300;
    o.renderSize.height = 200;
    o.renderSize.resample = true;
    o.watermark = textMark("Draft", 20, 20, 220, 60, 40);
    ASSERT_TRUE(RenderImageFile(&o));
    EXPECT_TRUE(inked(imagetest::readPixels(dir / "out.png")).empty());
    o.applyTextWatermark = true;
    ASSERT_TRUE(RenderImageFile(&o));
    EXPECT_FALSE(inked(imagetest::readPixels(dir / "out.png")).empty());
    // Without a reference area nothing is drawn, and the render succeeds.
    o.watermark.referenceWidth = 0;
    ASSERT_TRUE(RenderImageFile(&o));
    EXPECT_TRUE(inked(imagetest::readPixels(dir / "out.png")).empty());
}

TEST(Watermark, CJKTextWithoutANamedFontIsDrawnWithGlyphsNotEmptyBoxes) {
    // Every character finds a font, though the default face has no CJK glyphs.
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
    cairo_t* cr = cairo_create(surface);
    const WatermarkLayout layout = createWatermarkLayout(cr, "日本語 Test", "", 40);
    ASSERT_TRUE(layout);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(layout.get()), 0);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);

    // Drawn, 日本語 has the strokes of its glyphs: as much ink as with the CJK font named, in
    // many separate pieces (言 alone has five), where empty boxes would be three outlines.
    const WatermarkSettings unnamed = textMark("日本語", 20, 200, 500, 300, 100);
    WatermarkSettings named = unnamed;
    named.font = "NotoSansCJKjp-Regular";
    const Ink fallback = inkOf(renderWith(550, 550, unnamed, true));
    const Ink cjk = inkOf(renderWith(550, 550, named, true));
    ASSERT_GT(cjk.pixels, 0u);
    EXPECT_NEAR(double(fallback.pixels) / double(cjk.pixels), 1.0, 0.15);
    EXPECT_GE(fallback.pieces, 8);
    // And "Test" beside it takes the line on.
    const Box alone = inked(renderWith(550, 550, textMark("日本語", 20, 200, 500, 300, 40), true));
    const Box line =
        inked(renderWith(550, 550, textMark("日本語 Test", 20, 200, 500, 300, 40), true));
    EXPECT_GT(line.width(), alone.width() + 60);
}

TEST(Watermark, NamedFontsAreFoundByTheirPostScriptNames) {
    WatermarkSettings mark = textMark("Draft", 20, 200, 500, 300, 60);
    const Ink regular = inkOf(renderWith(550, 550, mark, true));
    mark.font = "DejaVuSans-Bold";
    const Ink bold = inkOf(renderWith(550, 550, mark, true));
    mark.font = "DejaVuSans";
    const Ink named = inkOf(renderWith(550, 550, mark, true));
    mark.font = "NoSuchFont-Regular";
    const Ink unknown = inkOf(renderWith(550, 550, mark, true));
    EXPECT_GT(double(bold.pixels), 1.3 * double(regular.pixels));
    EXPECT_EQ(named.pixels, regular.pixels) << "the default face is DejaVu Sans";
    EXPECT_EQ(unknown.pixels, regular.pixels) << "an unknown name falls back to the default";
}
