// Pages of hostile books: a script that never ends freezes its own tab at most. The window, the
// book's other tabs and other books stay usable, and closing the tab or the window ends the
// runaway renderer. An object that claims gigabytes shows as a missing page, and so does a page
// whose LZX frame would make chmlib copy from outside what it decoded.
#include "LzxCraftedBooks.h"
#include "WindowTestFixture.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <signal.h>

namespace {

// Each runaway page says so on the console before its loop starts.
const QByteArray kLoopingPage = "<html><body><p>before the loop</p>"
                                "<script>console.log('looping');while(true){}</script>"
                                "</body></html>";
// Keeps its renderer busy almost all the time, yielding only between the timer's calls.
const QByteArray kBusyIntervalPage =
    "<html><body><p>busy</p><script>setInterval(function(){console.log('looping');"
    "var end=Date.now()+1000;while(Date.now()<end){}},1)</script></body></html>";

bool processExists(qint64 pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

bool sawLooping(const QSignalSpy& messages) {
    for (const QList<QVariant>& message : messages) {
        if (message.value(0).toString() == QLatin1String("looping"))
            return true;
    }
    return false;
}

} // namespace

class HostilePage : public WindowTestFixture {
protected:
    static QString writeLoopingBook() {
        return writeCraftedBook(
            "looping.chm", "Looping",
            {{"/index.htm", "<html><body><p>looping book home</p></body></html>"},
             {"/loop.htm", kLoopingPage},
             {"/interval.htm", kBusyIntervalPage},
             {"/other.htm", "<html><body><p>other page</p></body></html>"}});
    }

