// The sidebar widgets on real sitemap trees: the item model (plain, filtered and result trees),
// the lists' selection rules (user selections load pages, the window's own do not), the
// right-click and new-tab gestures, and the sidebar splitter's width rules and stored width.
#include "CHMFilePreferences.h"
#include "CHMOutlineView.h"
#include "CHMSearchResult.h"
#include "CHMSidebar.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "LinkItemModel.h"
#include "SidebarSplitter.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

QByteArray entry(const char* name, const char* local) {
    return QByteArray("<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"") + name +
           "\"><param name=\"Local\" value=\"" + local + "\"></object>";
}

// Introduction | Guide > (Install > (Linux, Windows), Usage) | Reference > (API) | Appendix
std::shared_ptr<CHMTableOfContent> contents() {
    const QByteArray sitemap =
        "<html><body><ul>" + entry("Introduction", "intro.htm") +
        entry("Guide", "guide/index.htm") + "<ul>" + entry("Install", "guide/install.htm") +
        "<ul>" + entry("Linux", "guide/install/linux.htm") +
        entry("Windows", "guide/install/windows.htm") + "</ul>" +
        entry("Usage", "guide/usage.htm") + "</ul>" + entry("Reference", "ref/index.htm") + "<ul>" +
        entry("API", "ref/api.htm") + "</ul>" + entry("Appendix", "appendix.htm") +
        "</ul></body></html>";
    return std::make_shared<CHMTableOfContent>(sitemap, QString());
}

// Alpha > (alpha sub) | abacus | Beta | ABC > (abc child)
std::shared_ptr<CHMTableOfContent> keywordIndex() {
    const QByteArray sitemap =
        "<ul>" + entry("Alpha", "a.htm") + "<ul>" + entry("alpha sub", "a.htm#sub") + "</ul>" +
        entry("abacus", "b.htm") + entry("Beta", "c.htm") + entry("ABC", "d.htm") + "<ul>" +
        entry("abc child", "d.htm#c") + "</ul></ul>";
    return std::make_shared<CHMTableOfContent>(sitemap, QString());
}

// Collects what QAbstractItemModelTester finds wrong while a test runs.
class ModelFailures {
public:
    ModelFailures() { s_previous = qInstallMessageHandler(&ModelFailures::handle); }
    ~ModelFailures() {
        qInstallMessageHandler(s_previous);
        s_messages.clear();
    }
    const QStringList& messages() const { return s_messages; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtWarningMsg && context.category &&
            QByteArray(context.category) == "qt.modeltest") {
            s_messages << text;
        }
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QStringList s_messages;
};

QString nameAt(const QAbstractItemModel& model, const QModelIndex& index) {
    return model.data(index, Qt::DisplayRole).toString();
}

// ---- the item model ----------------------------------------------------------------------

TEST(LinkItemModel, ShowsTheRootsChildrenAsTopLevelWithTheirNames) {
    LinkItemModel model;
    model.setTree(contents());
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(nameAt(model, model.index(0, 0)), "Introduction");
    EXPECT_EQ(nameAt(model, model.index(3, 0)), "Appendix");
    EXPECT_FALSE(model.parent(model.index(1, 0)).isValid());
    EXPECT_EQ(model.columnCount(), 1);
    EXPECT_FALSE(model.index(0, 1).isValid());
    EXPECT_FALSE(model.index(4, 0).isValid());
}

TEST(LinkItemModel, NestedRowsKnowTheirParents) {
    LinkItemModel model;
    model.setTree(contents());
    const QModelIndex guide = model.index(1, 0);
    ASSERT_EQ(model.rowCount(guide), 2);
    const QModelIndex install = model.index(0, 0, guide);
    const QModelIndex windows = model.index(1, 0, install);
    EXPECT_EQ(nameAt(model, windows), "Windows");
    EXPECT_EQ(model.parent(windows), install);
    EXPECT_EQ(model.parent(install), guide);
    EXPECT_EQ(model.itemForIndex(windows)->path(), "guide/install/windows.htm");
}

TEST(LinkItemModel, OnlyRowsWithChildrenAreExpandable) {
    LinkItemModel model;
    model.setTree(contents());
    EXPECT_FALSE(model.hasChildren(model.index(0, 0))); // Introduction
    EXPECT_TRUE(model.hasChildren(model.index(1, 0)));  // Guide
    EXPECT_TRUE(model.hasChildren());
}

TEST(LinkItemModel, IndexForItemFindsDeepItemsAndRejectsForeignOnes) {
    auto toc = contents();
    LinkItemModel model;
    model.setTree(toc);
    LinkItem* linuxPage = toc->itemForPath("guide/install/linux.htm", nullptr);
    ASSERT_NE(linuxPage, nullptr);
    const QModelIndex index = model.indexForItem(linuxPage);
    EXPECT_EQ(model.itemForIndex(index), linuxPage);
    EXPECT_EQ(nameAt(model, model.parent(model.parent(index))), "Guide");

    auto other = contents();
    EXPECT_FALSE(model.indexForItem(other->itemForPath("intro.htm", nullptr)).isValid());
    EXPECT_FALSE(model.indexForItem(toc->rootItems()).isValid());
    EXPECT_FALSE(model.indexForItem(nullptr).isValid());
}

TEST(LinkItemModel, PassesTheModelConsistencyChecks) {
    ModelFailures failures;
    LinkItemModel model;
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    model.setTree(contents());
    model.setTree(keywordIndex());
    model.setTree(nullptr);
    EXPECT_TRUE(failures.messages().isEmpty()) << failures.messages().join("\n").toStdString();
}

TEST(LinkItemModel, NullTreeIsAnEmptyModel) {
    LinkItemModel model;
    model.setTree(nullptr);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.hasChildren());
    EXPECT_FALSE(model.index(0, 0).isValid());
    EXPECT_EQ(model.itemForIndex(QModelIndex()), nullptr);
}

