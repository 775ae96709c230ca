// `chmtool serve` answers a URL as the reader's scheme handler does: status, type, charset,
// length, and with -o the bytes themselves.
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

static QStringList serve(const QStringList& args, int expectedStatus) {
    const ToolRun run = runChmTool(QStringList{"serve", fixturePath("nested")} + args);
    EXPECT_EQ(run.status, expectedStatus) << args.join(' ').toStdString();
    return run.lines();
}

TEST(ChmToolServe, StyleSheetIsReportedAndWrittenOut) {
    const QString out = scratchDir() + "/served.css";
    const QStringList css = serve({"itss://chm/chapter1/../css/style.css", "-o", out}, 0);
    const QByteArray bytes = readWholeFile(out);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_EQ(css, (QStringList{"status: ok", "mime: text/css", "charset: windows-1252",
                                QString("length: %1").arg(bytes.size())}));
}

TEST(ChmToolServe, MissingPageIsReportedAsMissingAndStillWrittenAsTheReaderShowsIt) {
    const QString out = scratchDir() + "/missing.htm";
    const QStringList page = serve({"itss://chm/no/such%20page.htm", "-o", out}, 1);
    EXPECT_EQ(page.mid(0, 3),
              (QStringList{"status: missing", "mime: text/html", "charset: UTF-8"}));
    EXPECT_TRUE(readWholeFile(out).contains("/no/such page.htm"));
}

TEST(ChmToolServe, MissingObjectAndRelativeUrlFail) {
    for (const char* url : {"itss://chm/no-such.css", "notes/empty.txt"})
        EXPECT_EQ(serve({url}, 1),
                  (QStringList{"status: fail", "mime: ", "charset: ", "length: 0"}))
            << url;
}
