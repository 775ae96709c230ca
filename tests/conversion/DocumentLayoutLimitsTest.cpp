// Documents whose layout would run for ever: refused by the table-nesting cap, or stopped by the
// time limit on the layout program.
#include "ConversionEntries.h"
#include "DocumentLayout.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

// `depth` tables each inside the cell of the one before, around one word.
std::string nestedTables(int depth, const std::string& word) {
    std::string html;
    for (int i = 0; i < depth; ++i)
        html += "<table><tr><td>";
    html += word;
    for (int i = 0; i < depth; ++i)
        html += "</td></tr></table>";
    return html;
}

void writeText(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

// Qt's layout time doubles with each level: twenty levels took half a minute, forty never ended.
TEST(DocumentLayoutLimits, TablesNestedPastTheCapAreRefusedAndTheOtherDocumentsAreWritten) {
    const fs::path dir = imagetest::freshDir("nested-tables");
    fs::create_directories(dir / "out");
    writeText(dir / "deep.html", "<html><body>" + nestedTables(40, "deep") + "</body></html>");
    writeText(dir / "capped.html", "<html><body>" +
                                       nestedTables(conversion::kMaxTableNesting, "capped") +
                                       "</body></html>");
    writeText(dir / "plain.txt", "plain words");
    DocumentsToPDFOptions o;
    o.outputURL = dir / "out";
    o.jobList = {dir / "capped.html", dir / "plain.txt", dir / "deep.html"};
    EXPECT_FALSE(ConvertDocumentsToPDF(&o)); // the last document failed
    EXPECT_FALSE(fs::exists(dir / "out" / "deep.pdf"));
    EXPECT_NE(pdfText(dir / "out" / "capped.pdf").find("capped"), std::string::npos);
    EXPECT_NE(pdfText(dir / "out" / "plain.pdf").find("plain words"), std::string::npos);

    conversion::DocumentLayoutRequest request;
    request.document = dir / "deep.html";
    request.print = dir / "deep-print.pdf";
    std::string error;
    EXPECT_FALSE(conversion::layOutDocumentInHelper(request, error));
    EXPECT_NE(error.find("nests tables 40 deep"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(request.print));
}

// Many tables just within the cap take long to lay out; past the limit the layout program is
// killed, no print file stays, and a cancelled layout ends the same way.
TEST(DocumentLayoutLimits, ALayoutPastItsTimeLimitOrCancelledIsKilledAndLeavesNoFile) {
    const fs::path dir = imagetest::freshDir("slow-layout");
    std::string html = "<html><body>";
    for (int i = 0; i < 40; ++i)
        html += nestedTables(conversion::kMaxTableNesting, "slow");
    writeText(dir / "slow.html", html + "</body></html>");
    conversion::DocumentLayoutRequest request;
    request.document = dir / "slow.html";
    request.print = dir / "print.pdf";
    std::string error;
    EXPECT_FALSE(
        conversion::layOutDocumentInHelper(request, error, nullptr, std::chrono::seconds(1)));
    EXPECT_EQ(error, "the layout did not finish within 1 seconds");
    EXPECT_FALSE(fs::exists(request.print));

    ProgressRecorder cancelling(3);
    EXPECT_FALSE(conversion::layOutDocumentInHelper(request, error, &cancelling));
    EXPECT_EQ(error, "cancelled");
    EXPECT_FALSE(fs::exists(request.print));
}

TEST(DocumentLayoutLimits, LayoutArgumentsCarryEveryFieldOfTheRequest) {
    conversion::DocumentLayoutRequest r;
    r.document = "/tmp/a b.html";
    r.print = "/tmp/--print.pdf";
    r.paperWidth = 595.5;
    r.paperHeight = 842;
    r.leftMargin = 1;
    r.rightMargin = 2.25;
    r.topMargin = 3;
    r.bottomMargin = 4;
    r.landscape = true;
    r.richTextAttributes = true;
    r.attributes = TextAttributes{std::string("DejaVu Serif"), 13.5, 0x336699u};
    conversion::DocumentLayoutRequest back;
    std::string error;
    ASSERT_TRUE(conversion::parseLayoutArguments(conversion::layoutArguments(r), back, error))
        << error;
    EXPECT_EQ(back.document, r.document);
    EXPECT_EQ(back.print, r.print);
    EXPECT_EQ(back.paperWidth, r.paperWidth);
    EXPECT_EQ(back.paperHeight, r.paperHeight);
    EXPECT_EQ(back.rightMargin, r.rightMargin);
    EXPECT_EQ(back.bottomMargin, r.bottomMargin);
    EXPECT_TRUE(back.landscape);
    EXPECT_TRUE(back.richTextAttributes);
    ASSERT_TRUE(back.attributes.has_value());
    EXPECT_EQ(back.attributes->fontFamily, r.attributes->fontFamily);
    EXPECT_EQ(back.attributes->fontSize, r.attributes->fontSize);
    EXPECT_EQ(back.attributes->textColor, r.attributes->textColor);
    EXPECT_FALSE(conversion::parseLayoutArguments({"--paper", "1"}, back, error));
}
