// The library's messages reach the host's log hook, and nothing of them reaches standard error
// while a hook is set; without one they go to standard error exactly as one line each.
#include "ConversionLog.h"
#include "ConversionEntries.h"
#include "TestFiles.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Sets a hook that keeps every line for the test's life, then puts the former one back.
class RoutedLog {
public:
    RoutedLog() {
        m_previous =
            SetConversionLogHook([this](std::string_view line) { m_lines.emplace_back(line); });
    }
    ~RoutedLog() { SetConversionLogHook(std::move(m_previous)); }
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    ConversionLogHook m_previous;
    std::vector<std::string> m_lines;
};

ImageJobOptions imageOptions(std::int32_t format) {
    ImageJobOptions options;
    options.inputURL = "/nonexistent/lumeno-log-test/in.pdf";
    options.outputURL = "/nonexistent/lumeno-log-test/out";
    options.format = format;
    return options;
}

struct RefusedRun {
    const char* name;
    std::function<bool()> run;
    std::string expectedLine;
};

TEST(ConversionLog, EveryEntrysRefusalArrivesAtTheHookAndNotOnStandardError) {
    constexpr std::int32_t kNoSuchFormat = 999;
    const std::vector<RefusedRun> runs = {
        {"convert",
         [] {
             ImageJobOptions o = imageOptions(kNoSuchFormat);
             return ConvertImageFile(&o);
         },
         "convert: unknown output format code 999"},
        {"render",
         [] {
             ImageJobOptions o = imageOptions(kNoSuchFormat);
             return RenderImageFile(&o);
         },
         "render: unknown output format code 999"},
        {"pdf-to-images, unknown format",
         [] {
             ImageJobOptions o = imageOptions(kNoSuchFormat);
             return ConvertPDFToImages(&o);
         },
         "pdf-to-images: unknown output format code 999"},
        {"pdf-to-images, missing input",
         [] {
             ImageJobOptions o = imageOptions(1);
             return ConvertPDFToImages(&o);
         },
         "pdf-to-images: /nonexistent/lumeno-log-test/in.pdf: cannot be read: No such file or "
         "directory"},
        {"images-to-pdf",
         [] {
             ImagesToPDFOptions o;
             return ConvertImagesToPDF(&o);
         },
         "images-to-pdf: no output given"},
        {"documents-to-pdf",
         [] {
             DocumentsToPDFOptions o;
             return ConvertDocumentsToPDF(&o);
         },
         "documents-to-pdf: no output given"},
    };
    for (const RefusedRun& run : runs) {
        SCOPED_TRACE(run.name);
        RoutedLog log;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(run.run());
        const std::string written = testing::internal::GetCapturedStderr();
        EXPECT_EQ(written, "");
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.lines().back(), run.expectedLine);
    }
}

TEST(ConversionLog, WithoutAHookALineGoesToStandardErrorWithOneNewline) {
    testing::internal::CaptureStderr();
    ImageJobOptions o = imageOptions(999);
    EXPECT_FALSE(ConvertImageFile(&o));
    ConversionLog("plain line");
    ConversionLogf("two\nlines\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "convert: unknown output format code 999\nplain line\ntwo\nlines\n");
}

TEST(ConversionLog, SettingAHookAnswersTheOneBeforeAndAnEmptyHookRestoresTheDefault) {
    std::vector<std::string> first;
    const ConversionLogHook none =
        SetConversionLogHook([&first](std::string_view line) { first.emplace_back(line); });
    EXPECT_FALSE(none);
    ConversionLogf("page %d\n", 3);
    ConversionLogHook previous = SetConversionLogHook({});
    ASSERT_TRUE(previous);
    EXPECT_EQ(first, std::vector<std::string>{"page 3"});
    testing::internal::CaptureStderr();
    ConversionLog("back on stderr");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "back on stderr\n");
    EXPECT_EQ(first.size(), 1u);
}

} // namespace

namespace {

std::filesystem::path scratchFile(const std::string& name) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("lumeno-log-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir / name;
}

} // namespace

// Poppler's own lines about a damaged file or a wrong password reach the hook with the library's
// refusal, which names no internal code; standard error stays quiet.
TEST(ConversionLog, PopplersOwnLinesArriveAtTheHookBesideARefusalWithoutCodes) {
    const std::filesystem::path notPDF = scratchFile("plain.pdf");
    std::ofstream(notPDF) << "This is a plain text file, not a PDF.\n";
    const std::filesystem::path locked = scratchFile("locked.pdf");
    ASSERT_EQ(
        testfiles::run("qpdf --empty --encrypt user owner 256 -- " + testfiles::shellQuote(locked)),
        0);
    struct Case {
        std::filesystem::path input;
        std::string popplerLine, refusal;
    };
    for (const Case& c : {Case{notPDF, "Syntax Error", ": cannot be opened as a PDF"},
                          Case{locked, "Command Line Error: Incorrect password",
                               ": the password does not unlock"}}) {
        SCOPED_TRACE(c.input.string());
        PDFToTextOptions options;
        options.inputURL = c.input;
        options.outputFolderURL = c.input.parent_path();
        options.password = "wrong";
        options.textFormat = kTextFormatUTF8;
        RoutedLog log;
        testing::internal::CaptureStderr();
        try {
            EXPECT_FALSE(ConvertPDFToTextDocument(&options));
        } catch (int) {
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        std::string all;
        for (const std::string& line : log.lines())
            all += line + "\n";
        EXPECT_NE(all.find(c.popplerLine), std::string::npos) << all;
        EXPECT_NE(all.find(c.refusal), std::string::npos) << all;
        EXPECT_EQ(all.find("301"), std::string::npos) << all;
    }
}

// A WebP file cut short is refused in words, not with the decoder's result code.
TEST(ConversionLog, ADamagedWebPInputIsRefusedInWordsNotCodes) {
    const std::filesystem::path png = scratchFile("tile.png");
    const std::filesystem::path webp = scratchFile("tile.webp");
    ASSERT_EQ(testfiles::run("convert -size 200x150 gradient:red-blue " +
                             testfiles::shellQuote(png) + " && cwebp -quiet -q 90 " +
                             testfiles::shellQuote(png) + " -o " + testfiles::shellQuote(webp)),
              0);
    testfiles::Bytes bytes = testfiles::readBytes(webp);
    bytes.resize(bytes.size() / 2);
    testfiles::writeBytes(webp, bytes);
    ImageJobOptions options = testfiles::jobOptions(webp, scratchFile("out.png"), 7);
    RoutedLog log;
    EXPECT_FALSE(ConvertImageFile(&options));
    ASSERT_FALSE(log.lines().empty());
    EXPECT_NE(log.lines().back().find("cannot be decoded"), std::string::npos)
        << log.lines().back();
    EXPECT_EQ(log.lines().back().find("(-"), std::string::npos) << log.lines().back();
}
