// What the page and picture commands of convtool write, and what they say, as a user runs them:
// WebP output, output names, and the messages of runs that write nothing.
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

using imagetest::shellQuote;
using imagetest::fs::path;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int status = -1;
    std::string output;   // standard output
    std::string messages; // standard error
};

ToolRun convtool(const std::string& arguments) {
    static int runs = 0;
    const path errors = imagetest::freshDir("tool-stderr") / std::to_string(++runs);
    ToolRun r;
    r.output = imagetest::capture(
        std::string(LUMENO_CONVTOOL) + " " + arguments + " 2>" + shellQuote(errors), &r.status);
    r.messages = imagetest::readText(errors);
    return r;
}

// A PDF whose one page shows a 64 x 48 gradient picture.
path pictureDocument(const path& dir) {
    imagetest::writeWith(imagetest::gradient(64, 48), "PNG", dir / "picture.png");
    EXPECT_EQ(imagetest::run(std::string(LUMENO_CONVTOOL) + " images-to-pdf " +
                             shellQuote(dir / "doc.pdf") + " " + shellQuote(dir / "picture.png") +
                             " 2>/dev/null"),
              0);
    return dir / "doc.pdf";
}

// RIFF, a size, WEBP: the container of every WebP file; and dwebp decodes it.
void expectWebP(const path& file) {
    SCOPED_TRACE(file.string());
    const imagetest::Bytes bytes = imagetest::readBytes(file);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "WEBP");
    EXPECT_EQ(imagetest::run("dwebp -quiet " + shellQuote(file) + " -o " +
                             shellQuote(file.string() + ".png") + " 2>/dev/null"),
              0);
}

std::vector<path> filesWithExtension(const path& dir, const std::string& extension) {
    std::vector<path> found;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == extension)
            found.push_back(entry.path());
    return found;
}

} // namespace

TEST(ConvtoolOutput, FormatCode24WritesWebPOnEveryPathThatTakesIt) {
    const path dir = imagetest::freshDir("webp-paths");
    const path pdf = pictureDocument(dir);

    ASSERT_EQ(convtool("render " + shellQuote(dir / "picture.png") + " " +
                       shellQuote(dir / "render.webp") + " --format 24 --width 32 --height 24")
                  .status,
              0);
    expectWebP(dir / "render.webp");

    fs::create_directories(dir / "pages");
    ASSERT_EQ(convtool("pdf-to-images " + shellQuote(pdf) + " " + shellQuote(dir / "pages") +
                       " --format 24 --dpi 36")
                  .status,
              0);
    const std::vector<path> pages = filesWithExtension(dir / "pages", ".webp");
    ASSERT_EQ(pages.size(), 1u);
    expectWebP(pages[0]);

    fs::create_directories(dir / "pictures");
    ASSERT_EQ(
        convtool("pdf-images -format webp " + shellQuote(pdf) + " " + shellQuote(dir / "pictures"))
            .status,
        0);
    const std::vector<path> pictures = filesWithExtension(dir / "pictures", ".webp");
    ASSERT_EQ(pictures.size(), 1u);
    expectWebP(pictures[0]);
}

TEST(ConvtoolOutput, BaseNamesThatLeadOutOfTheOutputFolderAreRefused) {
    const path dir = imagetest::freshDir("base-names");
    const path pdf = pictureDocument(dir);
    fs::create_directories(dir / "out" / "sub");
    const std::vector<std::string> commands = {
        "pdf-to-images " + shellQuote(pdf) + " " + shellQuote(dir / "out") + " --format 7 --base ",
        "pdf-images -format png " + shellQuote(pdf) + " " + shellQuote(dir / "out") + " -base "};
    for (const std::string& command : commands) {
        for (const std::string base : {"../escaped", "sub/inner", "..", "/tmp/lumeno-abs"}) {
            SCOPED_TRACE(command + base);
            const ToolRun r = convtool(command + shellQuote(base));
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.messages.find("no plain file name"), std::string::npos) << r.messages;
        }
    }
    // Nothing was written anywhere: not in the folder, not beside it, not below it.
    EXPECT_EQ(imagetest::listFolder(dir / "out"), std::vector<std::string>{"sub"});
    EXPECT_TRUE(imagetest::listFolder(dir / "out" / "sub").empty());
    EXPECT_EQ(imagetest::listFolder(dir),
              (std::vector<std::string>{"doc.pdf", "out", "picture.png"}));
    for (const auto& entry : fs::directory_iterator("/tmp"))
        EXPECT_EQ(entry.path().filename().string().rfind("lumeno-abs", 0), std::string::npos);
}

