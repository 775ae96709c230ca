// The to-PDF commands of convtool as a user runs them: what they refuse before doing any work,
// what they say, and their exit status when some inputs fail. PDFs are read back with pdfinfo.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <zip.h>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

const std::string kConvtool = LUMENO_CONVTOOL;

struct CommandRun {
    int status = -1;
    std::string out, err;
};

// convtool with the arguments (already quoted), in `dir`.
CommandRun convtool(const fs::path& dir, const std::string& arguments) {
    CommandRun r;
    const fs::path err = dir / ".stderr";
    r.out = capture("cd " + shellQuote(dir) + " && " + kConvtool + " " + arguments + " 2>" +
                        shellQuote(err),
                    &r.status);
    r.err = imagetest::readText(err);
    fs::remove(err);
    return r;
}

int lineCount(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(ToPDFCommand, AnOutputThatIsOneOfTheInputsOrNoPDFIsRefusedBeforeAnyWork) {
    const fs::path dir = imagetest::freshDir("refused-outputs");
    writeHalvesImage(dir / "a.jpg", "JPEG", 40, 20, 72);
    writeHalvesImage(dir / "b.jpg", "JPEG", 40, 20, 72);
    std::ofstream(dir / "notes.txt") << "Some notes";
    const Bytes photo = imagetest::readBytes(dir / "a.jpg");
    const Bytes notes = imagetest::readBytes(dir / "notes.txt");
    fs::create_symlink(dir / "a.jpg", dir / "link.pdf");
    fs::create_hard_link(dir / "a.jpg", dir / "hard.pdf");
    struct Case {
        const char* arguments;
        const char* message;
    } refused[] = {
        {"images-to-pdf a.jpg a.jpg", "a.jpg is one of the inputs"},
        // The shell's *.jpg: the first photo would have become the output.
        {"images-to-pdf a.jpg b.jpg", "a.jpg exists and is not a PDF"},
        {"images-to-pdf link.pdf a.jpg", "link.pdf is one of the inputs"},
        {"images-to-pdf hard.pdf b.jpg a.jpg", "hard.pdf is one of the inputs"},
        {"documents-to-pdf notes.txt notes.txt", "notes.txt is one of the inputs"},
        {"documents-to-pdf a.jpg notes.txt", "a.jpg exists and is not a PDF"},
        {"merge a.jpg a.jpg", "a.jpg is one of the inputs"},
        {"merge notes.txt b.jpg", "notes.txt exists and is not a PDF"},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.arguments);
        const CommandRun r = convtool(dir, c.arguments);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("[1/"), std::string::npos) << "no input was taken on: " << r.out;
        EXPECT_EQ(imagetest::readBytes(dir / "a.jpg"), photo);
        EXPECT_EQ(imagetest::readBytes(dir / "notes.txt"), notes);
    }
    EXPECT_EQ(imagetest::listFolder(dir),
              (std::vector<std::string>{"a.jpg", "b.jpg", "hard.pdf", "link.pdf", "notes.txt"}));
    // An empty file and an earlier PDF are replaced; a merge still rewrites one of its PDFs.
    std::ofstream(dir / "empty.pdf").close();
    EXPECT_EQ(convtool(dir, "images-to-pdf empty.pdf a.jpg").status, 0);
    EXPECT_EQ(pageSizes(dir / "empty.pdf").size(), 1u);
    EXPECT_EQ(convtool(dir, "images-to-pdf empty.pdf a.jpg b.jpg").status, 0);
    EXPECT_EQ(pageSizes(dir / "empty.pdf").size(), 2u);
    const CommandRun merged = convtool(dir, "merge empty.pdf empty.pdf b.jpg");
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(pageSizes(dir / "empty.pdf").size(), 3u);
}

