// `chmtool serve` answers a URL as the reader's scheme handler does: status, type, charset,
// length, and with -o the bytes themselves.
#include "TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

struct ServeRun {
    int status = -1;
    QStringList lines;
};

ServeRun serve(const QStringList& args) {
    QProcess p;
    p.start(chmtoolPath(), QStringList{"serve"} + args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
}

} // namespace

TEST(ChmToolServe, StyleSheetIsReportedWithTypeCharsetAndLengthAndWrittenOut) {
    const QString out = scratchDir() + "/style.css";
    const ServeRun run =
        serve({fixturePath("nested"), "itss://chm/chapter1/../css/style.css", "-o", out});
    EXPECT_EQ(run.status, 0);
    const QByteArray bytes = readWholeFile(out);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_EQ(run.lines, (QStringList{"status: ok", "mime: text/css", "charset: windows-1252",
                                      QString("length: %1").arg(bytes.size())}));
}

TEST(ChmToolServe, PageWithoutADeclarationGetsTheBooksCharset) {
    const ServeRun run = serve({fixturePath("gbk"), "itss://chm/nometa.htm"});
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 4);
    EXPECT_EQ(run.lines[1], "mime: text/html");
    EXPECT_EQ(run.lines[2], "charset: GBK");
}

TEST(ChmToolServe, MissingPageIsServedAsTheReadersOwnPage) {
    const QString out = scratchDir() + "/missing.html";
    const ServeRun run = serve({fixturePath("nested"), "itss://chm/no/such%20page.htm", "-o", out});
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.lines.size(), 4);
    EXPECT_EQ(run.lines[0], "status: ok");
    EXPECT_EQ(run.lines[2], "charset: UTF-8");
    EXPECT_TRUE(readWholeFile(out).contains("/no/such page.htm"));
}

TEST(ChmToolServe, MissingObjectAndUpperCaseSchemeFail) {
    for (const QString& url : {QString("itss://chm/no-such.css"), QString("ITSS://chm/index.htm"),
                               QString("notes/empty.txt")}) {
        const ServeRun run = serve({fixturePath("nested"), url});
        EXPECT_EQ(run.status, 1) << url.toStdString();
        EXPECT_EQ(run.lines, (QStringList{"status: fail", "mime: ", "charset: ", "length: 0"}))
            << url.toStdString();
    }
}
