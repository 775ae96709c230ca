// The export's pipeline on the web engine's own prints of the "links" book: prints read on
// worker threads and appended in page-list order give the PDF a serial export gives, nothing of a
// page outlives its turn, and stopping half-way leaves a consistent export.
#include "PrintPipeline.h"
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportTestData.h"
#include "PreparedPrint.h"
#include "TestSupport.h"

#include <QDir>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace exporttest;

namespace {

struct Book {
    std::unique_ptr<CHMDocument> document;
    std::unique_ptr<CHMExporter> exporter;
    QString output;
};

Book openLinksBook(const QString& name) {
    Book book;
    book.document = CHMDocument::open(testsupport::fixturePath(QStringLiteral("links")));
    EXPECT_TRUE(book.document);
    if (!book.document)
        return book;
    book.output = QDir(freshFolder(name + QStringLiteral(".d"))).filePath(name);
    book.exporter = std::make_unique<CHMExporter>(*book.document, book.output,
                                                  book.document->tocSource()->pageList(), nullptr);
    return book;
}

void finish(Book& book) {
    for (int i = 0; i < book.exporter->outputPageCount(); ++i)
        book.exporter->ResolveDestination(i);
    book.exporter->GenerateTableOfContents(book.document->tocSource()->rootItems());
    QString error;
    EXPECT_TRUE(book.exporter->WritePDFData(&error)) << error.toStdString();
}

// What the pipeline told, in the order it told it.
struct Told {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PrintPipeline::Outcome> outcomes;
    int mostPreparedAlive = 0;

    PrintPipeline::Done callback() {
        return [this](const PrintPipeline::Outcome& outcome) {
            const std::lock_guard lock(mutex);
            outcomes.push_back(outcome);
            mostPreparedAlive = std::max(mostPreparedAlive, PreparedPrint::liveCount());
            changed.notify_all();
        };
    }
    void waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return outcomes.size() >= count; });
    }
};

// A worker frees its print just after its turn: wait (within reason) until all are freed.
int preparedAliveOnceSettled() {
    for (int i = 0; i < 1000 && PreparedPrint::liveCount() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return PreparedPrint::liveCount();
}

void handAll(PrintPipeline& pipeline, const std::vector<StoredPrint>& prints) {
    for (const StoredPrint& print : prints) {
        if (print.pdf.isEmpty())
            pipeline.skipPage(print.path);
        else
            pipeline.addPrint(print.path, print.pdf, print.walk);
    }
}

void expectSameLinks(const std::vector<Link>& a, const std::vector<Link>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].page, b[i].page) << i;
        EXPECT_EQ(a[i].targetPage, b[i].targetPage) << i;
        EXPECT_DOUBLE_EQ(a[i].targetY, b[i].targetY) << i;
        EXPECT_EQ(a[i].uri, b[i].uri) << i;
        EXPECT_EQ(a[i].hasNamedDest, b[i].hasNamedDest) << i;
    }
}

void expectSameOutline(const std::vector<OutlineEntry>& a, const std::vector<OutlineEntry>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].title, b[i].title);
        EXPECT_EQ(a[i].targetPage, b[i].targetPage) << a[i].title.toStdString();
        EXPECT_DOUBLE_EQ(a[i].targetY, b[i].targetY) << a[i].title.toStdString();
        expectSameOutline(a[i].kids, b[i].kids);
    }
}

} // namespace

