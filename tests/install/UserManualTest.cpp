// The user manual the build lays out: real text on several pages (what a reader of the PDF can
// search and copy), every section of its source, and the title a PDF viewer shows.
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QString pdfTool(const QString& program, const QStringList& args) {
    QProcess tool;
    tool.start(program, args);
    EXPECT_TRUE(tool.waitForFinished(60000) && tool.exitCode() == 0)
        << program.toStdString() << ": " << tool.readAllStandardError().toStdString();
    return QString::fromUtf8(tool.readAllStandardOutput());
}

// The headings of the manual's source, as they read in the PDF.
QStringList headings() {
    QFile source(QStringLiteral(LUMENO_MANUAL_SOURCE));
    EXPECT_TRUE(source.open(QIODevice::ReadOnly));
    static const QRegularExpression heading(QStringLiteral("<h[12]>(.*?)</h[12]>"));
    QStringList out;
    for (auto m = heading.globalMatch(QString::fromUtf8(source.readAll())); m.hasNext();)
        out << m.next().captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return out;
}

} // namespace

TEST(UserManual, IsSearchableTextOnSeveralPagesWithEverySectionOfItsSource) {
    const QString pdf = resourcesPath() + QStringLiteral("/Lumeno+ User Manual.pdf");
    ASSERT_TRUE(QFile::exists(pdf)) << pdf.toStdString();

    const QString info = pdfTool(QStringLiteral("pdfinfo"), {pdf});
    EXPECT_TRUE(
        info.contains(QRegularExpression(QStringLiteral("Title:\\s+Lumeno\\+ User Manual"))))
        << info.toStdString();
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    ASSERT_TRUE(pages.hasMatch());
    EXPECT_GE(pages.captured(1).toInt(), 4);

    // Lines are joined so that a heading broken across a line still reads whole.
    const QString text =
        pdfTool(QStringLiteral("pdftotext"), {"-enc", "UTF-8", pdf, "-"}).simplified();
    const QStringList expected = headings();
    ASSERT_GE(expected.size(), 10);
    for (const QString& heading : expected)
        EXPECT_TRUE(text.contains(heading)) << heading.toStdString();
}

TEST(UserManual, AFailedLayoutSaysWhyAndKeepsThePreviousManual) {
    const QString previous = writeScratchFile("manual.pdf", "%PDF-1.4 the previous manual");
    const QString emptySource = writeScratchFile("empty.html", " \n");
    for (const QString& source : {scratchDir() + "/no-such.html", emptySource}) {
        QProcess tool;
        tool.start(QStringLiteral(LUMENO_RESOURCEBUILD), {"manual", source, previous});
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), 1) << source.toStdString();
        EXPECT_TRUE(tool.readAllStandardError().contains(source.toUtf8())) << source.toStdString();
        EXPECT_EQ(readWholeFile(previous), "%PDF-1.4 the previous manual");
    }
    QProcess intoMissingFolder;
    intoMissingFolder.start(QStringLiteral(LUMENO_RESOURCEBUILD),
                            {"manual", QStringLiteral(LUMENO_MANUAL_SOURCE),
                             scratchDir() + "/no/such/folder/manual.pdf"});
    ASSERT_TRUE(intoMissingFolder.waitForFinished(60000));
    EXPECT_EQ(intoMissingFolder.exitCode(), 1);
}
