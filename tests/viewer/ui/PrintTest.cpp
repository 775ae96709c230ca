// Printing a page: the engine's own PDF output, so that the printed text stays text; every
// failure reported as one.
#include "CHMPrintJob.h"
#include "WindowTestFixture.h"

#include <QDir>
#include <QPageSize>
#include <poppler-document.h>
#include <poppler-page.h>

namespace {

CHMPrintJob::Target pdfFile(const QString& path) {
    CHMPrintJob::Target target;
    target.outputFile = path;
    target.layout =
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10));
    return target;
}

// The error finished() reported; "unfinished" when it did not report in time.
QString runJob(CHMPrintJob& job) {
    QSignalSpy finished(&job, &CHMPrintJob::finished);
    QString error;
    if (!job.start(&error))
        return error;
    if (!webtest::waitUntil([&] { return finished.size() > 0; }))
        return QStringLiteral("unfinished");
    EXPECT_EQ(finished.size(), 1);
    return finished.at(0).at(0).toString();
}

} // namespace

class Printing : public NestedWindow {};

TEST_F(Printing, PrintedPageKeepsItsTextAsText) {
    const QString out = QDir(testsupport::scratchDir()).filePath("printed.pdf");
    QFile::remove(out);
    CHMPrintJob job(currentPage(window), pdfFile(out));
    ASSERT_EQ(runJob(job), "");

    std::unique_ptr<poppler::document> pdf(poppler::document::load_from_file(out.toStdString()));
    ASSERT_NE(pdf, nullptr);
    ASSERT_GE(pdf->pages(), 1);
    std::unique_ptr<poppler::page> page(pdf->create_page(0));
    const poppler::byte_array utf8 = page->text().to_utf8();
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    EXPECT_TRUE(text.contains("lighthouse")) << text.toStdString();
    // A4 in points, as the printer's layout asked.
    EXPECT_NEAR(page->page_rect().width(), 595, 2);
}

TEST_F(Printing, FailuresAreReportedAndNeverPassForSuccess) {
    // A folder that does not exist; a printer the printing system does not know (or no printing
    // system at all).
    CHMPrintJob::Target printer = pdfFile(QString());
    printer.printerName = QStringLiteral("lumeno-no-such-printer");
    for (const CHMPrintJob::Target& target :
         {pdfFile(QDir(testsupport::scratchDir()).filePath("no/such/dir/out.pdf")), printer}) {
        CHMPrintJob job(currentPage(window), target);
        const QString error = runJob(job);
        EXPECT_FALSE(error.isEmpty() || error == "unfinished") << error.toStdString();
    }
}

TEST_F(Printing, TheLinkLastFocusedIsPrintedWithoutItsFocusRing) {
    QWebEnginePage* page = currentPage(window);
    ASSERT_EQ(webtest::runJavaScript(page, "var a = document.querySelector('a[href]'); a.focus();"
                                           "document.activeElement === a")
                  .toBool(),
              true);
    const QString out = QDir(testsupport::scratchDir()).filePath("printed-focus.pdf");
    QFile::remove(out);
    CHMPrintJob job(page, pdfFile(out));
    ASSERT_EQ(runJob(job), "");
    // The page was printed with nothing focused.
    EXPECT_EQ(webtest::runJavaScript(page, "document.activeElement === document.body").toBool(),
              true);
}
