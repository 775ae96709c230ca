// The document window on the real web engine: pages served through "itss" with their style
// sheets, images and scripts; the contents, tabs, history, paging and zoom; what the window
// remembers of a file; and the separation of two open files.
#include "CHMDocument.h"
#include "CHMFilePreferences.h"
#include "CHMSidebar.h"
#include "CHMWebViewController.h"
#include "LinkItem.h"
#include "TestSupport.h"
#include "WindowTestFixture.h"

#include <QAction>
#include <QFile>
#include <QLayout>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWebEngineHistory>
#include <QWebEnginePage>

using webtest::runJavaScript;

namespace {

QVariant lastPathOf(CHMDocumentWindow* window) {
    return CHMFilePreferences::getPreferenceforFile(window->document()->filePath(),
                                                    QStringLiteral("last path"));
}

} // namespace

class WindowPages : public WindowTestFixture {};

TEST_F(WindowPages, FirstPageLoadsWithItsStyleSheetImageAndScript) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    QWebEnginePage* page = currentPage(window);
    EXPECT_EQ(window->currentURL(), "itss://chm/index.htm");
    // css/style.css colours the heading; images/logo.png decodes; js/script.js runs.
    EXPECT_EQ(runJavaScript(page, "getComputedStyle(document.querySelector('h1')).color"),
              "rgb(29, 79, 145)");
    EXPECT_GT(
        webtest::waitForJavaScript(page, "document.querySelector('img').naturalWidth").toInt(), 0);
    EXPECT_EQ(runJavaScript(page, "document.getElementById('js-status').textContent"),
              "script ran");
    // The reader's own sheet is added to every page.
    if (QFile::exists(testsupport::resourcesPath() + "/Lumeno.css")) {
        EXPECT_EQ(webtest::waitForJavaScript(
                      page, "document.getElementById('lumeno-user-style-sheet') !== null"),
                  true);
    }
    EXPECT_EQ(window->currentTitle(), "Welcome");
}

TEST_F(WindowPages, TabIsLabelledByItsContentsEntryElseByThePageTitle) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    webtest::LoadWatcher loads(window);
    window->loadPath("chapter1/deep/leaf2.htm");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(window->currentTitle(), "Another leaf");
    // orphan.htm has no entry: its <title> names the tab.
    window->loadPath("orphan.htm");
    ASSERT_TRUE(loads.waitForLoads(2));
    EXPECT_EQ(window->currentTitle(), "Orphan");
}

TEST_F(WindowPages, TwoFilesWithTheSamePathsShowEachTheirOwnPage) {
    CHMDocumentWindow* nested = openFixture("nested");
    CHMDocumentWindow* sample = openFixture("sample");
    ASSERT_NE(nested, nullptr);
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(nested->currentURL(), sample->currentURL());
    const QString nestedText = bodyText(currentPage(nested));
    const QString sampleText = bodyText(currentPage(sample));
    EXPECT_NE(nestedText, sampleText);
    EXPECT_TRUE(nestedText.contains("lighthouse")) << nestedText.toStdString();
    EXPECT_TRUE(sampleText.contains("Lumeno+ Sample")) << sampleText.toStdString();
}

class WindowNavigation : public WindowTestFixture {};

TEST_F(WindowNavigation, ClickInTheContentsLoadsThePageAndHistoryGoesBackAndForth) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->backAction()->isEnabled());
    webtest::LoadWatcher loads(window);

    clickTocRow(window, "Introduction");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(window->currentTitle(), "Introduction");
    EXPECT_EQ(window->tabCount(), 1);
    EXPECT_TRUE(window->backAction()->isEnabled());
    EXPECT_FALSE(window->forwardAction()->isEnabled());

    window->goBack();
    ASSERT_TRUE(loads.waitForLoads(2));
    EXPECT_EQ(currentPath(window), "/index.htm");
    EXPECT_TRUE(window->forwardAction()->isEnabled());
    EXPECT_FALSE(window->backAction()->isEnabled());

    window->goForward();
    ASSERT_TRUE(loads.waitForLoads(3));
    EXPECT_EQ(currentPath(window), "/intro.htm");
}