TEST(ConvtoolOutput, RunsThatWriteNothingSayWhy) {
    const path dir = imagetest::freshDir("messages");
    const path pdf = pictureDocument(dir);
    fs::create_directories(dir / "out");

    // A page outside the document.
    for (const std::string page : {"0", "200"}) {
        SCOPED_TRACE("page " + page);
        const ToolRun r = convtool("pdf-images -page " + page + " " + shellQuote(pdf) + " " +
                                   shellQuote(dir / "out"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.messages.find("page " + page + " is out of range"), std::string::npos)
            << r.messages;
    }

    // Pages whose boxes have no size.
    const path flat = dir / "flat.pdf";
    std::ofstream(dir / "flat-source.pdf")
        << "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
           "2 0 obj << /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >> endobj\n"
           "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [5 5 5 5] >> endobj\n"
           "4 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 0 90] >> endobj\n"
           "trailer << /Root 1 0 R >>\n%%EOF\n";
    imagetest::run("qpdf " + shellQuote(dir / "flat-source.pdf") + " " + shellQuote(flat) +
                   " 2>/dev/null");
    ASSERT_TRUE(fs::exists(flat));
    const ToolRun flatRun = convtool("pdf-to-images " + shellQuote(flat) + " " +
                                     shellQuote(dir / "out") + " --format 7");
    EXPECT_EQ(flatRun.status, 1);
    EXPECT_NE(flatRun.messages.find("page 1 has no size"), std::string::npos) << flatRun.messages;
    EXPECT_NE(flatRun.messages.find("nothing was written"), std::string::npos) << flatRun.messages;
    EXPECT_TRUE(imagetest::listFolder(dir / "out").empty());

    // A WebP input: the line about the saved file names the output, not a temporary file.
    const path webp = dir / "picture.webp";
    ASSERT_EQ(convtool("convert " + shellQuote(dir / "picture.png") + " " + shellQuote(webp) +
                       " --format 24")
                  .status,
              0);
    for (const std::string command : {"convert", "render"}) {
        SCOPED_TRACE(command);
        const path out = dir / (command + ".png");
        const ToolRun r =
            convtool(command + " " + shellQuote(webp) + " " + shellQuote(out) + " --format 7" +
                     (command == "render" ? " --width 32 --height 24" : ""));
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.messages.find("Saved file " + out.string()), std::string::npos) << r.messages;
        EXPECT_EQ(r.messages.find(".tif"), std::string::npos) << r.messages;
    }
}

TEST(ConvtoolOutput, PDFToImagesTakesTheUnitsItsHelpNames) {
    const path dir = imagetest::freshDir("units");
    const path pdf = pictureDocument(dir);
    const ToolRun run = convtool("pdf-to-images --help");
    const std::string help = run.output + run.messages;
    EXPECT_NE(help.find("--unit U"), std::string::npos) << help;
    EXPECT_NE(help.find("percent, px, in, cm, mm or pt, or their"), std::string::npos) << help;
    EXPECT_NE(help.find("codes 1 to 6"), std::string::npos) << help;
    // One inch at 72 dpi, by name and by code; 1 inch at 72 dpi is 72 pixels wide.
    int made = 0;
    for (const std::string unit : {"in", "3", "px", "2", "pt", "6", "cm", "4", "mm", "5"}) {
        SCOPED_TRACE(unit);
        const path out = dir / ("out-" + unit);
        fs::create_directories(out);
        const ToolRun r = convtool("pdf-to-images " + shellQuote(pdf) + " " + shellQuote(out) +
                                   " --format 7 --fit-width 1 --unit " + unit);
        EXPECT_EQ(r.status, 0) << r.messages;
        made += int(imagetest::listFolder(out).size());
        if (unit == "in" || unit == "3") {
            EXPECT_EQ(imagetest::readPixels(out / "doc.png").width, 72u);
        }
    }
    EXPECT_EQ(made, 10);
    EXPECT_EQ(convtool("pdf-to-images " + shellQuote(pdf) + " " + shellQuote(dir) +
                       " --format 7 --fit-width 1 --unit 9")
                  .status,
              2);
}
