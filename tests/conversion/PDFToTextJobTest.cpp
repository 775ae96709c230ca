// The PDF-to-text job on generated PDFs.
#include "PDFToTextTestSupport.h"
#include "TextReadBack.h"

#include <csignal>
#include <fstream>
#include <sys/resource.h>

namespace {

std::set<std::string> numberedNames(int first, int last, int digits) {
    std::set<std::string> names;
    for (int page = first; page <= last; ++page) {
        std::string number = std::to_string(page);
        number.insert(0, size_t(std::max(0, digits - int(number.size()))), '0');
        names.insert("Report-" + number + ".txt");
    }
    return names;
}

using Recorder = testfiles::ProgressRecorder;

} // namespace

TEST_F(PDFToTextTest, PerPageNamesArePaddedToThePageCountsDigits) {
    for (const auto& [pdf, count, digits] :
         {std::tuple{"twelve.pdf", 12, 2}, std::tuple{"nine.pdf", 9, 1},
          std::tuple{"hundred.pdf", 100, 3}}) {
        SCOPED_TRACE(pdf);
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directory(m_folder);
        PDFToTextOptions options = optionsFor(pdf);
        options.filePerPage = true;
        ASSERT_TRUE(ConvertPDFToTextDocument(&options));
        EXPECT_EQ(outputNames(), numberedNames(1, count, digits));
        // Each file holds its own page.
        const int page = count / 2;
        const std::string name = *std::next(numberedNames(page, page, digits).begin(), 0);
        EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath(name))),
                  NormalizeSpace(PdftotextOf(TestPDF(pdf), page, page)));
    }
}

TEST_F(PDFToTextTest, SinglePagesKeepTheWholeDocumentsPaddingAndPageOneGetsTheBareName) {
    for (auto [pdf, page, name] : {std::tuple{"hundred.pdf", 7, "Report-007.txt"},
                                   std::tuple{"twelve.pdf", 1, "Report.txt"}}) {
        PDFToTextOptions options = optionsFor(pdf);
        options.filePerPage = true;
        options.pageRangeMode = kPageRangeSingle;
        options.firstPage = page;
        ASSERT_TRUE(ConvertPDFToTextDocument(&options));
        EXPECT_EQ(outputNames().count(name), 1u) << name;
    }
    PDFToTextOptions single = optionsFor("one.pdf");
    single.filePerPage = true;
    single.outputBaseName.reset(); // the input's name
    ASSERT_TRUE(ConvertPDFToTextDocument(&single));
    EXPECT_EQ(outputNames(), (std::set<std::string>{"Report-007.txt", "Report.txt", "one.txt"}));
}

TEST_F(PDFToTextTest, OneDocumentHoldsEveryPageOfTheRange) {
    PDFToTextOptions options = optionsFor("twelve.pdf");
    options.pageRangeMode = kPageRangeFromTo;
    options.firstPage = 3;
    options.lastPage = 0; // to the end
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    ASSERT_EQ(outputNames(), std::set<std::string>{"Report.txt"});
    EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath("Report.txt"))),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 3, 12)));
}

TEST_F(PDFToTextTest, RangesOutsideTheDocumentAndUnknownFormatsWriteNothing) {
    for (int format : {0, 8, -1}) {
        PDFToTextOptions options = optionsFor("twelve.pdf");
        options.textFormat = format;
        Recorder recorder;
        options.progressTarget = &recorder;
        options.progressSelector = true;
        EXPECT_FALSE(ConvertPDFToTextDocument(&options)) << format;
        EXPECT_TRUE(recorder.reports.empty());
    }
    for (const auto& [mode, first, last] :
         {std::tuple{kPageRangeSingle, 0, 0}, std::tuple{kPageRangeSingle, 13, 0},
          std::tuple{kPageRangeFromTo, 0, 5}, std::tuple{kPageRangeFromTo, 8, 4}}) {
        SCOPED_TRACE(testing::Message() << mode << " " << first << "-" << last);
        PDFToTextOptions options = optionsFor("twelve.pdf");
        options.pageRangeMode = mode;
        options.firstPage = first;
        options.lastPage = last;
        EXPECT_FALSE(ConvertPDFToTextDocument(&options));
        EXPECT_TRUE(outputNames().empty());
    }
}

TEST_F(PDFToTextTest, PagesWithoutTextArePassedOver) {
    PDFToTextOptions options = optionsFor("gaps.pdf");
    options.filePerPage = true;
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    EXPECT_EQ(outputNames(),
              (std::set<std::string>{"Report-1.txt", "Report-3.txt", "Report-5.txt"}));

    PDFToTextOptions blank = optionsFor("blank.pdf");
    for (bool perPage : {true, false}) {
        blank.filePerPage = perPage;
        EXPECT_FALSE(ConvertPDFToTextDocument(&blank));
    }
    EXPECT_EQ(outputNames().size(), 3u);
}

TEST_F(PDFToTextTest, ExistingFilesAreKeptAndTheNewOneTakesAFreeName) {
    std::ofstream(outputPath("Report-01.txt")) << "keep me";
    std::ofstream(outputPath("Report-02.txt")) << "keep me too";
    std::ofstream(outputPath("Report-02 1.txt")) << "and me";
    PDFToTextOptions options = optionsFor("twelve.pdf");
    options.filePerPage = true;
    options.pageRangeMode = kPageRangeFromTo;
    options.firstPage = 1;
    options.lastPage = 2;
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    EXPECT_EQ(testfiles::readText(outputPath("Report-01.txt")), "keep me");
    EXPECT_EQ(testfiles::readText(outputPath("Report-02 1.txt")), "and me");
    EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath("Report-01 1.txt"))),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 1, 1)));
    EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath("Report-02 2.txt"))),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 2, 2)));
    EXPECT_EQ(outputNames().size(), 5u);
}

