// Whole exports on the real web engine (headless): the "links" and "sample" books to PDF,
// read back with qpdf and Poppler; cancellation; a page that never finishes loading; chmtool.
#include "CHMDocument.h"
#include "CHMExportSession.h"
#include "ExportCHMFileToPDF.h"
#include "ExportTestData.h"
#include "ExportWebProfile.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

QString pdftotext(const QString& pdf) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString writeBook(const QString& fileName, std::vector<testsupport::ChmObject> pages) {
    const QByteArray system =
        testsupport::systemFile({{2, QByteArray("index.htm", 10)}, {3, QByteArray("Crafted", 8)}});
    pages.insert(pages.begin(), testsupport::ChmObject{"/#SYSTEM", system});
    return testsupport::writeScratchFile(fileName, testsupport::writeChm(pages));
}

QString exportedText(const QString& book, const QString& folderName, int* pages = nullptr,
                     int pageTimeoutMs = 5000) {
    std::unique_ptr<CHMDocument> document = CHMDocument::open(book);
    EXPECT_TRUE(document);
    if (!document)
        return {};
    const QString output = QDir(freshFolder(folderName)).filePath(QStringLiteral("out.pdf"));
    ExportWebProfile profile(document.get());
    QString error;
    EXPECT_TRUE(exportToPDFWithConversionSettings(*document, profile.profile(), output, nullptr,
                                                  &error, pageTimeoutMs))
        << error.toStdString();
    if (pages)
        *pages = static_cast<int>(pageTexts(output).size());
    return pdftotext(output);
}

} // namespace

TEST(ExportSession, FramesArePrintedAtTheirFullHeight) {
    QByteArray longFrame = "<html><body>";
    for (int i = 0; i < 150; ++i)
        longFrame += "<p>frame line " + QByteArray::number(i) + "</p>";
    longFrame += "<p>last line of the frame</p></body></html>";
    const QString book = writeBook(
        QStringLiteral("frames.chm"),
        {{"/index.htm", "<html><body><p>frame holder</p>"
                        "<iframe src=\"inner.htm\" style=\"height:120px\"></iframe></body></html>"},
         {"/inner.htm", longFrame}});
    int pages = 0;
    const QString text = exportedText(book, QStringLiteral("frames"), &pages);
    // inner.htm is exported on its own too (6 pages). Cut to its 120 pixels, the frame would
    // leave the holder one page (its text clipped but present): 7 in all, measured; printed at
    // its full height, the holder takes as many pages as the frame's page.
    EXPECT_GE(pages, 11);
    EXPECT_TRUE(text.contains(QLatin1String("frame holder")));
    EXPECT_TRUE(text.contains(QLatin1String("frame line 75")));
    EXPECT_TRUE(text.contains(QLatin1String("last line of the frame")));
}

TEST(ExportSession, PageThatRedirectsAtOnceIsPrintedAsItsTarget) {
    const QString book = writeBook(
        QStringLiteral("redirect.chm"),
        {{"/index.htm", "<html><head><script>location.replace('target.htm')</script></head>"
                        "<body><p>never shown</p></body></html>"},
         {"/target.htm", "<html><body><p>redirect target text</p></body></html>"}});
    const QString text = exportedText(book, QStringLiteral("redirect"));
    // Once for index.htm, which became the target, and once for target.htm itself.
    EXPECT_EQ(text.count(QLatin1String("redirect target text")), 2);
    EXPECT_FALSE(text.contains(QLatin1String("never shown")));
}