TEST_F(WindowNavigation, ModifierClickInTheContentsOpensTheEntryInANewTab) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    CHMWebView* first = window->curWebView();
    webtest::LoadWatcher loads(window);

    clickTocRow(window, "Introduction", Qt::ControlModifier);
    ASSERT_TRUE(loads.waitForLoads(1));
    ASSERT_EQ(window->tabCount(), 2);
    EXPECT_NE(window->curWebView(), first);
    EXPECT_EQ(loads.lastView(), window->curWebView());
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(window->currentTitle(), "Introduction");
    EXPECT_EQ(first->url().path(), "/index.htm");
    EXPECT_EQ(window->controllerAt(0)->title(), "Welcome");
}

TEST_F(WindowNavigation, ModifierClickOnAPageLinkOpensANewTabAndTheLinksTabStays) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    CHMWebView* first = window->curWebView();
    runJavaScript(first->page(), "document.querySelector('a[href=\"intro.htm\"]').id='to-intro'");
    const QPoint link = webtest::elementCenter(first->page(), "to-intro");
    webtest::LoadWatcher loads(window);

    webtest::clickInView(first, link, Qt::ControlModifier);
    ASSERT_TRUE(loads.waitForLoads(1));
    ASSERT_EQ(window->tabCount(), 2);
    EXPECT_NE(window->curWebView(), first);
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(first->url().path(), "/index.htm");
    EXPECT_FALSE(first->history()->canGoBack());
}

TEST_F(WindowNavigation, LoadInABackgroundTabLabelsThatTabAndLeavesTheSidebarAlone) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    CHMWebViewController* background = window->createWebViewInTab();
    ASSERT_EQ(window->tabCount(), 2);
    ASSERT_NE(window->curWebView(), background->webView());
    EXPECT_EQ(background->title(), CHMDocumentWindow::untitledLabel());
    webtest::LoadWatcher loads(window);

    background->webView()->load(CHMDocument::composeURL("chapter2/summary.htm"));
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(loads.lastView(), background->webView());
    EXPECT_EQ(background->title(), "Part Two");
    EXPECT_EQ(window->currentTitle(), "Welcome");
    // The contents still mark the selected tab's page.
    ASSERT_NE(window->sidebar()->selectedTocItem(), nullptr);
    EXPECT_EQ(window->sidebar()->selectedTocItem()->path(), "index.htm");
}

TEST_F(WindowNavigation, PageDownAndPageUpMoveThroughTheContentsPages) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    CHMWebView* view = window->curWebView();
    QWidget* input = view->focusProxy() ? view->focusProxy() : view;
    input->setFocus();
    webtest::LoadWatcher loads(window);

    QTest::keyClick(input, Qt::Key_PageDown);
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(runJavaScript(view->page(), "window.scrollY").toInt(), 0);

    QTest::keyClick(input, Qt::Key_PageUp);
    ASSERT_TRUE(loads.waitForLoads(2));
    EXPECT_EQ(currentPath(window), "/index.htm");
}

TEST_F(WindowNavigation, ZoomStepsAreLimitedStoredAndGivenToNewTabs) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    window->zoomIn();
    EXPECT_DOUBLE_EQ(window->curWebView()->zoomFactor(), 1.1);
    EXPECT_DOUBLE_EQ(CHMFilePreferences::globalDefault("zoom factor").toDouble(), 1.1);

    for (int i = 0; i < 30 && window->zoomOutAction()->isEnabled(); ++i)
        window->zoomOut();
    EXPECT_FALSE(window->zoomOutAction()->isEnabled());
    EXPECT_TRUE(window->zoomInAction()->isEnabled());
    EXPECT_DOUBLE_EQ(window->curWebView()->zoomFactor(), 0.25);

    webtest::LoadWatcher loads(window);
    CHMWebViewController* tab = window->addNewTab();
    window->loadPath("intro.htm");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_DOUBLE_EQ(tab->webView()->zoomFactor(), 0.25);
    const int cssWidth = runJavaScript(tab->webView()->page(), "window.innerWidth").toInt();
    EXPECT_NEAR(cssWidth, tab->webView()->width() / 0.25, 2.0);
}

