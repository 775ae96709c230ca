// `chmtool serve` answers a URL as the reader's scheme handler does: status, type, charset,
// length, and with -o the bytes themselves.
#include "TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace testsupport;

static QStringList serve(const QStringList& args, int expectedStatus) {
    QProcess p;
    p.start(chmtoolPath(), QStringList{"serve", fixturePath("nested")} + args);
    p.waitForFinished(120000);
    EXPECT_EQ(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, expectedStatus)
        << args.join(' ').toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

TEST(ChmToolServe, StyleSheetAndMissingPageAreReportedAndWrittenOut) {
    const QString out = scratchDir() + "/served";
    const QStringList css = serve({"itss://chm/chapter1/../css/style.css", "-o", out}, 0);
    const QByteArray bytes = readWholeFile(out);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_EQ(css, (QStringList{"status: ok", "mime: text/css", "charset: windows-1252",
                                QString("length: %1").arg(bytes.size())}));
    // A missing page is served as the reader's own page, which names it.
    const QStringList page = serve({"itss://chm/no/such%20page.htm", "-o", out}, 0);
    EXPECT_EQ(page.mid(0, 3), (QStringList{"status: ok", "mime: text/html", "charset: UTF-8"}));
    EXPECT_TRUE(readWholeFile(out).contains("/no/such page.htm"));
}

TEST(ChmToolServe, MissingObjectUpperCaseSchemeAndRelativeUrlFail) {
    for (const char* url : {"itss://chm/no-such.css", "ITSS://chm/index.htm", "notes/empty.txt"})
        EXPECT_EQ(serve({url}, 1),
                  (QStringList{"status: fail", "mime: ", "charset: ", "length: 0"}))
            << url;
}