// A filtered tree shares its top-level items, whose parent() is the source tree's root.
TEST(LinkItemModelFiltered, SharedTopLevelItemsAreTopLevelRows) {
    auto index = keywordIndex();
    std::shared_ptr<CHMTableOfContent> filtered =
        CHMTableOfContent::filterByNamePrefix(index.get(), "ab");
    LinkItemModel model;
    model.setTree(filtered);
    ASSERT_EQ(model.rowCount(), 2);
    const QModelIndex abc = model.index(1, 0);
    EXPECT_EQ(nameAt(model, model.index(0, 0)), "abacus");
    EXPECT_EQ(nameAt(model, abc), "ABC");
    EXPECT_EQ(model.itemForIndex(abc)->parent(), index->rootItems());
    EXPECT_FALSE(model.parent(abc).isValid());

    const QModelIndex child = model.index(0, 0, abc);
    EXPECT_EQ(nameAt(model, child), "abc child");
    EXPECT_EQ(model.parent(child), abc);
    EXPECT_EQ(model.indexForItem(model.itemForIndex(child)), child);
}

TEST(LinkItemModelFiltered, ItemsLeftOutByTheFilterHaveNoIndex) {
    auto index = keywordIndex();
    std::shared_ptr<CHMTableOfContent> filtered =
        CHMTableOfContent::filterByNamePrefix(index.get(), "ab");
    LinkItemModel model;
    model.setTree(filtered);
    LinkItem* alphaSub = index->rootItems()->childAtIndex(0)->childAtIndex(0);
    ASSERT_EQ(alphaSub->name(), "alpha sub");
    EXPECT_FALSE(model.indexForItem(alphaSub).isValid());
}

TEST(LinkItemModelFiltered, StaysConsistentAfterTheSourceTreeIsGone) {
    ModelFailures failures;
    auto index = keywordIndex();
    std::shared_ptr<CHMTableOfContent> filtered =
        CHMTableOfContent::filterByNamePrefix(index.get(), "a");
    index.reset();
    LinkItemModel model;
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    model.setTree(filtered);
    ASSERT_EQ(model.rowCount(), 3);
    const QModelIndex alpha = model.index(0, 0);
    EXPECT_EQ(model.parent(model.index(0, 0, alpha)), alpha);
    EXPECT_TRUE(failures.messages().isEmpty()) << failures.messages().join("\n").toStdString();
}

TEST(LinkItemModelResults, ListsTheHitsAsAFlatList) {
    auto toc = contents();
    auto result = std::make_shared<CHMSearchResult>(toc, nullptr);
    ASSERT_TRUE(result->addPath("/ref/api.htm", 0.5f));
    ASSERT_TRUE(result->addPath("/intro.htm", 0.9f));
    result->sort();
    LinkItemModel model;
    model.setTree(result);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(nameAt(model, model.index(0, 0)), "Introduction");
    EXPECT_EQ(nameAt(model, model.index(1, 0)), "API");
    EXPECT_FALSE(model.hasChildren(model.index(1, 0)));
}

// ---- the sidebar's lists ------------------------------------------------------------------

