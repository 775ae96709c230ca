// What the page and picture commands of convtool write, and what they say, as a user runs them:
// WebP output, output names, and the messages of runs that write nothing.
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

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

TEST(ConvtoolOutput, EveryCommandPrintsItsHelpOnStandardOutputAndSucceeds) {
    for (const char* command :
         {"webp-encode", "webp-decode", "convert", "render", "pdf-to-images", "pdf-to-text",
          "images-to-pdf", "documents-to-pdf", "merge", "pdf-images"}) {
        SCOPED_TRACE(command);
        const ToolRun r = convtool(std::string(command) + " -h");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.output.find("sage"), std::string::npos) << r.output; // "Usage", "usage"
        EXPECT_EQ(r.messages, "");
    }
}

// A page range that runs backwards, a quality outside 0 to 1 and a unit nobody knows are each
// refused with a message that names the mistake, and nothing is written.
TEST(ConvtoolOutput, BackwardRangesQualitiesOutOfRangeAndUnknownUnitsAreNamedMistakes) {
    const path dir = imagetest::freshDir("mistakes");
    const path pdf = pictureDocument(dir);
    const path png = dir / "picture.png";
    fs::create_directories(dir / "out");
    const std::string in = shellQuote(pdf), out = shellQuote(dir / "out");
    struct Mistake {
        std::string arguments;
        std::string said;
    };
    const std::vector<Mistake> mistakes = {
        {"pdf-to-images " + in + " " + out + " --format 7 --pages 5-3", "5-3 runs backwards"},
        {"pdf-images -first 5 -last 3 " + in + " " + out, "5-3 runs backwards"},
        {"pdf-to-text " + in + " " + out + " --format 1 --first 5 --last 3", "5-3 runs backwards"},
        {"convert " + shellQuote(png) + " " + shellQuote(dir / "out" / "q.png") +
             " --format 7 --quality 2",
         "from 0.0 to 1.0, not 2"},
        {"render " + shellQuote(png) + " " + shellQuote(dir / "out" / "q.png") +
             " --format 7 --quality -1",
         "from 0.0 to 1.0, not -1"},
        {"pdf-to-images " + in + " " + out + " --format 4 --quality 2", "from 0.0 to 1.0, not 2"},
        {"images-to-pdf " + shellQuote(dir / "out" / "q.pdf") + " " + shellQuote(png) +
             " --quality 2",
         "from 0.0 to 1.0, not 2"},
        {"render " + shellQuote(png) + " " + shellQuote(dir / "out" / "q.png") +
             " --format 7 --width 50 --unit furlongs",
         "unknown unit \"furlongs\""},
        {"pdf-to-images " + in + " " + out + " --format 7 --fit-width 1 --unit furlongs",
         "unknown unit \"furlongs\""},
    };
    for (const Mistake& m : mistakes) {
        SCOPED_TRACE(m.arguments);
        const ToolRun r = convtool(m.arguments);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.messages.find(m.said), std::string::npos) << r.messages;
    }
    EXPECT_TRUE(imagetest::listFolder(dir / "out").empty());
}

// A folder is no WebP file, and a JPEG that ends before its picture does is refused as cwebp
// refuses it; each says why and writes nothing.
TEST(ConvtoolOutput, AFolderToDecodeAndAJPEGCutShortToEncodeAreRefusedWithAMessage) {
    const path dir = imagetest::freshDir("webp-refusals");
    fs::create_directories(dir / "folder.webp");
    const ToolRun folder = convtool("webp-decode " + shellQuote(dir / "folder.webp") + " -o " +
                                    shellQuote(dir / "out.png"));
    EXPECT_EQ(folder.status, 1);
    EXPECT_NE(folder.messages.find("Is a directory"), std::string::npos) << folder.messages;

    imagetest::writeWith(imagetest::gradient(200, 150), "JPEG", dir / "whole.jpg");
    imagetest::Bytes bytes = imagetest::readBytes(dir / "whole.jpg");
    bytes.resize(bytes.size() / 2);
    imagetest::writeBytes(dir / "cut.jpg", bytes);
    const ToolRun cut = convtool("webp-encode " + shellQuote(dir / "cut.jpg") + " -o " +
                                 shellQuote(dir / "o.webp"));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.messages.find("Premature end of JPEG file"), std::string::npos) << cut.messages;
    EXPECT_FALSE(fs::exists(dir / "out.png"));
    EXPECT_FALSE(fs::exists(dir / "o.webp"));
    EXPECT_EQ(convtool("webp-encode -quiet " + shellQuote(dir / "whole.jpg") + " -o " +
                       shellQuote(dir / "o.webp"))
                  .status,
              0);
}

// A file the user may not read: every command says so in the system's words. Root reads every
// file, so as root the commands run as nobody.
TEST(ConvtoolOutput, UnreadableInputsAreRefusedWithTheSystemsReason) {
    const path dir = imagetest::freshDir("unreadable");
    const path pdf = pictureDocument(dir);
    fs::permissions(dir, fs::perms::all);
    fs::create_directories(dir / "out");
    fs::permissions(dir / "out", fs::perms::all);
    ASSERT_EQ(convtool("convert " + shellQuote(dir / "picture.png") + " " +
                       shellQuote(dir / "picture.webp") + " --format 24")
                  .status,
              0);
    for (const char* name : {"doc.pdf", "picture.png", "picture.webp"})
        fs::permissions(dir / name, fs::perms::none);
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 "
                                              "--clear-groups env TMPDIR=" +
                                                  shellQuote(dir / "out") + " "
                                            : "";
    const std::string out = shellQuote(dir / "out");
    for (const std::string& arguments :
         {"pdf-to-text " + shellQuote(pdf) + " " + out + " --format 1",
          "pdf-to-images " + shellQuote(pdf) + " " + out + " --format 7",
          "pdf-images " + shellQuote(pdf) + " " + out,
          "convert " + shellQuote(dir / "picture.png") + " " + shellQuote(dir / "out" / "x.png") +
              " --format 7",
          "webp-encode " + shellQuote(dir / "picture.png") + " -o " +
              shellQuote(dir / "out" / "x.webp"),
          "webp-decode " + shellQuote(dir / "picture.webp") + " -o " +
              shellQuote(dir / "out" / "y.png"),
          "images-to-pdf " + shellQuote(dir / "out" / "z.pdf") + " " +
              shellQuote(dir / "picture.png")}) {
        SCOPED_TRACE(arguments);
        const path errors = dir / "errors.txt";
        int status = 0;
        imagetest::capture(as + LUMENO_CONVTOOL + " " + arguments + " 2>" + shellQuote(errors),
                           &status);
        const std::string messages = imagetest::readText(errors);
        EXPECT_EQ(status, 1);
        EXPECT_NE(messages.find("Permission denied"), std::string::npos) << messages;
    }
    EXPECT_TRUE(imagetest::listFolder(dir / "out").empty());
}
