// The document window on the real web engine: pages with their style sheets, images and scripts;
// contents, tabs, history, paging and zoom; what it remembers of a file.
#include "ToolbarCustomizer.h"
#include "WindowTestFixture.h"

#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QToolBar>
#include <QWebEngineHistory>

using webtest::runJavaScript;

namespace {

QVariant lastPathOf(CHMDocumentWindow* window) {
    return CHMFilePreferences::getPreferenceforFile(window->document()->filePath(),
                                                    QStringLiteral("last path"));
}

} // namespace

class WindowPages : public NestedWindow {};

TEST_F(WindowPages, FirstPageLoadsWithItsStyleSheetImageAndScript) {
    QWebEnginePage* page = currentPage(window);
    EXPECT_EQ(window->currentURL(), "itss://chm/index.htm");
    // css/style.css colours the heading; images/logo.png decodes; js/script.js runs.
    EXPECT_EQ(runJavaScript(page, "getComputedStyle(document.querySelector('h1')).color"),
              "rgb(29, 79, 145)");
    EXPECT_GT(
        webtest::waitForJavaScript(page, "document.querySelector('img').naturalWidth").toInt(), 0);
    EXPECT_EQ(runJavaScript(page, "document.getElementById('js-status').textContent"),
              "script ran");
    // The reader's own sheet is added to every page, whole.
    const QByteArray css = testsupport::readWholeFile(testsupport::resourcesPath() + "/Lumeno.css");
    ASSERT_FALSE(css.isEmpty());
    EXPECT_EQ(webtest::waitForJavaScript(
                  page, "document.getElementById('lumeno-user-style-sheet').textContent")
                  .toString(),
              QString::fromUtf8(css));
    EXPECT_EQ(window->currentTitle(), "Welcome");
}

class WindowNavigation : public NestedWindow {};

TEST_F(WindowNavigation, ContentsClicksHistoryAndPageKeysMoveThroughThePages) {
    EXPECT_FALSE(window->backAction()->isEnabled());
    webtest::LoadWatcher loads(window);

    clickTocRow(window, "Introduction");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(currentPath(window), "/intro.htm");
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
    // Page Up and Page Down move through the contents pages.
    CHMWebView* view = window->curWebView();
    QWidget* input = view->focusProxy() ? view->focusProxy() : view;
    input->setFocus();
    QTest::keyClick(input, Qt::Key_PageUp);
    ASSERT_TRUE(loads.waitForLoads(4));
    EXPECT_EQ(currentPath(window), "/index.htm");
    QTest::keyClick(input, Qt::Key_PageDown);
    ASSERT_TRUE(loads.waitForLoads(5));
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(runJavaScript(view->page(), "window.scrollY").toInt(), 0);
}

TEST_F(WindowNavigation, ModifierClickOnAContentsEntryOrAPageLinkOpensANewTab) {
    CHMWebView* first = window->curWebView();
    webtest::LoadWatcher loads(window);

    clickTocRow(window, "Introduction", Qt::ControlModifier);
    ASSERT_TRUE(loads.waitForLoads(1));
    ASSERT_EQ(window->tabCount(), 2);
    EXPECT_EQ(loads.lastView(), window->curWebView());
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(window->currentTitle(), "Introduction");
    EXPECT_EQ(window->controllerAt(0)->title(), "Welcome");
    // The link's own tab stays where it was, without history.
    window->docTabView()->setCurrentIndex(0);
    webtest::clickInView(first, webtest::elementCenter(first->page(), "a[href=\"intro.htm\"]"),
                         Qt::ControlModifier);
    ASSERT_TRUE(loads.waitForLoads(2));
    ASSERT_EQ(window->tabCount(), 3);
    EXPECT_NE(window->curWebView(), first);
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(first->url().path(), "/index.htm");
    EXPECT_FALSE(first->history()->canGoBack());
}

TEST_F(WindowNavigation, RightClickOpenInNewTabLoadsTheRowInTheNewTabAlone) {
    CHMWebView* first = window->curWebView();
    CHMOutlineView* view = window->sidebar()->tocView();
    const QModelIndexList found =
        view->model()->match(view->model()->index(0, 0), Qt::DisplayRole, "Introduction", 1,
                             Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(found.isEmpty());
    const QPoint row = view->visualRect(found.first()).center();
    webtest::LoadWatcher loads(window);
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, row);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, row, view->viewport()->mapToGlobal(row));
    QApplication::sendEvent(view->viewport(), &menuEvent);
    QMenu* menu = view->contextMenu();
    ASSERT_TRUE(menu->isVisible());
    QAction* newTab = menu->actions().value(1);
    ASSERT_TRUE(newTab && newTab->text() == "Open in New Tab");
    menu->hide();
    newTab->trigger();
    ASSERT_TRUE(loads.waitForLoads(1));
    // Give a load the right click might have started in the first tab the time to show.
    webtest::waitUntil([] { return false; }, 300);
    ASSERT_EQ(window->tabCount(), 2);
    EXPECT_EQ(loads.finished(), 1);
    EXPECT_EQ(currentPath(window), "/intro.htm");
    EXPECT_EQ(first->url().path(), "/index.htm");
    EXPECT_EQ(window->controllerAt(0)->title(), "Welcome");
}

