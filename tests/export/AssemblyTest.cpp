// The assembly on the web engine's own prints of the "links" book: outline, links and pages of
// the written PDF, read back with qpdf and Poppler; and on a print made here with what the
// engine's prints lack (inherited page attributes, plain streams, a newer PDF version).
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportTestData.h"
#include "LinkItem.h"
#include "StreamingPDFWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>
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

// Files may grow to 16 KB only while it lives, as on a disk that is nearly full (root included).
class SmallFileLimit {
public:
    SmallFileLimit() {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = m_saved;
        small.rlim_cur = 16 * 1024;
        m_set = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~SmallFileLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    bool set() const { return m_set; }

private:
    struct rlimit m_saved {};
    void (*m_handler)(int) = nullptr;
    bool m_set = false;
};

void writeOldExport(const QString& path) {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous export");
}

void expectOnlyTheOldExport(const QString& path) {
    EXPECT_EQ(testsupport::readWholeFile(path), QByteArray("the previous export"));
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(path).fileName()});
}

// A print of two pages of the tool's own making: the first shows `text` with the font and the
// page size its page tree hands down, through a content stream stored plain, and carries a link
// to `linkTarget` whose action is an object of its own and a note that names the second page; the
// second page is blank.
QByteArray craftedPrint(const char* text, const char* linkTarget) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle pages = pdf.getRoot().getKey("/Pages");
    QPDFObjectHandle font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    QPDFObjectHandle resources = QPDFObjectHandle::parse("<< /Font << >> >>");
    resources.getKey("/Font").replaceKey("/F1", font);
    pages.replaceKey("/Resources", resources);
    pages.replaceKey("/MediaBox", QPDFObjectHandle::parse("[0 0 595 842]"));
    const auto page = [&](const std::string& content) {
        QPDFObjectHandle made =
            pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page >>"));
        made.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
        made.replaceKey("/Parent", pages);
        return made;
    };
    QPDFObjectHandle first = page(std::string("BT /F1 24 Tf 72 700 Td (") + text + ") Tj ET");
    QPDFObjectHandle second = page("");
    QPDFObjectHandle action = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /S /URI >>"));
    action.replaceKey("/URI", QPDFObjectHandle::newString(linkTarget));
    QPDFObjectHandle link = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Link /Rect [72 690 300 730] >>"));
    link.replaceKey("/A", action);
    QPDFObjectHandle note = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Text /Rect [400 700 420 720] /Contents (note) >>"));
    note.replaceKey("/P", second);
    QPDFObjectHandle annotations = QPDFObjectHandle::newArray();
    annotations.appendItem(link);
    annotations.appendItem(note);
    first.replaceKey("/Annots", annotations);
    QPDFObjectHandle kids = QPDFObjectHandle::newArray();
    kids.appendItem(first);
    kids.appendItem(second);
    pages.replaceKey("/Kids", kids);
    pages.replaceKey("/Count", QPDFObjectHandle::newInteger(2));
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setCompressStreams(false);
    writer.setMinimumPDFVersion("1.7");
    writer.write();
    const std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
    return QByteArray(reinterpret_cast<const char*>(written->getBuffer()),
                      static_cast<qsizetype>(written->getSize()));
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

TEST(ExportAssembly, WrittenFileIsSoundToQpdf) {
    const Export e = writtenLinksBook(nullptr, QStringLiteral("sound.pdf"));
    ASSERT_TRUE(e.exporter);
    const testsupport::ToolRun check =
        testsupport::runProgram(QStringLiteral("qpdf"), {QStringLiteral("--check"), e.output});
    // 0: no error and no warning on any object, stream or cross-reference entry.
    EXPECT_EQ(check.status, 0) << check.out.toStdString() << check.err.toStdString();
    EXPECT_TRUE(check.out.contains("No syntax or stream encoding errors"))
        << check.out.toStdString();
}

TEST(ExportAssembly, DiskThatFillsWhilePagesAreAppendedFailsTheWriteAndKeepsTheOldFile) {
    Export e;
    e.document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    ASSERT_TRUE(e.document);
    e.output = QDir(freshFolder(QStringLiteral("filling.d"))).filePath(QStringLiteral("kept.pdf"));
    writeOldExport(e.output);
    e.exporter = std::make_unique<CHMExporter>(*e.document, e.output,
                                               e.document->tocSource()->pageList(), nullptr);
    {
        const SmallFileLimit limit;
        ASSERT_TRUE(limit.set());
        replay(*e.exporter, storedPrints());
    }
    // Every page was still taken: only writing them failed.
    EXPECT_EQ(e.exporter->outputPageCount(), 17);
    e.exporter->GenerateTableOfContents(e.document->tocSource()->rootItems());
    QString error;
    EXPECT_FALSE(e.exporter->WritePDFData(&error));
    EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
    expectOnlyTheOldExport(e.output);
}

TEST(ExportAssembly, ExportAbandonedAfterItsPagesLeavesNoFileAndTheOldOneUntouched) {
    Export e;
    e.document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    ASSERT_TRUE(e.document);
    e.output =
        QDir(freshFolder(QStringLiteral("abandoned.d"))).filePath(QStringLiteral("kept.pdf"));
    writeOldExport(e.output);
    e.exporter = std::make_unique<CHMExporter>(*e.document, e.output,
                                               e.document->tocSource()->pageList(), nullptr);
    replay(*e.exporter, storedPrints());
    ASSERT_GT(e.exporter->spilledStreams(), 0u); // the pages went to the file as they came
    e.exporter.reset();
    expectOnlyTheOldExport(e.output);
}

TEST(ExportAssembly, PrintOfAnotherMakeKeepsItsInheritedAttributesPlainStreamsAndVersion) {
    std::vector<LinkItemPtr> items{
        std::make_shared<LinkItem>(QStringLiteral("A"), QStringLiteral("a.htm")),
        std::make_shared<LinkItem>(QStringLiteral("B"), QStringLiteral("b.htm"))};
    const QString output =
        QDir(freshFolder(QStringLiteral("crafted.d"))).filePath(QStringLiteral("crafted.pdf"));
    CHMExporter exporter(nullptr, output, ExportPageList(items), nullptr);
    QString error;
    ASSERT_TRUE(exporter.addPrintedPage(craftedPrint("First page", "itss://chm/b.htm"),
                                        PageTextContent(), &error))
        << error.toStdString();
    ASSERT_TRUE(exporter.addPrintedPage(craftedPrint("Second page", "itss://chm/a.htm"),
                                        PageTextContent(), &error))
        << error.toStdString();
    // The blank second page of each print is left out.
    ASSERT_EQ(exporter.outputPageCount(), 2);
    for (int i = 0; i < exporter.outputPageCount(); ++i)
        exporter.ResolveDestination(i);
    ASSERT_TRUE(exporter.WritePDFData(&error)) << error.toStdString();

    // Shown with the font and on the paper the page tree handed down.
    EXPECT_EQ(pageTexts(output), (QStringList{"First page\n\f", "Second page\n\f"}));
    EXPECT_TRUE(testsupport::readWholeFile(output).startsWith("%PDF-1.7\n"));
    const std::vector<Link> all = links(output);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].targetPage, 1);
    EXPECT_EQ(all[1].targetPage, 0);
    // The notes that named a page left out name nothing, and the file is sound.
    const testsupport::ToolRun check =
        testsupport::runProgram(QStringLiteral("qpdf"), {QStringLiteral("--check"), output});
    EXPECT_EQ(check.status, 0) << check.out.toStdString() << check.err.toStdString();
}