class SidebarTest : public ::testing::Test {
protected:
    void SetUp() override {
        toc = contents();
        index = keywordIndex();
        sidebar.setTocSource(toc);
        sidebar.setIndexSource(index);
        sidebar.resize(300, 600);
        sidebar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&sidebar));
        QObject::connect(&sidebar, &CHMSidebar::changeTopic,
                         [this](LinkItem* item) { topics.push_back(item); });
        QObject::connect(&sidebar, &CHMSidebar::openInNewTab,
                         [this](LinkItem* item) { newTabs.push_back(item); });
    }
    void TearDown() override { sidebar.tocView()->contextMenu()->hide(); }

    QPoint rowCenter(CHMOutlineView* view, LinkItem* item) {
        auto* model = static_cast<LinkItemModel*>(view->model());
        const QModelIndex row = model->indexForItem(item);
        view->scrollTo(row);
        return view->visualRect(row).center();
    }
    // What a real double click delivers: press, release, double click, release.
    static void doubleClick(CHMOutlineView* view, QPoint at) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
    }
    LinkItem* tocItem(const char* path) { return toc->itemForPath(path, nullptr); }
    bool isExpanded(LinkItem* item) {
        auto* model = static_cast<LinkItemModel*>(sidebar.tocView()->model());
        return sidebar.tocView()->isExpanded(model->indexForItem(item));
    }

    std::shared_ptr<CHMTableOfContent> toc;
    std::shared_ptr<CHMTableOfContent> index;
    CHMSidebar sidebar;
    std::vector<LinkItem*> topics;
    std::vector<LinkItem*> newTabs;
};

TEST_F(SidebarTest, HasThreeListsNamedByTheirIdentifiers) {
    QTabWidget* tabs = sidebar.tabWidget();
    ASSERT_EQ(tabs->count(), 3);
    const QStringList identifiers{"Contents", "Index", "Search"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), identifiers[i]);
        EXPECT_EQ(tabs->tabText(i), identifiers[i]);
        EXPECT_TRUE(qobject_cast<CHMOutlineView*>(tabs->widget(i)));
    }
    EXPECT_EQ(sidebar.currentListIdentifier(), "Contents");
    EXPECT_TRUE(sidebar.showList("Search"));
    EXPECT_EQ(sidebar.currentListIdentifier(), "Search");
    EXPECT_FALSE(sidebar.showList("Bookmarks"));
    EXPECT_EQ(sidebar.currentListIdentifier(), "Search");
}

TEST_F(SidebarTest, LocateExpandsAncestorsAndSelectsTheRowWithoutLoadingIt) {
    LinkItem* linuxPage = tocItem("guide/install/linux.htm");
    EXPECT_EQ(sidebar.locateTOC("/guide/install/linux.htm"), linuxPage);
    EXPECT_TRUE(isExpanded(tocItem("guide/index.htm")));
    EXPECT_TRUE(isExpanded(tocItem("guide/install.htm")));
    EXPECT_FALSE(isExpanded(tocItem("ref/index.htm")));
    EXPECT_EQ(sidebar.selectedTocItem(), linuxPage);
    EXPECT_EQ(sidebar.tocView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, LocateReplacesTheSelection) {
    sidebar.locateTOC("intro.htm");
    sidebar.locateTOC("/ref/api.htm");
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("ref/api.htm"));
    EXPECT_EQ(sidebar.tocView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, LocatingAPageWithoutEntryClearsTheContentsSelection) {
    sidebar.locateTOC("intro.htm");
    EXPECT_EQ(sidebar.locateTOC("elsewhere.htm"), nullptr);
    EXPECT_EQ(sidebar.selectedTocItem(), nullptr);
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, LocateWithoutContentsDoesNothing) {
    sidebar.setTocSource(nullptr);
    EXPECT_EQ(sidebar.locateTOC("intro.htm"), nullptr);
    EXPECT_EQ(sidebar.selectedTocItem(), nullptr);
}

TEST_F(SidebarTest, ClickingARowLoadsItsPageOnce) {
    LinkItem* appendix = tocItem("appendix.htm");
    QTest::mouseClick(sidebar.tocView()->viewport(), Qt::LeftButton, {},
                      rowCenter(sidebar.tocView(), appendix));
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], appendix);
    // Clicking the selected row again changes no selection and loads nothing.
    QTest::mouseClick(sidebar.tocView()->viewport(), Qt::LeftButton, {},
                      rowCenter(sidebar.tocView(), appendix));
    EXPECT_EQ(topics.size(), 1u);
}