TEST_F(WindowNavigation, LoadInABackgroundTabLabelsThatTabAndLeavesTheSidebarAlone) {
    CHMWebViewController* background = window->createWebViewInTab();
    ASSERT_NE(window->curWebView(), background->webView());
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

TEST_F(WindowNavigation, ZoomIsStoredGivenToNewTabsAndUndoneByActualSize) {
    window->zoomIn();
    EXPECT_DOUBLE_EQ(CHMFilePreferences::globalDefault("zoom factor").toDouble(), 1.1);
    CHMWebViewController* tab = window->addNewTab();
    ASSERT_TRUE(load(window, "intro.htm"));
    EXPECT_DOUBLE_EQ(tab->webView()->zoomFactor(), 1.1);
    const int cssWidth = runJavaScript(tab->webView()->page(), "window.innerWidth").toInt();
    EXPECT_NEAR(cssWidth, tab->webView()->width() / 1.1, 2.0);

    window->zoomIn();
    EXPECT_TRUE(window->actualSizeAction()->isEnabled());
    window->actualSizeAction()->trigger();
    EXPECT_DOUBLE_EQ(window->curWebView()->zoomFactor(), 1.0);
    EXPECT_DOUBLE_EQ(CHMFilePreferences::globalDefault("zoom factor").toDouble(), 1.0);
    EXPECT_FALSE(window->actualSizeAction()->isEnabled());
}

TEST_F(WindowNavigation, ActualSizeUndoesTheZoomByItsShortcut) {
    window->zoomIn();
    window->zoomIn();
    EXPECT_GT(window->curWebView()->zoomFactor(), 1.1);
    EXPECT_EQ(window->actualSizeAction()->shortcut(), QKeySequence("Ctrl+0"));
    ASSERT_TRUE(activate(window));
    QTest::keyClick(window, Qt::Key_0, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(window->curWebView()->zoomFactor(), 1.0);
    EXPECT_DOUBLE_EQ(CHMFilePreferences::globalDefault("zoom factor").toDouble(), 1.0);
    EXPECT_FALSE(window->actualSizeAction()->isEnabled());
}

class WindowTabs : public NestedWindow {};

TEST_F(WindowTabs, FocusGoesToTheFindPanelTheContentsOrThePageAsAskedAndThePanelFitsOnce) {
    ASSERT_TRUE(activate(window));
    CHMWebViewController* tab = window->currentController();
    CHMWebViewController* other = window->createWebViewInTab();
    const int fullHeight = tab->webView()->height();

    int shortened = 0;
    for (int round = 0; round < 2; ++round) {
        tab->webView()->setFocus();
        tab->showFindPanel();
        tab->layout()->activate();
        if (round == 0)
            shortened = tab->webView()->height();
        EXPECT_EQ(tab->webView()->height(), shortened);
        EXPECT_TRUE(tab->searchField()->hasFocus());
    }
    EXPECT_LT(shortened, fullHeight);
    EXPECT_TRUE(other->findPanel()->isHidden());
    tab->hideFindPanel();
    tab->hideFindPanel();
    tab->layout()->activate();
    EXPECT_EQ(tab->webView()->height(), fullHeight);
    // The shortcuts for the contents (shown again if hidden) and for the page.
    window->hideSidebar();
    window->focusOnContentsAction()->trigger();
    EXPECT_TRUE(window->splitView()->isSidebarRestored());
    EXPECT_TRUE(webtest::waitUntil([&] { return window->sidebar()->tocView()->hasFocus(); }));
    window->focusOnPageAction()->trigger();
    EXPECT_TRUE(webtest::waitUntil([&] {
        QWidget* focused = QApplication::focusWidget();
        return focused && window->curWebView()->isAncestorOf(focused);
    }));
}

TEST_F(WindowTabs, FindAndSearchShortcutsWorkInAWindowWithoutAMenuBar) {
    ASSERT_TRUE(activate(window));
    ASSERT_EQ(window->menuWidget(), nullptr);
    const struct {
        const char* name;
        QAction* action;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } shortcuts[] = {
        {"find", window->findAction(), Qt::Key_F, Qt::ControlModifier},
        {"find next", window->findNextAction(), Qt::Key_G, Qt::ControlModifier},
        {"find previous", window->findPreviousAction(), Qt::Key_G,
         Qt::ControlModifier | Qt::ShiftModifier},
        {"search", window->focusOnSearchAction(), Qt::Key_F,
         Qt::ControlModifier | Qt::ShiftModifier},
    };
    for (const auto& shortcut : shortcuts) {
        QSignalSpy triggered(shortcut.action, &QAction::triggered);
        QTest::keyClick(window, shortcut.key, shortcut.modifiers);
        EXPECT_EQ(triggered.count(), 1) << shortcut.name;
    }
    // Find put the tab's find bar up, and Search gave the sidebar's field the focus.
    EXPECT_FALSE(window->currentController()->findPanel()->isHidden());
    EXPECT_TRUE(webtest::waitUntil([&] { return window->sidebar()->searchField()->hasFocus(); }));
}

TEST_F(WindowTabs, TheOnlyTabHasNoCloseButtonTabsWrapRoundAndClosingTheLastClosesTheWindow) {
    QPointer<CHMDocumentWindow> guard(window);
    QTabBar* bar = window->docTabView()->tabBar();
    auto closeButton = [bar](int index) {
        QWidget* right = bar->tabButton(index, QTabBar::RightSide);
        return right ? right : bar->tabButton(index, QTabBar::LeftSide);
    };
    ASSERT_NE(closeButton(0), nullptr);
    EXPECT_TRUE(closeButton(0)->isHidden());
    window->addNewTab();
    CHMWebViewController* third = window->addNewTab();
    EXPECT_FALSE(closeButton(0)->isHidden());
    EXPECT_FALSE(closeButton(1)->isHidden());
    window->nextTabAction()->trigger();
    EXPECT_EQ(window->docTabView()->currentIndex(), 0);
    window->previousTabAction()->trigger();
    EXPECT_EQ(window->docTabView()->currentIndex(), 2);

    window->selectPreviousWebViewTabItem();
    window->closeTab(); // the middle one
    EXPECT_EQ(window->tabCount(), 2);
    EXPECT_NE(window->docTabView()->indexOf(third), -1);
    window->closeTab();
    window->closeTab();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
}

TEST_F(WindowTabs, TabIsNamedByItsContentsEntryEvenAnAnchorsElseByThePageTitleElseUntitled) {
    webtest::LoadWatcher loads(window);
    clickTocRow(window, "Getting started");
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(window->currentURL(), "itss://chm/intro.htm#start");
    EXPECT_EQ(window->currentTitle(), "Getting started");
    ASSERT_NE(window->sidebar()->selectedTocItem(), nullptr);
    EXPECT_EQ(window->sidebar()->selectedTocItem()->name(), "Getting started");
    // A move to another anchor of the same page selects that anchor's row.
    runJavaScript(currentPage(window), "location.hash = 'background'");
    EXPECT_TRUE(webtest::waitUntil([&] {
        const LinkItem* item = window->sidebar()->selectedTocItem();
        return item && item->name() == "Background";
    }));
    ASSERT_TRUE(load(window, "chapter1/deep/leaf2.htm"));
    EXPECT_EQ(window->currentTitle(), "Another leaf");
    // orphan.htm has no entry: its <title> names the tab.
    ASSERT_TRUE(load(window, "orphan.htm"));
    EXPECT_EQ(window->currentTitle(), "Orphan");
    window->addNewTab();
    EXPECT_EQ(window->docTabView()->tabBar()->tabText(1), "(Untitled)");
    EXPECT_TRUE(window->currentURL().isNull());
}

TEST_F(WindowTabs, SamePageAnchorMovesRenameTheTabAfterTheirContentsEntry) {
    ASSERT_TRUE(load(window, "intro.htm#start"));
    EXPECT_EQ(window->currentTitle(), "Getting started");
    // The page's own link to its other anchor: no load, only a move within the page.
    webtest::clickInView(window->curWebView(),
                         webtest::elementCenter(currentPage(window), "a[href=\"#background\"]"));
    EXPECT_TRUE(webtest::waitUntil([&] { return window->currentTitle() == "Background"; }))
        << window->currentTitle().toStdString();
    EXPECT_EQ(window->docTabView()->tabText(0), "Background");
    // Back to the first anchor, within the page again.
    window->goBack();
    EXPECT_TRUE(webtest::waitUntil([&] { return window->currentTitle() == "Getting started"; }))
        << window->currentTitle().toStdString();
    // A tab in the background is renamed as well.
    CHMWebViewController* first = window->currentController();
    window->addNewTab();
    runJavaScript(first->webView()->page(), "location.hash = 'background'");
    EXPECT_TRUE(webtest::waitUntil([&] { return first->title() == "Background"; }))
        << first->title().toStdString();
}

class WindowChrome : public NestedWindow {};

TEST_F(WindowChrome, TheNextWindowGetsTheLastSizeAndToolbarAndThePageLastReadButNoMissingPage) {
    EXPECT_EQ(lastPathOf(window), "index.htm");
    ASSERT_TRUE(load(window, "/chapter1/details.htm"));
    EXPECT_EQ(lastPathOf(window), "chapter1/details.htm");
    // The reader's page for a missing page is shown, but not remembered.
    ASSERT_TRUE(load(window, "no/such/page.htm"));
    EXPECT_EQ(currentPath(window), "/no/such/page.htm");
    EXPECT_EQ(lastPathOf(window), "chapter1/details.htm");
    window->setGeometry(40, 50, 900, 640);
    const QSize size = window->size();
    ASSERT_TRUE(window->toolbarCustomizer());
    // Hidden from the toolbar, still in the menus: the action itself stays visible.
    window->toolbarCustomizer()->setState({"print", "zoomOut"}, Qt::ToolButtonTextUnderIcon);
    EXPECT_FALSE(window->mainToolbar()->actions().contains(window->printAction()));
    EXPECT_TRUE(window->printAction()->isVisible());
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    CHMDocumentWindow* again = openFixture("nested");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(currentPath(again), "/chapter1/details.htm");
    EXPECT_EQ(again->currentTitle(), "Details");
    EXPECT_EQ(again->size(), size);
    const QList<QAction*> shown = again->mainToolbar()->actions();
    EXPECT_FALSE(shown.contains(again->printAction()));
    EXPECT_FALSE(shown.contains(again->zoomOutAction()));
    EXPECT_TRUE(shown.contains(again->zoomInAction()));
    EXPECT_EQ(again->mainToolbar()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    // No two separators in a row where the print group went.
    for (int i = 1; i < shown.size(); ++i)
        EXPECT_FALSE(shown[i]->isSeparator() && shown[i - 1]->isSeparator()) << i;
    // The dialog lists every item with its state; OK keeps what it shows.
    QWidget* dialog = again->customizeToolbar();
    auto* list = dialog->findChild<QListWidget*>("toolbarItems");
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(Qt::Checked);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_TRUE(again->mainToolbar()->actions().contains(again->printAction()));
    EXPECT_TRUE(ToolbarCustomizer::savedHiddenItems().isEmpty());
}

TEST_F(WindowChrome, FullScreenComesAndGoesWithTheMenuItemsText) {
    for (bool full : {true, false}) {
        EXPECT_EQ(window->fullScreenAction()->text(),
                  full ? "Enter Full Screen" : "Exit Full Screen");
        window->fullScreenAction()->trigger();
        EXPECT_TRUE(webtest::waitUntil([&] { return window->isFullScreen() == full; }));
    }
    EXPECT_EQ(window->fullScreenAction()->text(), "Enter Full Screen");
}

TEST_F(WindowChrome, F11AndThePlatformsKeyBothToggleFullScreen) {
    EXPECT_TRUE(window->fullScreenAction()->shortcuts().contains(QKeySequence(Qt::Key_F11)));
    EXPECT_TRUE(
        window->fullScreenAction()->shortcuts().contains(QKeySequence(QKeySequence::FullScreen)));
    ASSERT_TRUE(activate(window));
    for (bool full : {true, false}) {
        QTest::keyClick(window, Qt::Key_F11);
        EXPECT_TRUE(webtest::waitUntil([&] { return window->isFullScreen() == full; })) << full;
    }
}

TEST_F(WindowChrome, ContextMenuOffersOnlyWhatTheReaderSupportsAndThatWorks) {
    CHMWebView* view = window->curWebView();
    QPointer<QMenu> shown;
    QObject::connect(view, &CHMWebView::contextMenuShown, [&](QMenu* menu) { shown = menu; });
    QWidget* input = view->focusProxy() ? view->focusProxy() : view;
    const QPoint spot = webtest::elementCenter(view->page(), "a[href=\"intro.htm\"]");
    QTest::mousePress(input, Qt::RightButton, {}, spot);
    QTest::mouseRelease(input, Qt::RightButton, {}, spot);
    ASSERT_TRUE(webtest::waitUntil([&] { return !shown.isNull(); }));
    const QList<QAction*> items = shown->actions();
    for (auto unsupported :
         {QWebEnginePage::ViewSource, QWebEnginePage::SavePage, QWebEnginePage::InspectElement,
          QWebEnginePage::DownloadLinkToDisk, QWebEnginePage::OpenLinkInNewWindow})
        EXPECT_FALSE(items.contains(view->pageAction(unsupported))) << int(unsupported);
    // What is left does what it says: the link opens in a new tab.
    QAction* newTab = view->pageAction(QWebEnginePage::OpenLinkInNewTab);
    ASSERT_TRUE(items.contains(newTab));
    webtest::LoadWatcher loads(window);
    newTab->trigger();
    shown->close();
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_EQ(window->tabCount(), 2);
    EXPECT_EQ(currentPath(window), "/intro.htm");
}