TEST_F(PDFToTextTest, InputThatIsNoPDFThrows301) {
    for (const std::string& input : {TestPDF("notapdf.pdf"), TestPDF("missing.pdf")}) {
        PDFToTextOptions options = optionsFor("twelve.pdf");
        options.inputURL = input;
        try {
            ConvertPDFToTextDocument(&options);
            ADD_FAILURE() << input << " did not throw";
        } catch (int code) {
            EXPECT_EQ(code, 301);
        }
    }
    EXPECT_FALSE(ConvertPDFToTextDocument(nullptr));
    EXPECT_TRUE(outputNames().empty());
}

TEST_F(PDFToTextTest, EncryptedPDFNeedsItsPassword) {
    PDFToTextOptions options = optionsFor("locked.pdf");
    EXPECT_FALSE(ConvertPDFToTextDocument(&options));
    options.password = "wrong";
    EXPECT_FALSE(ConvertPDFToTextDocument(&options));
    EXPECT_TRUE(outputNames().empty());

    options.password = "open sesame";
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath("Report.txt"))),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"))));
}

TEST_F(PDFToTextTest, ProgressReportsThePageNumbersOfTheRange) {
    Recorder recorder;
    PDFToTextOptions options = optionsFor("twelve.pdf");
    options.pageRangeMode = kPageRangeFromTo;
    options.firstPage = 5;
    options.lastPage = 8;
    options.progressTarget = &recorder;
    options.progressSelector = true;
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    EXPECT_EQ(recorder.reports, (std::vector<std::int64_t>{5, 6, 7, 8}));

    // Without a selector the target is still asked about cancellation, but hears no progress.
    Recorder silent;
    options.progressTarget = &silent;
    options.progressSelector = false;
    ASSERT_TRUE(ConvertPDFToTextDocument(&options));
    EXPECT_TRUE(silent.reports.empty());
    EXPECT_EQ(silent.asked, 4);
}

TEST_F(PDFToTextTest, CancelledRunWritesThePagesBeforeTheCancellation) {
    Recorder recorder(4); // answers yes when asked before page 4
    PDFToTextOptions options = optionsFor("twelve.pdf");
    options.progressTarget = &recorder;
    options.progressSelector = true;
    EXPECT_TRUE(ConvertPDFToTextDocument(&options));
    EXPECT_EQ(recorder.reports, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(NormalizeSpace(testfiles::readText(outputPath("Report.txt"))),
              NormalizeSpace(PdftotextOf(TestPDF("twelve.pdf"), 1, 3)));

    Recorder atOnce(1);
    options.progressTarget = &atOnce;
    EXPECT_FALSE(ConvertPDFToTextDocument(&options));
    EXPECT_EQ(outputNames().size(), 1u);
}

TEST_F(PDFToTextTest, BaseNameCannotLeadOutOfTheFolder) {
    std::filesystem::create_directory(m_folder / "inner");
    for (const char* base : {"../escape", "a/b", "..", ".", ""}) {
        PDFToTextOptions options = optionsFor("one.pdf");
        options.outputFolderURL = m_folder / "inner";
        options.outputBaseName = base;
        EXPECT_FALSE(ConvertPDFToTextDocument(&options)) << base;
    }
    EXPECT_EQ(outputNames(), std::set<std::string>{"inner"});
    EXPECT_TRUE(std::filesystem::is_empty(m_folder / "inner"));
}

TEST_F(PDFToTextTest, FailedWritesReportFailureAndLeaveNoPartialFile) {
    // A missing folder.
    PDFToTextOptions options = optionsFor("twelve.pdf");
    options.outputFolderURL = m_folder / "missing";
    EXPECT_FALSE(ConvertPDFToTextDocument(&options));

    // A file size limit stands in for a full disk: writes beyond 2 KB fail.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 2048;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::vector<bool> results;
    for (int format : {kTextFormatUTF8, kTextFormatRTFD, kTextFormatDOCX}) {
        PDFToTextOptions big = optionsFor("hundred.pdf");
        big.textFormat = format;
        results.push_back(ConvertPDFToTextDocument(&big));
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(results, std::vector<bool>(3, false));
    EXPECT_TRUE(outputNames().empty());
}

TEST_F(PDFToTextTest, PagesReadByWorkersGiveTheBytesOfPagesReadOneByOne) {
    // The hundred pages go to worker threads; ranges of ten are read on the calling thread.
    PDFToTextOptions whole = optionsFor("hundred.pdf");
    whole.outputBaseName = "whole";
    ASSERT_TRUE(ConvertPDFToTextDocument(&whole));
    std::string pieces;
    for (int first = 1; first <= 100; first += 10) {
        PDFToTextOptions part = optionsFor("hundred.pdf");
        part.outputBaseName = "part" + std::to_string(first);
        part.pageRangeMode = kPageRangeFromTo;
        part.firstPage = first;
        part.lastPage = first + 9;
        ASSERT_TRUE(ConvertPDFToTextDocument(&part));
        pieces += testfiles::readText(outputPath(*part.outputBaseName + ".txt"));
    }
    EXPECT_EQ(testfiles::readText(outputPath("whole.txt")), pieces);
}
