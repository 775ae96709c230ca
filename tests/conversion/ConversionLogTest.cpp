// The library's messages reach the host's log hook, and nothing of them reaches standard error
// while a hook is set; without one they go to standard error exactly as one line each.
#include "ConversionLog.h"
#include "ConversionEntries.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
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
         "pdf-to-images: /nonexistent/lumeno-log-test/in.pdf: not a PDF document that can be "
         "opened"},
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