TEST_F(SidebarTest, KeyboardSelectionLoadsTheNextRow) {
    sidebar.locateTOC("intro.htm");
    sidebar.tocView()->setFocus();
    QTest::keyClick(sidebar.tocView(), Qt::Key_Down);
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], tocItem("guide/index.htm"));
}

TEST_F(SidebarTest, ClickInTheIndexListLoadsTheIndexEntry) {
    sidebar.showList("Index");
    LinkItem* beta = index->itemForPath("c.htm", nullptr);
    QTest::mouseClick(sidebar.indexView()->viewport(), Qt::LeftButton, {},
                      rowCenter(sidebar.indexView(), beta));
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], beta);
    EXPECT_EQ(sidebar.selectedItem(), beta);
    EXPECT_EQ(sidebar.selectedTocItem(), nullptr);
}

TEST_F(SidebarTest, DeselectAllClearsEveryListWithoutLoading) {
    sidebar.locateTOC("intro.htm");
    sidebar.showList("Index");
    QTest::mouseClick(sidebar.indexView()->viewport(), Qt::LeftButton, {},
                      rowCenter(sidebar.indexView(), index->itemForPath("c.htm", nullptr)));
    topics.clear();
    sidebar.deselectAll();
    EXPECT_EQ(sidebar.selectedItem(), nullptr);
    EXPECT_EQ(sidebar.selectedTocItem(), nullptr);
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, NewSourceClearsTheListWithoutLoading) {
    sidebar.locateTOC("intro.htm");
    sidebar.setTocSource(contents());
    EXPECT_EQ(sidebar.selectedTocItem(), nullptr);
    EXPECT_EQ(sidebar.tocView()->model()->rowCount(), 4);
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, SearchListShowsAFilteredIndex) {
    sidebar.setSearchSource(CHMTableOfContent::filterByNamePrefix(index.get(), "ab"));
    sidebar.showList("Search");
    LinkItem* abacus = index->itemForPath("b.htm", nullptr);
    QTest::mouseClick(sidebar.searchView()->viewport(), Qt::LeftButton, {},
                      rowCenter(sidebar.searchView(), abacus));
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], abacus);
}

TEST_F(SidebarTest, RightClickOnAnUnselectedRowSelectsItAlone) {
    sidebar.locateTOC("intro.htm");
    LinkItem* appendix = tocItem("appendix.htm");
    QTest::mouseClick(sidebar.tocView()->viewport(), Qt::RightButton, {},
                      rowCenter(sidebar.tocView(), appendix));
    EXPECT_EQ(sidebar.selectedTocItem(), appendix);
    EXPECT_EQ(sidebar.tocView()->selectionModel()->selectedRows().size(), 1);
    // A selection made by the user, like a left click: the page is loaded.
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], appendix);
}

TEST_F(SidebarTest, RightClickOnTheSelectedRowKeepsTheSelection) {
    sidebar.locateTOC("intro.htm");
    QTest::mouseClick(sidebar.tocView()->viewport(), Qt::RightButton, {},
                      rowCenter(sidebar.tocView(), tocItem("intro.htm")));
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("intro.htm"));
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, RightClickBelowTheLastRowKeepsTheSelection) {
    sidebar.locateTOC("ref/api.htm");
    CHMOutlineView* view = sidebar.tocView();
    const QPoint lastRow = rowCenter(view, tocItem("appendix.htm"));
    const QPoint below(lastRow.x(),
                       lastRow.y() + 4 * view->visualRect(view->currentIndex()).height());
    ASSERT_LT(below.y(), view->viewport()->height());
    ASSERT_FALSE(view->indexAt(below).isValid());
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, below);
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("ref/api.htm"));
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, ContextMenuOpensTheSelectedRowHereOrInANewTab) {
    CHMOutlineView* view = sidebar.tocView();
    sidebar.locateTOC("ref/api.htm");
    QContextMenuEvent event(QContextMenuEvent::Mouse, rowCenter(view, tocItem("ref/api.htm")),
                            view->viewport()->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(view->viewport(), &event);
    QMenu* menu = view->contextMenu();
    EXPECT_TRUE(menu->isVisible());
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0]->text(), "Open");
    EXPECT_EQ(actions[1]->text(), "Open in New Tab");
    menu->hide();

    actions[0]->trigger();
    actions[1]->trigger();
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], tocItem("ref/api.htm"));
    ASSERT_EQ(newTabs.size(), 1u);
    EXPECT_EQ(newTabs[0], tocItem("ref/api.htm"));
}

