// The sitemaps parsed on the document's work thread: the same trees as a parse at opening, in
// the current encoding, only the newest request delivered, nothing delivered to a document that
// is gone.
#include "CHMDocument.h"
#include "CHMSitemapLoader.h"
#include "CHMTableOfContent.h"
#include "EventLoopSupport.h"
#include "LinkItem.h"
#include "TestSupport.h"

#include <QObject>
#include <QStringList>
#include <QThread>
#include <future>
#include <gtest/gtest.h>

namespace {

QStringList allNames(const CHMTableOfContent* toc) {
    QStringList names;
    if (toc)
        toc->rootItems()->enumerateItems([&names](LinkItem* item) { names << item->name(); });
    return names;
}

} // namespace

using testsupport::processEventsUntil;

TEST(SitemapLoading, BackgroundTreesMatchTheTreesParsedAtOpeningAndFollowAnEncodingChange) {
    testsupport::coreApplication();
    const QString path = testsupport::fixturePath("gbk");
    const auto reference = CHMDocument::open(path);
    ASSERT_NE(reference, nullptr);
    ASSERT_GT(reference->tocSource()->rootChildrenCount(), 0u);

    const auto document = CHMDocument::open(path, nullptr, CHMDocument::SitemapLoading::Later);
    ASSERT_NE(document, nullptr);
    // Metadata is read at opening; the trees are not.
    EXPECT_EQ(document->tocPath(), reference->tocPath());
    EXPECT_FALSE(document->areSitemapsLoaded());
    EXPECT_EQ(document->tocSource(), nullptr);

    QObject receiver;
    int deliveries = 0;
    document->setupTOCSourceInBackground(&receiver, [&deliveries] { ++deliveries; });
    // Delivered by a queued call, never from inside the request.
    EXPECT_EQ(deliveries, 0);
    ASSERT_TRUE(processEventsUntil([&] { return deliveries == 1; }));
    EXPECT_TRUE(document->areSitemapsLoaded());
    const QStringList own = allNames(document->tocSource().get());
    EXPECT_EQ(own, allNames(reference->tocSource().get()));
    // The keyword index arrives sorted, as at opening.
    EXPECT_EQ(allNames(document->indexSource().get()), allNames(reference->indexSource().get()));
    EXPECT_EQ(document->tocSource()->pageList().size(), reference->tocSource()->pageList().size());

    document->setCustomizedEncodingName(QStringLiteral("CP1252"));
    document->setupTOCSourceInBackground(&receiver, [&deliveries] { ++deliveries; });
    ASSERT_TRUE(processEventsUntil([&] { return deliveries == 2; }));
    const QStringList western = allNames(document->tocSource().get());
    ASSERT_EQ(western.size(), own.size());
    EXPECT_NE(western, own);
    // The synchronous parse in the same encoding agrees.
    document->setupTOCSource();
    EXPECT_EQ(allNames(document->tocSource().get()), western);
}

TEST(SitemapLoader, ARequestOvertakenWhileItParsesIsNotDelivered) {
    const QByteArray sitemap = "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" "
                               "value=\"Entry\"><param name=\"Local\" value=\"a.htm\"></object>"
                               "</ul>";
    std::promise<void> secondQueued;
    std::shared_future<void> released = secondQueued.get_future().share();
    std::atomic<int> reads{0};
    CHMSitemapLoader loader([&](const QString&) {
        // The first parse is held until the second request is queued.
        if (reads++ == 0)
            released.wait();
        return sitemap;
    });
    std::mutex deliveredLock;
    std::vector<quint64> delivered;
    std::promise<void> secondDone;
    auto record = [&](CHMSitemapLoader::Trees trees, quint64 generation) {
        EXPECT_EQ(allNames(trees.toc.get()), QStringList{"Entry"});
        std::lock_guard guard(deliveredLock);
        delivered.push_back(generation);
        if (generation == 2)
            secondDone.set_value();
    };
    const quint64 first = loader.load({QStringLiteral("/a.hhc"), QString(), QString()}, record);
    const quint64 second = loader.load({QStringLiteral("/a.hhc"), QString(), QString()}, record);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    secondQueued.set_value();
    ASSERT_EQ(secondDone.get_future().wait_for(std::chrono::seconds(10)),
              std::future_status::ready);
    std::lock_guard guard(deliveredLock);
    EXPECT_EQ(delivered, std::vector<quint64>{2});
}

TEST(SitemapLoading, TreesArrivingAfterTheDocumentIsGoneAreDropped) {
    testsupport::coreApplication();
    auto document = CHMDocument::open(testsupport::fixturePath("sample"), nullptr,
                                      CHMDocument::SitemapLoading::Later);
    ASSERT_NE(document, nullptr);
    QObject receiver;
    bool ran = false;
    document->setupTOCSourceInBackground(&receiver, [&ran] { ran = true; });
    // Long enough for the small book's parse to be posted to the receiver's queue.
    QThread::msleep(300);
    document.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ran);
}

TEST(SitemapLoader, DestroyingTheLoaderWhileRequestsWaitEndsWithoutDeliveringThem) {
    std::atomic<int> delivered{0};
    {
        CHMSitemapLoader loader([](const QString&) { return QByteArray("<li>").repeated(200000); });
        for (int i = 0; i < 5; ++i)
            loader.load({QStringLiteral("/a.hhc"), QStringLiteral("/a.hhk"), QString()},
                        [&delivered](CHMSitemapLoader::Trees, quint64) { ++delivered; });
    }
    // Only the newest request may have been delivered, and only if it ended before the
    // loader did.
    EXPECT_LE(delivered.load(), 1);
}

TEST(SitemapLoader, AParseToldToStopReadsNoFurtherEntries) {
    const QByteArray sitemap = QByteArray("<li><param name=Name value=E>").repeated(100000);
    std::atomic<bool> stop{false};
    EXPECT_EQ(CHMTableOfContent(sitemap, QString(), &stop).rootChildrenCount(), 100000u);
    // Set before the parse begins: the first entry ends it, and nothing of it is kept.
    stop = true;
    EXPECT_EQ(CHMTableOfContent(sitemap, QString(), &stop).rootChildrenCount(), 0u);
}