TEST(ToPDFCommand, ARunWhereAnyInputFailedExitsNonZeroNamesItAndWritesTheRest) {
    const fs::path dir = imagetest::freshDir("failed-inputs");
    fs::create_directories(dir / "images");
    fs::create_directories(dir / "documents");
    writeHalvesImage(dir / "good.png", "PNG", 30, 20, 72);
    imagetest::writeBytes(dir / "bad.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
    std::ofstream(dir / "fine.txt") << "Fine words";
    // The failed input first: the last one's success must not hide it.
    CommandRun r = convtool(dir, "images-to-pdf images bad.png good.png --separate");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.png"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("images-to-pdf: 1 failed: bad.png"), std::string::npos) << r.err;
    EXPECT_EQ(imagetest::listFolder(dir / "images"), std::vector<std::string>{"good.pdf"});
    r = convtool(dir, "images-to-pdf pictures.pdf bad.png good.png");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(pageSizes(dir / "pictures.pdf").size(), 1u);
    r = convtool(dir, "documents-to-pdf documents missing.txt fine.txt --separate");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;
    EXPECT_EQ(imagetest::listFolder(dir / "documents"), std::vector<std::string>{"fine.pdf"});
    r = convtool(dir, "documents-to-pdf texts.pdf missing.txt fine.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(pdfText(dir / "texts.pdf").find("Fine words"), std::string::npos);
    // Every input written: success.
    EXPECT_EQ(convtool(dir, "documents-to-pdf texts.pdf fine.txt fine.txt").status, 0);
}

TEST(ToPDFCommand, PaperSizesOutsidePDFsLimitsAreRefusedWithAMessage) {
    const fs::path dir = imagetest::freshDir("paper-limits");
    writeHalvesImage(dir / "a.png", "PNG", 40, 20, 72);
    std::ofstream(dir / "a.txt") << "Words";
    for (const char* paper : {"1e308x1e308", "99999999x99999999", "2x2", "14401x500", "nanx500"}) {
        for (const char* command : {"images-to-pdf out.pdf a.png --fit",
                                    "documents-to-pdf out.pdf a.txt", "merge out.pdf a.png"}) {
            SCOPED_TRACE(std::string(command) + " --paper " + paper);
            const CommandRun r = convtool(dir, std::string(command) + " --paper " + paper);
            EXPECT_EQ(r.status, 2);
            EXPECT_NE(r.err.find("from 3 to 14400 points"), std::string::npos) << r.err;
            EXPECT_FALSE(fs::exists(dir / "out.pdf"));
        }
    }
    // The limits themselves are pages PDF can have.
    for (const char* paper : {"3x3", "14400x14400"}) {
        SCOPED_TRACE(paper);
        EXPECT_EQ(convtool(dir, std::string("images-to-pdf out.pdf a.png --fit --margin 0 ") +
                                    "--paper " + paper)
                      .status,
                  0);
        const auto sizes = pageSizes(dir / "out.pdf");
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].width, std::stod(paper));
    }
    // The library refuses them too.
    DocumentsToPDFOptions o;
    o.merge = true;
    o.outputURL = dir / "library.pdf";
    o.jobList = {dir / "a.txt"};
    o.paperWidth = o.paperHeight = 1e308;
    EXPECT_FALSE(ConvertDocumentsToPDF(&o));
    EXPECT_FALSE(fs::exists(dir / "library.pdf"));
}

TEST(ToPDFCommand, BinaryFilesAreNoDocumentsAndAFontThatIsNotInstalledIsNamed) {
    const fs::path dir = imagetest::freshDir("binary-documents");
    fs::create_directories(dir / "out");
    int status = 0;
    zip_t* archive = zip_open((dir / "archive.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &status);
    ASSERT_NE(archive, nullptr);
    const std::string inside = "Words of a file in an archive";
    zip_source_t* source = zip_source_buffer(archive, inside.data(), inside.size(), 0);
    ASSERT_GE(zip_file_add(archive, "inside.txt", source, 0), 0);
    ASSERT_EQ(zip_close(archive), 0);
    fs::copy_file("/bin/true", dir / "program");
    std::ofstream(dir / "notes.txt") << "Plain notes";
    std::ofstream(dir / "more.txt") << "More notes";
    CommandRun r = convtool(dir, "documents-to-pdf out archive.zip program notes.txt --separate");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("archive.zip: not a document that can be laid out (a ZIP archive)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("program: not a document that can be laid out (a program (ELF))"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(imagetest::listFolder(dir / "out"), std::vector<std::string>{"notes.pdf"});
    // One line for the run, naming the font drawn with instead.
    r = convtool(dir, "documents-to-pdf fonts.pdf notes.txt more.txt --font 'No Such Family 9'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lineCount(r.err, "the font \"No Such Family 9\" is not installed; \""), 1) << r.err;
    EXPECT_NE(r.err.find("\" is used instead"), std::string::npos) << r.err;
    r = convtool(dir, "documents-to-pdf fonts.pdf notes.txt --font 'DejaVu Sans Mono'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("is not installed"), std::string::npos) << r.err;
}