TEST_F(SidebarTest, ContextMenuWithoutSelectionOffersNothing) {
    CHMOutlineView* view = sidebar.tocView();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                            view->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view->viewport(), &event);
    for (QAction* action : view->contextMenu()->actions()) {
        EXPECT_FALSE(action->isEnabled());
    }
}

TEST_F(SidebarTest, DoubleClickOpensTheRowInANewTab) {
    LinkItem* usage = tocItem("guide/usage.htm");
    sidebar.locateTOC("guide/usage.htm");
    doubleClick(sidebar.tocView(), rowCenter(sidebar.tocView(), usage));
    ASSERT_EQ(newTabs.size(), 1u);
    EXPECT_EQ(newTabs[0], usage);
    // The row was selected already: the current tab loads nothing.
    EXPECT_TRUE(topics.empty());
    EXPECT_TRUE(isExpanded(tocItem("guide/index.htm")));
}

TEST_F(SidebarTest, DoubleClickOnAParentRowDoesNotFoldIt) {
    LinkItem* guide = tocItem("guide/index.htm");
    sidebar.locateTOC("guide/usage.htm");
    doubleClick(sidebar.tocView(), rowCenter(sidebar.tocView(), guide));
    EXPECT_TRUE(isExpanded(guide));
    ASSERT_EQ(newTabs.size(), 1u);
    EXPECT_EQ(newTabs[0], guide);
    // Its first click selected the row, which loaded it in the current tab.
    ASSERT_EQ(topics.size(), 1u);
    EXPECT_EQ(topics[0], guide);
}

TEST_F(SidebarTest, ModifierClickOpensANewTabAndKeepsTheSelection) {
    sidebar.locateTOC("intro.htm");
    for (Qt::KeyboardModifier modifier : {Qt::ControlModifier, Qt::ShiftModifier}) {
        QTest::mouseClick(sidebar.tocView()->viewport(), Qt::LeftButton, modifier,
                          rowCenter(sidebar.tocView(), tocItem("appendix.htm")));
    }
    ASSERT_EQ(newTabs.size(), 2u);
    EXPECT_EQ(newTabs[0], tocItem("appendix.htm"));
    EXPECT_EQ(newTabs[1], tocItem("appendix.htm"));
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("intro.htm"));
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, ReturnInTheSearchFieldRequestsASearch) {
    QStringList requests;
    QObject::connect(&sidebar, &CHMSidebar::searchRequested,
                     [&requests](const QString& text) { requests << text; });
    QLineEdit* field = sidebar.searchField();
    EXPECT_EQ(field->placeholderText(), "Search");
    EXPECT_TRUE(field->isClearButtonEnabled());
    field->setFocus();
    QTest::keyClicks(field, "install");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(requests, QStringList{"install"});
}

// ---- the splitter -------------------------------------------------------------------------

class SidebarSplitterTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 1000;

    void SetUp() override {
        QSettings("Lumeno", "Lumeno+").remove(SidebarSplitter::kWidthKey);
        splitter.addWidget(new QWidget);
        splitter.addWidget(new QWidget);
        splitter.resize(kWidth, 400);
        splitter.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&splitter));
        QObject::connect(&splitter, &SidebarSplitter::sidebarVisibilityChanged,
                         [this](bool shown) { visibility.push_back(shown); });
    }

    static void storeWidth(double width) {
        CHMFilePreferences::setGlobalDefault(SidebarSplitter::kWidthKey, width);
    }
    static QVariant storedWidth() {
        return CHMFilePreferences::globalDefault(SidebarSplitter::kWidthKey);
    }
    int sidebarWidth() const { return splitter.sizes().value(0); }

    // Drags the divider with the mouse so that it ends at x (before any constraint).
    void dragDivider(int x) {
        QSplitterHandle* handle = splitter.handle(1);
        const QPoint grab(handle->width() / 2, 10);
        auto send = [&](QEvent::Type type, QPoint local, Qt::MouseButton button,
                        Qt::MouseButtons buttons) {
            QMouseEvent event(type, local, handle->mapToGlobal(local), button, buttons,
                              Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        send(QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
        const QPoint target = handle->mapFrom(&splitter, QPoint(x + grab.x(), 10));
        send(QEvent::MouseMove, target, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, target, Qt::LeftButton, Qt::NoButton);
    }

    SidebarSplitter splitter;
    std::vector<bool> visibility;
};

TEST_F(SidebarSplitterTest, NarrowOrMissingStoredWidthRestoresAt250) {
    splitter.restoreSidebar();
    EXPECT_EQ(sidebarWidth(), 250);
    storeWidth(180);
    splitter.restoreSidebar();
    EXPECT_EQ(sidebarWidth(), 250);
    storeWidth(0);
    splitter.restoreSidebar();
    EXPECT_EQ(sidebarWidth(), 250);
}

TEST_F(SidebarSplitterTest, StoredWidthAbove250IsRestored) {
    storeWidth(320);
    splitter.restoreSidebar();
    EXPECT_TRUE(splitter.isSidebarRestored());
    EXPECT_EQ(sidebarWidth(), 320);
    EXPECT_EQ(splitter.sizes().value(1), kWidth - 320 - splitter.handleWidth());
}

TEST_F(SidebarSplitterTest, HideFoldsTheSidebarAndReportsIt) {
    splitter.restoreSidebar();
    splitter.hideSidebar();
    EXPECT_FALSE(splitter.isSidebarRestored());
    EXPECT_EQ(sidebarWidth(), 0);
    EXPECT_EQ(visibility, (std::vector<bool>{true, false}));
}

TEST_F(SidebarSplitterTest, ToggleHidesASidebarWiderThan240) {
    storeWidth(241);
    splitter.restoreSidebar();
    ASSERT_EQ(sidebarWidth(), 250); // a shown sidebar is never narrower
    splitter.hideSidebar();
    dragDivider(241); // a hidden sidebar's divider is not held
    ASSERT_EQ(sidebarWidth(), 241);
    splitter.toggleSidebar();
    EXPECT_FALSE(splitter.isSidebarRestored());
    EXPECT_EQ(sidebarWidth(), 0);
}

TEST_F(SidebarSplitterTest, ToggleRestoresASidebarExactly240Wide) {
    storeWidth(300);
    splitter.hideSidebar();
    dragDivider(240);
    ASSERT_EQ(sidebarWidth(), 240);
    splitter.toggleSidebar();
    EXPECT_TRUE(splitter.isSidebarRestored());
    EXPECT_EQ(sidebarWidth(), 300);
}

TEST_F(SidebarSplitterTest, ToggleTwiceComesBackAtTheStoredWidth) {
    storeWidth(330);
    splitter.restoreSidebar();
    splitter.toggleSidebar();
    EXPECT_EQ(sidebarWidth(), 0);
    splitter.toggleSidebar();
    EXPECT_EQ(sidebarWidth(), 330);
    EXPECT_EQ(visibility, (std::vector<bool>{true, false, true}));
}

TEST_F(SidebarSplitterTest, DragOfAShownSidebarIsHeldBetween250AndWidthMinus250) {
    splitter.restoreSidebar();
    dragDivider(100);
    EXPECT_EQ(sidebarWidth(), 250);
    dragDivider(kWidth - 100);
    EXPECT_EQ(sidebarWidth(), kWidth - 250);
    dragDivider(400);
    EXPECT_EQ(sidebarWidth(), 400);
}

TEST_F(SidebarSplitterTest, DraggingAShownSidebarStoresItsWidth) {
    splitter.restoreSidebar();
    dragDivider(420);
    EXPECT_EQ(storedWidth().toDouble(), 420.0);
}

TEST_F(SidebarSplitterTest, AWidthOfExactly250IsNotStored) {
    storeWidth(300);
    splitter.restoreSidebar();
    dragDivider(250);
    EXPECT_EQ(sidebarWidth(), 250);
    EXPECT_EQ(storedWidth().toDouble(), 300.0);
}

TEST_F(SidebarSplitterTest, WindowResizeKeepsTheSidebarWidth) {
    storeWidth(320);
    splitter.restoreSidebar();
    splitter.resize(kWidth + 300, 400);
    EXPECT_EQ(sidebarWidth(), 320);
    EXPECT_EQ(splitter.sizes().value(1), kWidth + 300 - 320 - splitter.handleWidth());
}

TEST_F(SidebarSplitterTest, ResizingWhileHiddenStoresNothing) {
    splitter.restoreSidebar();
    splitter.hideSidebar();
    QSettings("Lumeno", "Lumeno+").remove(SidebarSplitter::kWidthKey);
    dragDivider(400);
    splitter.resize(kWidth + 200, 400);
    EXPECT_FALSE(storedWidth().isValid());
    EXPECT_EQ(sidebarWidth(), 400);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The stored sidebar width must not reach the user's own settings.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