TEST(ExportSession, LinksBookBecomesOnePDFWithOutlineLinksAndEveryTopicsText) {
    const QString folder = freshFolder(QStringLiteral("links-export"));
    int ticks = 0; // turns of the GUI thread's event loop while the export runs
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    CHMToPDFConversionOptions options;
    options.inputURL = testsupport::fixturePath(QStringLiteral("links"));
    options.outputFolderURL = folder;
    QString output, error;
    ASSERT_TRUE(ExportCHMFileToPDF(&options, &output, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(output).fileName(), QStringLiteral("links.pdf"));
    EXPECT_GT(ticks, 10); // the GUI thread kept turning

    const QStringList texts = pageTexts(output);
    EXPECT_EQ(texts.size(), 17); // the blank page is not there
    const QString all = pdftotext(output);
    for (const char* topic : {"Harbour Guide", "Section one", "Руководство по гавани", "港の案内",
                              "Hello", "Hidden page", "Lighthouse epilogue"})
        EXPECT_TRUE(all.contains(QString::fromUtf8(topic))) << topic;

    expectLinksBookOutline(output);
    expectLinksBookLinks(output);
}

TEST(ExportSession, SampleBookKeepsEveryTopicAndIsNumberedBesideAnEarlierExport) {
    const QString folder = freshFolder(QStringLiteral("sample-export"));
    CHMToPDFConversionOptions options;
    options.inputURL = testsupport::fixturePath(QStringLiteral("sample"));
    options.outputFolderURL = folder;
    QString first, second, error;
    ASSERT_TRUE(ExportCHMFileToPDF(&options, &first, &error)) << error.toStdString();
    ASSERT_TRUE(ExportCHMFileToPDF(&options, &second, &error)) << error.toStdString();
    EXPECT_NE(first, second);
    const QString all = pdftotext(second);
    for (const char* title : {"Exporting to PDF", "Opening a Book", "Bookmarks"})
        EXPECT_TRUE(all.contains(QLatin1String(title))) << title;
    EXPECT_FALSE(outline(second).empty());
}

TEST(ExportSession, CancellingAfterTheFirstPageWritesNothingAndLeavesNoTemporaryFile) {
    const QString folder = freshFolder(QStringLiteral("cancelled"));
    // The process has a temporary folder of its own (see the test main).
    const auto tempEntries = [] {
        QStringList entries =
            QDir(QDir::tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        entries.removeAll(QFileInfo(testsupport::scratchDir()).fileName());
        return entries;
    };
    const QStringList tempBefore = tempEntries();
    std::unique_ptr<CHMDocument> document =
        CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    ASSERT_TRUE(document);
    ExportWebProfile profile(document.get());
    const QString output = QDir(folder).filePath(QStringLiteral("links.pdf"));
    CHMExportSession session(*document, profile.profile(), output, nullptr);
    int reports = 0;
    QObject::connect(&session, &CHMExportSession::progress, [&](double, int count, const QString&) {
        // The second report comes after the first page was appended.
        if (++reports == 2) {
            EXPECT_GT(count, 0);
            session.cancel();
        }
    });
    bool ended = false, written = true;
    QEventLoop loop;
    QObject::connect(&session, &CHMExportSession::finished, [&](bool ok, const QString&) {
        ended = true;
        written = ok;
        loop.quit();
    });
    session.start();
    loop.exec();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(written);
    EXPECT_EQ(reports, 2); // no page after the cancellation
    EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_EQ(tempEntries(), tempBefore);
}

TEST(ExportSession, PageThatNeverFinishesLoadingIsGivenUpAndTheExportGoesOn) {
    const QString book = writeBook(
        QStringLiteral("looping.chm"),
        {{"/index.htm", "<html><body><p>first quokka page</p></body></html>"},
         {"/loop.htm", "<html><body><p>endless</p><script>while(true){}</script></body></html>"},
         {"/zebra.htm", "<html><body><p>last zebra page</p></body></html>"}});
    const QString all = exportedText(book, QStringLiteral("looping"), nullptr, 2000);
    EXPECT_TRUE(all.contains(QLatin1String("first quokka page")));
    EXPECT_TRUE(all.contains(QLatin1String("last zebra page")));
    EXPECT_FALSE(all.contains(QLatin1String("endless")));
}

TEST(ExportSession, BookWithNothingToPrintIsReportedAndWritesNoFile) {
    const QByteArray system = testsupport::systemFile({{3, QByteArray("Empty", 6)}});
    const QString book = testsupport::writeScratchFile(
        QStringLiteral("nothing.chm"),
        testsupport::writeChm({{"/#SYSTEM", system}, {"/style.css", "p{}"}}));
    const QString folder = freshFolder(QStringLiteral("nothing"));
    CHMToPDFConversionOptions options;
    options.inputURL = book;
    options.outputFolderURL = folder;
    QString output, error;
    EXPECT_FALSE(ExportCHMFileToPDF(&options, &output, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
}

TEST(ExportSession, ChmtoolExportPrintsProgressLinesAndAnswersWhetherItWrote) {
    const QString folder = freshFolder(QStringLiteral("chmtool"));
    const testsupport::ToolRun run = testsupport::runChmTool(
        {QStringLiteral("export"), testsupport::fixturePath(QStringLiteral("links")), folder});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.lines();
    ASSERT_GE(lines.size(), 9);
    EXPECT_EQ(lines[0], QStringLiteral("1/8 Guide"));
    EXPECT_EQ(lines[7], QStringLiteral("8/8 image.htm"));
    EXPECT_TRUE(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("links.pdf"))));

    const QString junk =
        testsupport::writeScratchFile(QStringLiteral("junk.chm"), "not a help file");
    EXPECT_EQ(testsupport::runChmTool({QStringLiteral("export"), junk, folder}).status, 1);
    EXPECT_FALSE(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("junk.pdf"))));
}