TEST_F(WindowNavigation, ClosingTabsLeavesTheWindowUntilTheLastTabCloses) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    QPointer<CHMDocumentWindow> guard(window);
    window->addNewTab();
    CHMWebViewController* third = window->addNewTab();
    window->selectPreviousWebViewTabItem();
    ASSERT_EQ(window->docTabView()->currentIndex(), 1);

    window->closeTab();
    EXPECT_EQ(window->tabCount(), 2);
    EXPECT_EQ(window->curWebView(),
              window->controllerAt(window->docTabView()->currentIndex())->webView());
    EXPECT_NE(window->docTabView()->indexOf(third), -1);

    window->closeTab();
    window->closeTab();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

class WindowMemory : public WindowTestFixture {};

TEST_F(WindowMemory, ReopeningAFileShowsThePageLastRead) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(lastPathOf(window), "index.htm");
    webtest::LoadWatcher loads(window);
    window->loadPath("/chapter1/details.htm");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(lastPathOf(window), "chapter1/details.htm");
    delete window;

    CHMDocumentWindow* again = openFixture("nested");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(currentPath(again), "/chapter1/details.htm");
    EXPECT_EQ(again->currentTitle(), "Details");
}

TEST_F(WindowMemory, MissingPageIsShownButNotRememberedAsTheLastPage) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    webtest::LoadWatcher loads(window);
    window->loadPath("no/such/page.htm");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(loads.lastOk());
    EXPECT_EQ(currentPath(window), "/no/such/page.htm");
    EXPECT_EQ(lastPathOf(window), "index.htm");
}

class WindowTabs : public WindowTestFixture {};

TEST_F(WindowTabs, FindPanelTakesItsRoomOnceAndTheFocusEachTime) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    window->activateWindow();
    ASSERT_TRUE(webtest::waitUntil([&] { return window->isActiveWindow(); }));
    CHMWebViewController* tab = window->currentController();
    CHMWebViewController* other = window->createWebViewInTab();
    auto settle = [&] { tab->layout()->activate(); };
    const int fullHeight = tab->webView()->height();

    tab->showFindPanel();
    settle();
    const int shortened = tab->webView()->height();
    EXPECT_LT(shortened, fullHeight);
    EXPECT_TRUE(tab->searchField()->hasFocus());

    tab->webView()->setFocus();
    tab->showFindPanel();
    settle();
    EXPECT_EQ(tab->webView()->height(), shortened);
    EXPECT_TRUE(tab->searchField()->hasFocus());
    EXPECT_TRUE(other->findPanel()->isHidden());

    tab->hideFindPanel();
    tab->hideFindPanel();
    settle();
    EXPECT_EQ(tab->webView()->height(), fullHeight);
}

TEST_F(WindowTabs, NewTabIsUntitledAndTheOnlyTabHasNoCloseButton) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    QTabBar* bar = window->docTabView()->tabBar();
    auto closeButton = [bar](int index) {
        QWidget* right = bar->tabButton(index, QTabBar::RightSide);
        return right ? right : bar->tabButton(index, QTabBar::LeftSide);
    };
    ASSERT_NE(closeButton(0), nullptr);
    EXPECT_TRUE(closeButton(0)->isHidden());

    CHMWebViewController* added = window->addNewTab();
    EXPECT_EQ(window->currentController(), added);
    EXPECT_EQ(window->currentTitle(), CHMDocumentWindow::untitledLabel());
    EXPECT_EQ(bar->tabText(1), "(Untitled)");
    EXPECT_TRUE(window->currentURL().isNull());
    EXPECT_FALSE(closeButton(0)->isHidden());
    EXPECT_FALSE(closeButton(1)->isHidden());
}