TEST(ExportPrintPipeline, PrintsReadOnWorkersGiveTheSamePDFAsASerialExport) {
    const std::vector<StoredPrint> prints = storedPrints();
    Book serial = openLinksBook(QStringLiteral("serial.pdf"));
    ASSERT_TRUE(serial.exporter);
    replay(*serial.exporter, prints);
    serial.exporter->GenerateTableOfContents(serial.document->tocSource()->rootItems());
    QString error;
    ASSERT_TRUE(serial.exporter->WritePDFData(&error)) << error.toStdString();

    Book piped = openLinksBook(QStringLiteral("piped.pdf"));
    ASSERT_TRUE(piped.exporter);
    Told told;
    {
        // On the heap, as the session holds it.
        const auto owned = std::make_unique<PrintPipeline>(*piped.exporter, told.callback());
        PrintPipeline& pipeline = *owned;
        EXPECT_GE(pipeline.workerCount(), 1u);
        // All handed in at once: later prints are read while earlier ones wait for their turn.
        handAll(pipeline, prints);
        told.waitFor(prints.size());
        EXPECT_TRUE(pipeline.idle());
    }
    ASSERT_EQ(told.outcomes.size(), prints.size());
    for (std::size_t i = 0; i < prints.size(); ++i) {
        EXPECT_EQ(told.outcomes[i].pagePath, prints[i].path) << "told out of order";
        EXPECT_EQ(told.outcomes[i].printed, !prints[i].pdf.isEmpty());
        if (told.outcomes[i].printed) {
            EXPECT_TRUE(told.outcomes[i].added) << told.outcomes[i].error.toStdString();
        }
    }
    EXPECT_EQ(told.outcomes.back().outputPages, serial.exporter->outputPageCount());
    finish(piped);

    EXPECT_EQ(pageTexts(piped.output), pageTexts(serial.output));
    expectSameLinks(links(piped.output), links(serial.output));
    expectSameOutline(outline(piped.output), outline(serial.output));
    expectLinksBookOutline(piped.output);
    expectLinksBookLinks(piped.output);
}

TEST(ExportPrintPipeline, NoPrintOutlivesItsTurnAndAtMostOnePerWorkerIsHeld) {
    const std::vector<StoredPrint> prints = storedPrints();
    Book book = openLinksBook(QStringLiteral("released.pdf"));
    ASSERT_TRUE(book.exporter);
    ASSERT_EQ(PreparedPrint::liveCount(), 0);
    Told told;
    std::size_t workers = 0;
    {
        const auto owned = std::make_unique<PrintPipeline>(*book.exporter, told.callback());
        PrintPipeline& pipeline = *owned;
        workers = pipeline.workerCount();
        EXPECT_LE(workers, PrintPipeline::kMaxPrintsInWork);
        // The book three times over: what a page leaves behind would add up.
        for (int round = 0; round < 3; ++round) {
            handAll(pipeline, prints);
            told.waitFor((round + 1) * prints.size());
            EXPECT_EQ(preparedAliveOnceSettled(), 0) << "round " << round;
            // The exporter's page list has the book once: later rounds only skip.
        }
    }
    EXPECT_GE(told.mostPreparedAlive, 1);
    EXPECT_LE(told.mostPreparedAlive, static_cast<int>(workers));
    EXPECT_EQ(PreparedPrint::liveCount(), 0);
}

TEST(ExportPrintPipeline, StoppingHalfWayKeepsWhatWasAppendedAndWritesAConsistentPDF) {
    const std::vector<StoredPrint> prints = storedPrints();
    Book book = openLinksBook(QStringLiteral("stopped.pdf"));
    ASSERT_TRUE(book.exporter);
    Told told;
    {
        const auto owned = std::make_unique<PrintPipeline>(*book.exporter, told.callback());
        PrintPipeline& pipeline = *owned;
        handAll(pipeline, prints);
        told.waitFor(2);
        // Destroyed with prints still queued or in work.
    }
    EXPECT_EQ(PreparedPrint::liveCount(), 0);
    const std::size_t done = told.outcomes.size();
    EXPECT_GE(done, 2u);
    EXPECT_LE(done, prints.size());
    // The exporter stands at the first page not done, and took every page told of.
    EXPECT_EQ(book.exporter->curPageId(), done);
    EXPECT_EQ(book.exporter->outputPageCount(), told.outcomes.back().outputPages);
    finish(book);
    EXPECT_EQ(pageTexts(book.output).size(),
              static_cast<qsizetype>(book.exporter->outputPageCount()));
}
