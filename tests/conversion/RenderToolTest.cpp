// convtool render and pdf-to-images as a user runs them.
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

using imagetest::shellQuote;
using imagetest::fs::path;

namespace {

struct ToolRun {
    int status = -1;
    std::string output;
};

ToolRun convtool(const std::string& arguments) {
    ToolRun r;
    r.output = imagetest::capture(std::string(LUMENO_CONVTOOL) + " " + arguments + " 2>/dev/null",
                                  &r.status);
    return r;
}

} // namespace

TEST(RenderTool, RenderResizesTurnsAndWatermarks) {
    const path dir = imagetest::freshDir("tool-render");
    imagetest::writeWith(imagetest::gradient(400, 300), "PNG", dir / "in.png");
    const ToolRun r =
        convtool("render " + shellQuote(dir / "in.png") + " " + shellQuote(dir / "out.png") +
                 " --format 7 --width 200 --keep-aspect --rotate 90 --text Draft"
                 " --text-box 20,20,200,60 --font-size 40 --text-color '#000000'");
    ASSERT_EQ(r.status, 0);
    const imagetest::Pixels p = imagetest::readPixels(dir / "out.png");
    EXPECT_EQ(p.width, 150u);
    EXPECT_EQ(p.height, 200u);
    // Black text near the lower left, where the gradient has no black.
    bool black = false;
    for (std::size_t y = 150; y < 200 && !black; ++y)
        for (std::size_t x = 0; x < 100 && !black; ++x) {
            const std::uint8_t* s = &p.rgba[(y * p.width + x) * 4];
            black = s[0] < 30 && s[1] < 30 && s[2] < 30;
        }
    EXPECT_TRUE(black);
}

TEST(RenderTool, PDFToImagesPrintsALinePerPage) {
    const path dir = imagetest::freshDir("tool-pdf");
    rendertest::writeNumberedPDF(dir / "doc.pdf", 3);
    const ToolRun r = convtool("pdf-to-images " + shellQuote(dir / "doc.pdf") + " " +
                               shellQuote(dir) + " --format 7 --dpi 36 --pages 2-3");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "page 2\npage 3\n");
    EXPECT_TRUE(imagetest::fs::exists(dir / "doc-2.png"));
    EXPECT_TRUE(imagetest::fs::exists(dir / "doc-3.png"));
    EXPECT_FALSE(imagetest::fs::exists(dir / "doc-1.png"));
}

TEST(RenderTool, UsageErrorsAndFailuresHaveTheirExitCodes) {
    const path dir = imagetest::freshDir("tool-errors");
    rendertest::writeNumberedPDF(dir / "doc.pdf", 1);
    EXPECT_EQ(convtool("render").status, 2);
    EXPECT_EQ(convtool("render a.png b.png --format 7 --fit sideways").status, 2);
    EXPECT_EQ(convtool("pdf-to-images " + shellQuote(dir / "doc.pdf")).status, 2);
    EXPECT_EQ(convtool("pdf-to-images " + shellQuote(dir / "doc.pdf") + " " +
                       shellQuote(dir / "doc.pdf") + " --format 7")
                  .status,
              1);
    EXPECT_EQ(convtool("render " + shellQuote(dir / "missing.png") + " " +
                       shellQuote(dir / "o.png") + " --format 7 --width 10")
                  .status,
              1);
    EXPECT_EQ(convtool("render --help").status, 0);
}
