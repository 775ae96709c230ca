// The window shows itself and its first page before the sitemaps are parsed: the trees come from
// the document's work thread, and what depends on them (the sidebar, the tab's name, the empty
// lists' notices, the index search) follows when they arrive.
#include "CHMTableOfContent.h"
#include "WindowTestFixture.h"

#include <QLocale>
#include <QMessageBox>
#include <QTimer>

namespace {

// One entry for the home page, then entries that name no page, as short as they come.
QByteArray hostileSitemap(int entries) {
    QByteArray data = "<html><body><ul><li><object type=\"text/sitemap\"><param name=\"Name\" "
                      "value=\"Entry\"><param name=\"Local\" value=\"index.htm\"></object>";
    data += QByteArray("<li><param name=Name value=E>").repeated(entries - 1);
    data += "</ul></body></html>";
    return data;
}

// A crafted book whose "/#SYSTEM" names the contents.
QString writeBookWithSitemaps(const QString& fileName, const QByteArray& contents) {
    const QByteArray system = testsupport::systemFile({{0, QByteArray("/toc.hhc", 9)},
                                                       {2, QByteArray("index.htm", 10)},
                                                       {3, QByteArray("Startup book", 13)}});
    return testsupport::writeScratchFile(
        fileName,
        testsupport::writeChm(
            {{"/#SYSTEM", system},
             {"/index.htm", "<html><head><title>Home title</title></head><body>Home</body></html>"},
             {"/toc.hhc", contents}}));
}

class StartupWindow : public WindowTestFixture {
protected:
    // Opens the file as the reader does: the window is made (and shown) before the sitemaps are.
    CHMDocumentWindow* openDeferred(const QString& path, bool show = true) {
        auto document = openDocument(path, CHMDocument::SitemapLoading::Later);
        auto* window =
            document ? adopt(new CHMDocumentWindow(std::move(document), encodingMenu)) : nullptr;
        if (window && show)
            window->show();
        return window;
    }
};

} // namespace

TEST_F(StartupWindow, WindowAndFirstPageComeWhileATwoMillionEntrySitemapIsParsed) {
    const QString path =
        writeBookWithSitemaps(QStringLiteral("hostile-startup.chm"), hostileSitemap(2000000));
    CHMDocumentWindow* window = openDeferred(path);
    ASSERT_NE(window, nullptr);
    QSignalSpy arrived(window, &CHMDocumentWindow::sitemapsLoaded);
    webtest::LoadWatcher loads(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->areSitemapsShown());
    // Still coming, not known to be empty: no notice yet.
    EXPECT_TRUE(window->sidebar()->tocView()->emptyText().isEmpty());
    EXPECT_TRUE(window->sidebar()->indexView()->emptyText().isEmpty());
    // The event loop keeps turning, and the first page loads, while the parse runs.
    int ticks = 0;
    int ticksBeforeTrees = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        if (!window->areSitemapsShown())
            ticksBeforeTrees = ticks;
    });
    ticker.start(0);
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(loads.lastOk());
    EXPECT_FALSE(window->areSitemapsShown()) << "the page should not wait for the contents";
    EXPECT_GT(ticksBeforeTrees, 10);
    EXPECT_EQ(window->docTabView()->tabText(0), "Home title");

    ASSERT_TRUE(webtest::waitUntil([&] { return arrived.count() == 1; }, 120000));
    ticker.stop();
    EXPECT_TRUE(window->areSitemapsShown());
    // The tree keeps at most its item limit of the two million entries.
    EXPECT_EQ(window->sidebar()->tocView()->model()->rowCount(),
              static_cast<int>(CHMTableOfContent::kMaxItems));
    // The page now carries its contents entry's name.
    EXPECT_EQ(window->docTabView()->tabText(0), "Entry");
    EXPECT_FALSE(window->sidebar()->indexView()->emptyText().isEmpty());
    // The user is told that the contents were cut, and by how much.
    auto* cut = window->findChild<QMessageBox*>(QStringLiteral("cutListsMessage"));
    ASSERT_NE(cut, nullptr);
    EXPECT_TRUE(cut->text().contains(QLocale().toString(2000000 - CHMTableOfContent::kMaxItems)))
        << cut->text().toStdString();
}

