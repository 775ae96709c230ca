// Web archives that would crash libplist, through convtool as a user runs it: refused with a
// message naming the file, no crash, and the good archive beside it still converted.
#include "HostilePlists.h"
#include "ToPDFTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace topdftest;

TEST(WebArchiveGuard, DocumentsToPDFRefusesADeeplyNestedArchiveWithAMessageAndGoesOn) {
    const fs::path dir = freshDir("hostile-webarchive");
    fs::create_directories(dir / "out");
    std::ofstream(dir / "deep.webarchive", std::ios::binary)
        << hostileplist::webArchiveWithDeepNest(100000);
    std::ofstream(dir / "doubling.webarchive", std::ios::binary)
        << hostileplist::binaryDoublingReferences(40);
    std::ofstream(dir / "shallow.webarchive", std::ios::binary)
        << hostileplist::webArchiveWithDeepNest(3);
    int status = -1;
    const std::string out = capture(
        std::string(LUMENO_CONVTOOL) + " documents-to-pdf " + shellQuote(dir / "out") + " " +
            shellQuote(dir / "deep.webarchive") + " " + shellQuote(dir / "doubling.webarchive") +
            " " + shellQuote(dir / "shallow.webarchive") + " --separate 2>&1",
        &status);
    // A normal exit: a crash would end the tool by a signal.
    EXPECT_TRUE(status == 0 || status == 1) << status << out;
    EXPECT_NE(out.find("deep.webarchive"), std::string::npos) << out;
    EXPECT_NE(out.find("nested deeper than 512 levels"), std::string::npos) << out;
    EXPECT_NE(out.find("more than 1000000 nodes"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "out" / "deep.pdf"));
    EXPECT_NE(pdfText(dir / "out" / "shallow.pdf").find("Nested page"), std::string::npos) << out;
}
