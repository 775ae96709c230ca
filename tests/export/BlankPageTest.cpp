// The blank-page test on pages the web engine printed: an empty body, five letters, one image.
#include "ExportTestData.h"
#include "IsPDFPageBlank.h"

#include <gtest/gtest.h>
#include <memory>
#include <poppler-document.h>
#include <poppler-page.h>

namespace {

bool firstPageIsBlank(const QByteArray& pdf) {
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
    // Stored prints: 04 an empty body, 05 "Hello", 07 one small image, 00 the long home page.
    const std::vector<exporttest::StoredPrint> prints = exporttest::storedPrints();
    ASSERT_GE(prints.size(), 8u);
    EXPECT_TRUE(firstPageIsBlank(prints[4].pdf));
    EXPECT_FALSE(firstPageIsBlank(prints[5].pdf)); // five letters are little text, but drawn
    EXPECT_FALSE(firstPageIsBlank(prints[7].pdf)); // no text at all, one small picture
    EXPECT_FALSE(firstPageIsBlank(prints[0].pdf));
    EXPECT_FALSE(IsPDFPageBlank(nullptr)); // no page
}
