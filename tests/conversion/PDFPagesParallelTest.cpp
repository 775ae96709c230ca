// PDF pages to images with several workers: the same files as one worker writes, cancelling
// keeps whole files only, a page that cannot be drawn is reported among pages that are written.
#include "ConversionEntries.h"
#include "ConversionLog.h"
#include "PDFTestDocument.h"
#include "PageWorkers.h"
#include "TextPDFMaker.h"
#include "Workers.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <mutex>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <sched.h>

namespace fs = std::filesystem;

namespace {

// The threads of this process now.
int threadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

// Records the reports and, at each, how many threads the process had.
class ThreadCountingProgress : public testfiles::ProgressRecorder {
public:
    void progress(std::int64_t value) override {
        ProgressRecorder::progress(value);
        threads = std::max(threads, threadCount());
    }
    int threads = 0;
};

// Runs `body` with this thread (and the workers it starts) held to one processor.
template <typename F> void onOneProcessor(F body) {
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) {
            CPU_SET(c, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    body();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
}

ImageJobOptions pageOptions(const fs::path& pdf, const fs::path& out, std::int32_t format) {
    ImageJobOptions o = testfiles::jobOptions(pdf, out, format);
    o.dpi = 60;
    return o;
}

// A page of shapes that differ from page to page.
QPDFObjectHandle addShapesPage(PDFTestDocument& doc, int number) {
    const std::string n = std::to_string(number);
    return doc.addPage({}, "0 0 1 rg 40 40 " + std::to_string(20 * number) + " 300 re f\n" +
                               "1 0 0 RG 6 w 50 " + n + "0 m 560 700 l S\n");
}

// Pages of text in Helvetica and Times, which the file does not hold: each worker's Poppler
// finds them among the system's fonts.
void writeBase14PDF(const fs::path& path, int pages) {
    PDFTestDocument doc;
    for (int p = 1; p <= pages; ++p) {
        std::string content = "BT /F1 11 Tf 72 740 Td (Page " + std::to_string(p) + ") Tj ET\n";
        for (int line = 0; line < 40; ++line)
            content += "BT /F" + std::to_string(1 + line % 2) + " 10 Tf 72 " +
                       std::to_string(720 - 15 * line) + " Td (Line " + std::to_string(line) +
                       " of page " + std::to_string(p) + ": the quick brown fox jumps) Tj ET\n";
        QPDFObjectHandle page = doc.addPage({}, content);
        page.getKey("/Resources")
            .replaceKey("/Font", QPDFObjectHandle::parse(
                                     "<< /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                                     ">> /F2 << /Type /Font /Subtype /Type1 /BaseFont "
                                     "/Times-Roman >> >>"));
    }
    doc.write(path);
}

// A calculator function nested deeper than a page may hold: the page is refused.
QPDFObjectHandle addUndrawablePage(PDFTestDocument& doc) {
    QPDFObjectHandle page = doc.addPage({}, "/Sh1 sh\n");
    QPDFObjectHandle shading = QPDFObjectHandle::parse(
        "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 612 0] /Extend [true true] >>");
    shading.replaceKey("/Function",
                       doc.stream("<< /FunctionType 4 /Domain [0 1] /Range [0 1] /Filter "
                                  "/FlateDecode >>",
                                  flate(std::string(200000, '{'))));
    QPDFObjectHandle shadings = QPDFObjectHandle::newDictionary();
    shadings.replaceKey("/Sh1", shading);
    page.getKey("/Resources").replaceKey("/Shading", shadings);
    return page;
}

// Collects the library's messages for the life of the object.
struct LogCapture {
    LogCapture() {
        previous = SetConversionLogHook([this](std::string_view line) {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        });
    }
    ~LogCapture() { SetConversionLogHook(previous); }
    std::mutex mutex;
    std::vector<std::string> lines;
    ConversionLogHook previous;
};

} // namespace

TEST(PDFPagesInParallel, WorkersAreBoundedByProcessorsPagesAndMemory) {
    const std::size_t cores = conversion::usableCores();
    ASSERT_GE(cores, 1u);
    const struct {
        std::int64_t pages;
        std::uint64_t bytesPerPage, budget;
        std::size_t expected;
    } cases[] = {
        {1000, 1, 1000, cores},                            // processors
        {2, 1, 1000, std::min<std::size_t>(cores, 2)},     // pages
        {1000, 100, 300, std::min<std::size_t>(cores, 3)}, // memory
        {1000, 100, 50, 1},                                // a page over the budget still runs
        {0, 1, 1000, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(conversion::pageWorkerCount(c.pages, c.bytesPerPage, c.budget), c.expected)
            << c.pages << " pages of " << c.bytesPerPage << " in " << c.budget;
}

TEST(PDFPagesInParallel, PagesDrawnSideBySideAreTheFilesOneWorkerWrites) {
    if (conversion::usableCores() < 2)
        GTEST_SKIP() << "one processor: pages are drawn one after the other";
    const fs::path dir = testfiles::freshDir("parallel-same");
    ASSERT_TRUE(WriteProsePDF((dir / "prose.pdf").string(), 12, 20));
    writeBase14PDF(dir / "base14.pdf", 12);
    const struct {
        const char* pdf;
        std::int32_t format, colorMode;
        std::size_t files;
    } cases[] = {{"prose", 7, 0, 12},
                 {"prose", 10, 3, 12},
                 {"prose", 13, 0, 12},
                 {"prose", 23, 0, 1},
                 {"base14", 7, 0, 12}};
    for (const auto& c : cases) {
        const std::string tag =
            std::string(c.pdf) + "-" + std::to_string(c.format) + "-" + std::to_string(c.colorMode);
        const fs::path side = dir / ("side-" + tag), single = dir / ("single-" + tag);
        fs::create_directories(side);
        fs::create_directories(single);
        ImageJobOptions o = pageOptions(dir / (std::string(c.pdf) + ".pdf"), side, c.format);
        o.colorMode = c.colorMode;
        ThreadCountingProgress sideBySide, alone;
        o.progressTarget = &sideBySide;
        o.progressSelector = true;
        const int threadsBefore = threadCount();
        ASSERT_TRUE(ConvertPDFToImages(&o)) << tag;
        // Workers of their own (two at least) were running while the pages were reported.
        EXPECT_GE(sideBySide.threads, threadsBefore + 2) << tag;
        o.outputURL = single;
        o.progressTarget = &alone;
        int threadsAlone = 0; // a sanitizer may have started a thread of its own by now
        onOneProcessor([&] {
            threadsAlone = threadCount();
            ASSERT_TRUE(ConvertPDFToImages(&o)) << tag;
        });
        EXPECT_EQ(alone.threads, threadsAlone) << tag;
        EXPECT_EQ(sideBySide.reports, alone.reports) << tag;
        const auto names = testfiles::listFolder(side);
        ASSERT_EQ(names.size(), c.files) << tag;
        ASSERT_EQ(names, testfiles::listFolder(single)) << tag;
        for (const std::string& name : names)
            EXPECT_EQ(testfiles::readBytes(side / name), testfiles::readBytes(single / name))
                << tag << " " << name;
    }
}

TEST(PDFPagesInParallel, CancellingMidwayKeepsTheReportedPagesWholeAndNothingElse) {
    const fs::path dir = testfiles::freshDir("parallel-cancel");
    ASSERT_TRUE(WriteProsePDF((dir / "doc.pdf").string(), 24, 20));
    for (std::int32_t format : {7, 23}) {
        const fs::path out = dir / ("out-" + std::to_string(format));
        fs::create_directories(out);
        ImageJobOptions o = pageOptions(dir / "doc.pdf", out, format);
        o.dpi = 100;
        testfiles::ProgressRecorder progress;
        progress.cancelAfterReports = 7;
        o.progressTarget = &progress;
        o.progressSelector = true;
        ConvertPDFToImages(&o);
        EXPECT_EQ(progress.reports, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7}));
        const auto names = testfiles::listFolder(out); // temporary files too
        if (format == 23) {
            EXPECT_TRUE(names.empty()); // one file of all pages, not put in place
            continue;
        }
        std::vector<std::string> expected;
        for (int p = 1; p <= 7; ++p)
            expected.push_back("doc-0" + std::to_string(p) + ".png");
        EXPECT_EQ(names, expected);
        for (const std::string& name : names) {
            const testfiles::PNGPicture picture = testfiles::readPNG(out / name);
            EXPECT_TRUE(picture.ok) << name;
            EXPECT_EQ(picture.width, 826) << name; // 595 points at 100 dpi
        }
    }
}

TEST(PDFPagesInParallel, APageThatCannotBeDrawnIsReportedAndTheOthersAreWritten) {
    const fs::path dir = testfiles::freshDir("parallel-damaged");
    struct Case {
        int undrawable; // 1-based
        bool result;    // the last page's outcome
    } cases[] = {{3, true}, {8, false}};
    for (const Case& c : cases) {
        PDFTestDocument doc;
        for (int p = 1; p <= 8; ++p)
            p == c.undrawable ? addUndrawablePage(doc) : addShapesPage(doc, p);
        const std::string name = "doc" + std::to_string(c.undrawable);
        doc.write(dir / (name + ".pdf"));
        const fs::path out = dir / name;
        fs::create_directories(out);
        ImageJobOptions o = pageOptions(dir / (name + ".pdf"), out, 7);
        std::vector<std::string> lines;
        {
            LogCapture log;
            EXPECT_EQ(ConvertPDFToImages(&o), c.result) << name;
            lines = log.lines;
        }
        std::vector<std::string> expected;
        for (int p = 1; p <= 8; ++p)
            if (p != c.undrawable)
                expected.push_back(name + "-" + std::to_string(p) + ".png");
        EXPECT_EQ(testfiles::listFolder(out), expected) << name;
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_EQ(
            lines.front().rfind("pdf-to-images: page " + std::to_string(c.undrawable) + ": ", 0),
            0u)
            << lines.front();
        // The run's own message, at its end, is the failed last page's.
        EXPECT_EQ(lines.size(), c.result ? 1u : 2u) << name;
    }
}
