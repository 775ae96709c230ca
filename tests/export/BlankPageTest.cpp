// The blank-page test on pages the web engine printed: an empty body, five letters, one image.
#include "ExportTestData.h"
#include "IsPDFPageBlank.h"

#include <gtest/gtest.h>
#include <memory>
#include <poppler-document.h>
#include <poppler-page.h>

namespace {

// Stored prints: 04 an empty body, 05 "Hello", 07 one small image, 00 the long home page.
bool firstPageIsBlank(int print) {
    const QByteArray pdf = exporttest::storedPdf(print);
    EXPECT_FALSE(pdf.isEmpty());
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(pdf.constData(), static_cast<int>(pdf.size())));
    EXPECT_TRUE(doc);
    if (!doc)
        return false;
    std::unique_ptr<poppler::page> page(doc->create_page(0));
    return IsPDFPageBlank(page.get());
}

} // namespace

TEST(BlankPage, EmptyPrintIsBlankButFiveLettersAnImageOrTextAreNot) {
    EXPECT_TRUE(firstPageIsBlank(4));
    EXPECT_FALSE(firstPageIsBlank(5)); // five letters are little text, but they are drawn
    EXPECT_FALSE(firstPageIsBlank(7)); // no text at all, one small picture
    EXPECT_FALSE(firstPageIsBlank(0));
}

TEST(BlankPage, NoPageIsNotBlank) {
    EXPECT_FALSE(IsPDFPageBlank(nullptr));
}