    static QString writePlainBook() {
        return writeCraftedBook("plain.chm", "Plain",
                                {{"/index.htm", "<html><body><p>plain home</p></body></html>"}});
    }
    // Loads the runaway page in the window's first tab; while it runs, another page of the
    // book loads in a second tab and another book opens, and the GUI thread keeps turning.
    // Answers the runaway renderer's process id.
    qint64 runAwayAndUseTheRest(CHMDocumentWindow* window, const QString& path) {
        QSignalSpy messages(window, &CHMDocumentWindow::consoleMessage);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(5);
        QWebEnginePage* runaway = currentPage(window);
        window->loadPath(path);
        EXPECT_TRUE(webtest::waitUntil([&] { return sawLooping(messages); }));
        const qint64 pid = runaway->renderProcessPid();
        const int ticksBefore = ticks;

        window->addNewTab();
        EXPECT_TRUE(load(window, "other.htm"));
        EXPECT_TRUE(bodyText(currentPage(window)).contains("other page"));
        CHMDocumentWindow* other = openWindow(writePlainBook());
        EXPECT_NE(other, nullptr);
        EXPECT_TRUE(other && bodyText(currentPage(other)).contains("plain home"));
        EXPECT_GT(ticks, ticksBefore);
        return pid;
    }
};

TEST_F(HostilePage, EndlessScriptFreezesOnlyItsTabAndClosingTheTabEndsIt) {
    CHMDocumentWindow* window = openWindow(writeLoopingBook());
    ASSERT_NE(window, nullptr);
    const qint64 pid = runAwayAndUseTheRest(window, "loop.htm");
    ASSERT_TRUE(processExists(pid));

    window->closeTabAt(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(window->tabCount(), 1);
    EXPECT_TRUE(webtest::waitUntil([pid] { return !processExists(pid); }));
    EXPECT_TRUE(bodyText(currentPage(window)).contains("other page"));
}

TEST_F(HostilePage, BusyIntervalFreezesOnlyItsTabAndClosingTheWindowEndsIt) {
    QPointer<CHMDocumentWindow> window = openWindow(writeLoopingBook());
    ASSERT_NE(window, nullptr);
    const qint64 pid = runAwayAndUseTheRest(window, "interval.htm");
    ASSERT_TRUE(processExists(pid));

    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(webtest::waitUntil([pid] { return !processExists(pid); }));
}

TEST_F(HostilePage, TabOpenedByAPageRunsApartFromItsOpener) {
    CHMDocumentWindow* window = openWindow(writeLoopingBook());
    ASSERT_NE(window, nullptr);
    QSignalSpy messages(window, &CHMDocumentWindow::consoleMessage);
    QWebEnginePage* opener = currentPage(window);
    webtest::clickInView(window->curWebView(),
                         webtest::addElement(opener, "div", "pad",
                                             "e.onclick=function(){window.open('loop.htm');};"));
    ASSERT_TRUE(webtest::waitUntil([&] { return sawLooping(messages); }));
    ASSERT_EQ(window->tabCount(), 2);
    // The opener still answers scripts: it does not share the runaway page's renderer.
    EXPECT_TRUE(bodyText(opener).contains("looping book home"));
    window->closeTabAt(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(bodyText(opener).contains("looping book home"));
}

TEST_F(HostilePage, PageClaimingGigabytesShowsTheMissingPage) {
    const QString path =
        writeCraftedBook("claims-gigabytes.chm", "Claims",
                         {{"/index.htm", "<p>home</p>"}, {"/huge.htm", "<p>tiny</p>", 3ull << 30}});
    CHMDocumentWindow* window = openWindow(path);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(load(window, "huge.htm"));
    const QString text = bodyText(currentPage(window));
    EXPECT_TRUE(text.contains("no page at /huge.htm")) << text.toStdString();
}

TEST_F(HostilePage, PageWhoseLzxFrameCopiesFromOutsideTheWindowShowsTheMissingPage) {
    // R0 = 0x80000000 would crash the reader in chmlib's decoder; R0 = 64 would hand the page
    // the heap before the decoder's window (and the page's own script could read it).
    for (const testsupport::LzxCraftedBook& book : testsupport::hostileLzxBooks()) {
        if (book.what != QLatin1String("R0 = 0x80000000") &&
            book.what != QLatin1String("R0 = the window + 64"))
            continue;
        CHMDocumentWindow* window = openWindow(book.path);
        ASSERT_NE(window, nullptr) << book.what.toStdString();
        ASSERT_TRUE(load(window, "index.htm")) << book.what.toStdString();
        const QString text = bodyText(currentPage(window));
        EXPECT_TRUE(text.contains("no page at /index.htm")) << text.toStdString();
        EXPECT_FALSE(text.contains(testsupport::kLzxCanary)) << text.toStdString();
    }
}

TEST_F(HostilePage, KilledRendererIsToldInTheTabAndReloadBringsThePageBack) {
    CHMDocumentWindow* window = openWindow(writeLoopingBook());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(load(window, "other.htm"));
    CHMWebViewController* tab = window->currentController();
    const qint64 pid = currentPage(window)->renderProcessPid();
    ASSERT_TRUE(processExists(pid));
    EXPECT_TRUE(tab->rendererEndedPanel()->isHidden());

    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    ASSERT_TRUE(webtest::waitUntil([tab] { return tab->rendererEndedPanel()->isVisible(); }));
    EXPECT_TRUE(tab->rendererEndedLabel()->text().contains("killed"))
        << tab->rendererEndedLabel()->text().toStdString();
    EXPECT_FALSE(tab->webView()->isVisible());

    webtest::LoadWatcher loads(window);
    QTest::mouseClick(tab->reloadButton(), Qt::LeftButton);
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(loads.lastOk());
    EXPECT_TRUE(tab->rendererEndedPanel()->isHidden());
    EXPECT_TRUE(tab->webView()->isVisible());
    EXPECT_EQ(currentPath(window), "/other.htm");
    EXPECT_TRUE(bodyText(currentPage(window)).contains("other page"));
    EXPECT_NE(currentPage(window)->renderProcessPid(), pid);
}