TEST_F(StartupWindow, ClosingTheWindowWhileAHugeSitemapIsParsedDeliversNothingLater) {
    const QString path =
        writeBookWithSitemaps(QStringLiteral("hostile-close.chm"), hostileSitemap(1000000));
    QPointer<CHMDocumentWindow> window = openDeferred(path);
    ASSERT_NE(window, nullptr);
    webtest::LoadWatcher loads(window);
    ASSERT_TRUE(loads.waitForLoads(1));
    ASSERT_FALSE(window->areSitemapsShown());
    // The document's thread is stopped and joined with the window; a late delivery would touch
    // freed memory (caught by the sanitizers).
    delete window.data();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(window.isNull());
}

TEST_F(StartupWindow, EmptyContentsHideTheSidebarAndShowTheirNoticeOnceParsed) {
    const QString path = writeBookWithSitemaps(QStringLiteral("empty-contents.chm"),
                                               "<html><body><ul></ul></body></html>");
    CHMDocumentWindow* window = openDeferred(path);
    ASSERT_NE(window, nullptr);
    QSignalSpy arrived(window, &CHMDocumentWindow::sitemapsLoaded);
    // Shown until it is known to be empty.
    EXPECT_TRUE(window->splitView()->isSidebarRestored());
    ASSERT_TRUE(webtest::waitUntil([&] { return arrived.count() == 1; }));
    EXPECT_FALSE(window->splitView()->isSidebarRestored());
    EXPECT_EQ(window->sidebar()->tocView()->emptyText(), "This book has no table of contents.");
    EXPECT_EQ(window->sidebar()->indexView()->emptyText(), "This book has no index.");
}

TEST_F(StartupWindow, AnIndexSearchAskedBeforeTheTreesArriveRunsWhenTheyDo) {
    CHMDocumentWindow* window = openDeferred(testsupport::fixturePath("sample"));
    ASSERT_NE(window, nullptr);
    QSignalSpy arrived(window, &CHMDocumentWindow::sitemapsLoaded);
    // No event has been handled yet, so the trees cannot be here.
    ASSERT_FALSE(window->areSitemapsShown());
    window->sidebar()->searchField()->setText(QStringLiteral("book"));
    window->setSearchInIndex();
    EXPECT_NE(window->sidebar()->searchView()->emptyText(), "This book has no index.");

    ASSERT_TRUE(webtest::waitUntil([&] { return arrived.count() == 1; }));
    QAbstractItemModel* results = window->sidebar()->searchView()->model();
    ASSERT_NE(results, nullptr);
    ASSERT_GT(results->rowCount(), 0);
    EXPECT_EQ(results->index(0, 0).data().toString(), "bookmarks");
}

TEST_F(StartupWindow, WindowPaintsBeforeTheEngineStartsAndAPageAskedForMeanwhileComesFirst) {
    CHMDocumentWindow* window = openDeferred(testsupport::fixturePath("nested"), false);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isWebContentStarted());
    EXPECT_EQ(window->tabCount(), 0);
    // As a bookmark opens its page, and as Ctrl+T pressed at once would, before the first paint.
    window->loadPath(QStringLiteral("chapter1/details.htm"));
    struct PaintWatch : QObject {
        CHMDocumentWindow* window = nullptr;
        bool painted = false, startedBeforePaint = false;
        bool eventFilter(QObject* object, QEvent* event) override {
            if (!painted && event->type() == QEvent::Paint && object->isWidgetType() &&
                static_cast<QWidget*>(object)->window() == window)
                painted = true, startedBeforePaint = window->isWebContentStarted();
            return false;
        }
    } watch;
    watch.window = window;
    qApp->installEventFilter(&watch);
    webtest::LoadWatcher loads(window);
    window->show();
    ASSERT_TRUE(loads.waitForLoads(1));
    qApp->removeEventFilter(&watch);
    EXPECT_TRUE(watch.painted);
    EXPECT_FALSE(watch.startedBeforePaint) << "the engine started before the window was painted";
    EXPECT_EQ(window->tabCount(), 1);
    EXPECT_EQ(window->currentURL(), "itss://chm/chapter1/details.htm");
    // A tab asked for before the web content started comes after the first one.
    CHMDocumentWindow* second = adopt(
        new CHMDocumentWindow(openDocument(testsupport::fixturePath("nested")), encodingMenu));
    second->addNewTab();
    EXPECT_EQ(second->tabCount(), 2);
    EXPECT_EQ(second->docTabView()->currentIndex(), 1);
    webtest::LoadWatcher secondLoads(second);
    second->show();
    ASSERT_TRUE(secondLoads.waitForLoads(1));
    EXPECT_EQ(second->controllerOf(secondLoads.lastView()), second->controllerAt(0));
}
