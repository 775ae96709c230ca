// Poppler's process-wide settings: made once, kept while poppler-cpp documents (the conversion
// library's front end) come and go, on this thread or another.
#include "PopplerGlobals.h"
#include "ExportTestData.h"
#include "PrintedPDFText.h"

#include <GlobalParams.h>
#include <poppler-document.h>

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

std::unique_ptr<poppler::document> loadWithPopplerCpp(const QByteArray& pdf) {
    return std::unique_ptr<poppler::document>(
        poppler::document::load_from_raw_data(pdf.constData(), static_cast<int>(pdf.size())));
}

std::vector<std::vector<std::string>> allWords(const QByteArray& pdf) {
    PrintedPDFText text(pdf);
    std::vector<std::vector<std::string>> pages;
    for (int page = 0; page < text.pageCount(); ++page) {
        pages.emplace_back();
        for (const PrintedWord& word : text.wordsOfPage(page))
            pages.back().push_back(word.text);
    }
    return pages;
}

QByteArray firstStoredPrint() {
    for (const exporttest::StoredPrint& print : exporttest::storedPrints()) {
        if (!print.pdf.isEmpty())
            return print.pdf;
    }
    return {};
}

} // namespace

TEST(PopplerGlobals, AreMadeOnceWithUtf8AndOutliveEveryPopplerCppDocument) {
    const QByteArray pdf = firstStoredPrint();
    ASSERT_FALSE(pdf.isEmpty());
    ASSERT_TRUE(lumeno::ensurePopplerGlobals());
    GlobalParams* const settings = globalParams.get();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->getTextEncodingName(), "UTF-8");

    // poppler-cpp makes its settings for its first document and drops them with its last one,
    // unless someone else holds them.
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<poppler::document> doc = loadWithPopplerCpp(pdf);
        ASSERT_NE(doc, nullptr);
        EXPECT_GT(doc->pages(), 0);
        doc.reset();
        EXPECT_EQ(globalParams.get(), settings) << "round " << round;
        EXPECT_TRUE(lumeno::ensurePopplerGlobals());
    }
    EXPECT_EQ(globalParams.get(), settings);
    EXPECT_EQ(globalParams->getTextEncodingName(), "UTF-8");
}

TEST(PopplerGlobals, PrintedTextReadsTheSameWhilePopplerCppDocumentsComeAndGoOnAnotherThread) {
    const QByteArray pdf = firstStoredPrint();
    ASSERT_FALSE(pdf.isEmpty());
    const auto expected = allWords(pdf);
    ASSERT_FALSE(expected.empty());

    std::atomic<bool> stop{false};
    std::atomic<int> loaded{0};
    std::thread churn([&] {
        while (!stop.load()) {
            if (loadWithPopplerCpp(pdf))
                loaded.fetch_add(1);
        }
    });
    for (int round = 0; round < 5; ++round)
        EXPECT_EQ(allWords(pdf), expected) << "round " << round;
    stop = true;
    churn.join();
    EXPECT_GT(loaded.load(), 0);
}
