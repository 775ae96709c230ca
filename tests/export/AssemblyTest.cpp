// The assembly on the web engine's own prints of the "links" book: outline, links and pages of
// the written PDF, read back with qpdf and Poppler.
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportTestData.h"
#include "StreamingPDFWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <sys/resource.h>

using namespace exporttest;

namespace {

struct Export {
    std::unique_ptr<CHMDocument> document;
    std::unique_ptr<CHMExporter> exporter;
    QString output;
};

Export exportLinksBook(const CHMToPDFConversionOptions* options, const QString& name) {
    Export result;
    result.document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    EXPECT_TRUE(result.document);
    if (!result.document)
        return result;
    // A folder of its own, so that what a write leaves behind can be counted.
    result.output = QDir(freshFolder(name + QStringLiteral(".d"))).filePath(name);
    result.exporter = std::make_unique<CHMExporter>(
        *result.document, result.output, result.document->tocSource()->pageList(), options);
    replay(*result.exporter, storedPrints());
    return result;
}

Export writtenLinksBook(const CHMToPDFConversionOptions* options, const QString& name) {
    Export result = exportLinksBook(options, name);
    if (!result.exporter)
        return result;
    result.exporter->GenerateTableOfContents(result.document->tocSource()->rootItems());
    QString error;
    EXPECT_TRUE(result.exporter->WritePDFData(&error)) << error.toStdString();
    return result;
}

} // namespace

TEST(ExportAssembly, OutlineMirrorsTheContentsAndLeadsToWhereEachTargetIsPrinted) {
    expectLinksBookOutline(writtenLinksBook(nullptr, QStringLiteral("outline.pdf")).output);
}

TEST(ExportAssembly, LinksLeadToTheirTargetsAndLinksToPagesNotExportedAreRemoved) {
    expectLinksBookLinks(writtenLinksBook(nullptr, QStringLiteral("links.pdf")).output);
}

TEST(ExportAssembly, BlankPrintsAreDroppedAndEveryOtherPageIsKeptInOrder) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("pages.pdf"));
    const QStringList texts = pageTexts(e.output);
    // 4 + 4 + 3 + 3 printed pages of text, one blank page (left out), "Hello", the hidden page
    // and the picture.
    EXPECT_EQ(texts.size(), 17);
    EXPECT_EQ(e.exporter->outputPageCount(), 17);
    EXPECT_LT(pageShowing(texts, "Harbour Guide"), pageShowing(texts, "Section one"));
    EXPECT_EQ(pageShowing(texts, "Hello"), 14);
    EXPECT_EQ(pageShowing(texts, "Hidden page"), 15);
}

TEST(ExportAssembly, WithoutLinksOrOutlineTheBookLinksOnlyToTheWebAndHasNoOutline) {
    CHMToPDFConversionOptions options;
    options.exportHyperlinks = false;
    options.exportTOC = false;
    const Export e = writtenLinksBook(&options, QStringLiteral("plain.pdf"));
    const std::vector<Link> all = links(e.output);
    ASSERT_FALSE(all.empty());
    for (const Link& link : all)
        EXPECT_TRUE(link.uri.startsWith(QLatin1String("https:"))) << link.uri.toStdString();
    EXPECT_TRUE(outline(e.output).empty());
}

TEST(ExportAssembly, WriteThatRunsOutOfSpaceLeavesTheOldFileAndSaysSo) {
    Export e = exportLinksBook(nullptr, QStringLiteral("kept.pdf"));
    ASSERT_TRUE(e.exporter);
    QFile old(e.output);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous export");
    old.close();
    // Files may grow to 16 KB only, as on a disk that is nearly full (root included).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = e.exporter->WritePDFData(&error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    // The cause, not "Unknown error".
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
    EXPECT_EQ(testsupport::readWholeFile(e.output), QByteArray("the previous export"));
    EXPECT_EQ(QDir(QFileInfo(e.output).absolutePath()).entryList(QDir::Files),
              QStringList{QStringLiteral("kept.pdf")});
}

TEST(ExportAssembly, WriteOverADirectoryFailsAndLeavesNoTemporaryFile) {
    Export e = exportLinksBook(nullptr, QStringLiteral("taken"));
    ASSERT_TRUE(e.exporter);
    ASSERT_TRUE(QDir().mkpath(e.output + QStringLiteral("/inside")));
    QString error;
    EXPECT_FALSE(e.exporter->WritePDFData(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QFileInfo(e.output + QStringLiteral("/inside")).isDir());
    EXPECT_TRUE(QDir(QFileInfo(e.output).absolutePath()).entryList(QDir::Files).isEmpty());
}

TEST(ExportAssembly, EveryStreamOfThePagesWaitsOnDiskAndIsWrittenWhole) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("spilled.pdf"));
    ASSERT_TRUE(e.exporter);
    QPDF written;
    written.setSuppressWarnings(true);
    written.processFile(QFile::encodeName(e.output).constData());
    std::size_t streams = 0;
    for (QPDFObjectHandle& object : written.getAllObjects()) {
        if (!object.isStream())
            continue;
        QPDFObjectHandle type = object.getDict().getKey("/Type");
        if (type.isName() && (type.getName() == "/ObjStm" || type.getName() == "/XRef"))
            continue; // made by the writer itself
        ++streams;
        // Read back from the temporary file, it decodes as it did.
        EXPECT_NO_THROW((void)object.getStreamData(qpdf_dl_generalized))
            << object.getObjGen().unparse();
    }
    EXPECT_GT(streams, 17u); // a content stream per page, and fonts
    // Not one stream's data was held in memory until the end.
    EXPECT_EQ(e.exporter->spilledStreams(), streams);
    EXPECT_EQ(pageTexts(e.output).size(), 17);
}

TEST(ExportAssembly, EachPrintLeavesMemoryOnceItsPagesAreAppended) {
    Export e;
    e.document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    ASSERT_TRUE(e.document);
    e.output = QDir(freshFolder(QStringLiteral("held.d"))).filePath(QStringLiteral("held.pdf"));
    e.exporter = std::make_unique<CHMExporter>(*e.document, e.output,
                                               e.document->tocSource()->pageList(), nullptr);
    // What a page left behind would add up page after page: the output's objects wait in memory
    // for no more than one object stream's worth, whatever came before.
    for (const StoredPrint& print : storedPrints()) {
        ASSERT_EQ(e.exporter->currentPagePath(), print.path);
        if (print.pdf.isEmpty())
            e.exporter->skipPage();
        else
            EXPECT_TRUE(
                e.exporter->addPrintedPage(print.pdf, PageTextContent::fromWalk(print.walk)));
        EXPECT_LT(e.exporter->heldObjects(), StreamingPDFWriter::kObjectsPerStream)
            << print.path.toStdString();
    }
    EXPECT_EQ(e.exporter->outputPageCount(), 17);
}
