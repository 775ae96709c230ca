// The sidebar widgets on real sitemap trees: the item model, which selections load pages, the
// right-click and new-tab gestures, and the sidebar splitter's width rules and stored width.
#include "CHMTableOfContent.h"
#include "LinkItemModel.h"
#include "WindowTestFixture.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QSettings>

namespace {

QByteArray entry(const char* name, const char* local) {
    return QByteArray("<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"") + name +
           "\"><param name=\"Local\" value=\"" + local + "\"></object>";
}

// Introduction | Guide > (Install > (Linux, Windows), Usage) | Reference > (API) | Appendix
std::shared_ptr<CHMTableOfContent> contents() {
    const QByteArray sitemap =
        "<ul>" + entry("Introduction", "intro.htm") + entry("Guide", "guide/index.htm") + "<ul>" +
        entry("Install", "guide/install.htm") + "<ul>" + entry("Linux", "guide/install/linux.htm") +
        entry("Windows", "guide/install/windows.htm") + "</ul>" +
        entry("Usage", "guide/usage.htm") + "</ul>" + entry("Reference", "ref/index.htm") + "<ul>" +
        entry("API", "ref/api.htm") + "</ul>" + entry("Appendix", "appendix.htm") + "</ul>";
    return std::make_shared<CHMTableOfContent>(sitemap, QString());
}

// A fault the tester finds aborts the test program.
constexpr auto kFatal = QAbstractItemModelTester::FailureReportingMode::Fatal;

TEST(LinkItemModel, MapsItemsToRowsOfItsOwnTreeOnlyAndSharedFilteredItemsToTopLevelRows) {
    auto toc = contents();
    LinkItemModel model;
    QAbstractItemModelTester tester(&model, kFatal);
    model.setTree(toc);
    const QModelIndex linuxRow =
        model.indexForItem(toc->itemForPath("guide/install/linux.htm", nullptr));
    EXPECT_EQ(linuxRow.data().toString(), "Linux");
    EXPECT_EQ(model.parent(model.parent(linuxRow)), model.index(1, 0));
    EXPECT_FALSE(model.indexForItem(contents()->itemForPath("intro.htm", nullptr)).isValid());
    EXPECT_FALSE(model.indexForItem(toc->rootItems()).isValid());
    EXPECT_FALSE(model.indexForItem(nullptr).isValid());
    model.setTree(nullptr);
    EXPECT_EQ(model.rowCount(), 0);
    // A filtered tree shares its top-level items, whose parent() is the source tree's root.
    std::shared_ptr<CHMTableOfContent> filtered =
        CHMTableOfContent::filterByNamePrefix(toc.get(), "ref");
    model.setTree(filtered);
    ASSERT_EQ(model.rowCount(), 1);
    const QModelIndex reference = model.index(0, 0);
    EXPECT_FALSE(model.parent(reference).isValid());
    const QModelIndex api = model.index(0, 0, reference);
    EXPECT_EQ(model.parent(api), reference);
    EXPECT_EQ(model.indexForItem(toc->itemForPath("ref/api.htm", nullptr)), api);
    EXPECT_FALSE(model.indexForItem(toc->itemForPath("guide/usage.htm", nullptr)).isValid());
    toc.reset();
    model.setTree(filtered); // the tester checks the whole model again
    EXPECT_EQ(model.index(0, 0, model.index(0, 0)).data().toString(), "API");
}

class SidebarTest : public ::testing::Test {
protected:
    void SetUp() override {
        sidebar.setTocSource(toc);
        sidebar.resize(300, 600);
        sidebar.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&sidebar));
        QObject::connect(&sidebar, &CHMSidebar::changeTopic,
                         [this](LinkItem* item) { topics.push_back(item); });
        QObject::connect(&sidebar, &CHMSidebar::openInNewTab,
                         [this](LinkItem* item) { newTabs.push_back(item); });
    }

    QPoint rowCenter(CHMOutlineView* view, LinkItem* item) {
        const QModelIndex row = static_cast<LinkItemModel*>(view->model())->indexForItem(item);
        view->scrollTo(row);
        return view->visualRect(row).center();
    }
    void click(LinkItem* item, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = {}, CHMOutlineView* view = nullptr) {
        view = view ? view : sidebar.tocView();
        QTest::mouseClick(view->viewport(), button, modifiers, rowCenter(view, item));
    }
    // What a real double click delivers: press, release, double click, release.
    void doubleClick(LinkItem* item) {
        const QPoint at = rowCenter(sidebar.tocView(), item);
        QTest::mouseClick(sidebar.tocView()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(sidebar.tocView()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(sidebar.tocView()->viewport(), Qt::LeftButton, {}, at);
    }
    LinkItem* tocItem(const char* path) { return toc->itemForPath(path, nullptr); }
    bool isExpanded(const char* path) {
        auto* model = static_cast<LinkItemModel*>(sidebar.tocView()->model());
        return sidebar.tocView()->isExpanded(model->indexForItem(tocItem(path)));
    }
    using Items = std::vector<LinkItem*>;

    std::shared_ptr<CHMTableOfContent> toc = contents();
    CHMSidebar sidebar;
    Items topics, newTabs;
};

TEST_F(SidebarTest, SearchHitsNamedAlikeStillReadApartAtTheNarrowestWidth) {
    // Two hits of one name, told apart by their places at the end of the row.
    const char* name = "Installing the application on a shared workstation";
    const QByteArray hits =
        "<ul>" + entry(name, "admin/install.htm") + entry(name, "user/install.htm") + "</ul>";
    sidebar.setSearchPlaceFunction([](const LinkItem& hit) {
        return QStringList{hit.path().startsWith("admin") ? "Guide for administrators"
                                                          : "Guide for end users"};
    });
    sidebar.setSearchSource(std::make_shared<CHMTableOfContent>(hits, QString()));
    sidebar.resize(SidebarSplitter::kMinimumWidth, 600);
    sidebar.showList(CHMSidebar::kSearch);
    CHMOutlineView* view = sidebar.searchView();
    ASSERT_EQ(view->model()->rowCount(), 2);
    // What each row shows in the width it has.
    QStringList shown;
    for (int row = 0; row < 2; ++row) {
        const QModelIndex index = view->model()->index(row, 0);
        const int width = view->visualRect(index).width();
        const QString text = index.data().toString();
        ASSERT_GT(view->fontMetrics().horizontalAdvance(text), width) << "the row must be cut";
        shown << view->fontMetrics().elidedText(text, view->textElideMode(), width);
    }
    EXPECT_NE(shown[0].toStdString(), shown[1].toStdString());
}

TEST_F(SidebarTest, LocateExpandsAncestorsAndSelectsTheRowWithoutLoadingIt) {
    sidebar.locateTOC("intro.htm");
    EXPECT_EQ(sidebar.locateTOC("/guide/install/linux.htm"), tocItem("guide/install/linux.htm"));
    EXPECT_TRUE(isExpanded("guide/index.htm"));
    EXPECT_TRUE(isExpanded("guide/install.htm"));
    EXPECT_FALSE(isExpanded("ref/index.htm"));
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("guide/install/linux.htm"));
    EXPECT_EQ(sidebar.tocView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(sidebar.locateTOC("elsewhere.htm"), nullptr);
    EXPECT_EQ(sidebar.selectedTocItem(), nullptr);
    sidebar.setTocSource(nullptr);
    EXPECT_EQ(sidebar.locateTOC("intro.htm"), nullptr);
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, ClickingARowLoadsItsPageOnceInAnyList) {
    click(tocItem("appendix.htm"));
    click(tocItem("appendix.htm"));
    sidebar.setSearchSource(CHMTableOfContent::filterByNamePrefix(toc.get(), "ref"));
    sidebar.showList("Search");
    click(tocItem("ref/api.htm"), Qt::LeftButton, {}, sidebar.searchView());
    EXPECT_EQ(topics, (Items{tocItem("appendix.htm"), tocItem("ref/api.htm")}));
}

TEST_F(SidebarTest, RightClickSelectsAnUnselectedRowAloneForItsMenuLoadsNothingAndKeepsASelection) {
    sidebar.locateTOC("intro.htm");
    click(tocItem("intro.htm"), Qt::RightButton);
    EXPECT_TRUE(topics.empty());
    // Another row becomes the selection for the menu's commands, but only they load it.
    click(tocItem("ref/api.htm"), Qt::RightButton);
    EXPECT_EQ(sidebar.tocView()->selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("ref/api.htm"));
    EXPECT_TRUE(topics.empty());
    CHMOutlineView* view = sidebar.tocView();
    const QPoint below =
        rowCenter(view, tocItem("appendix.htm")) + QPoint(0, 4 * view->sizeHintForRow(0));
    ASSERT_LT(below.y(), view->viewport()->height());
    ASSERT_FALSE(view->indexAt(below).isValid());
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, below);
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("ref/api.htm"));
    EXPECT_TRUE(topics.empty());
}

TEST_F(SidebarTest, ContextMenuOpensTheSelectedRowHereOrInANewTab) {
    CHMOutlineView* view = sidebar.tocView();
    QMenu* menu = view->contextMenu();
    auto openMenu = [view](QPoint at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
    };
    openMenu(QPoint(5, 5));
    for (QAction* action : menu->actions())
        EXPECT_FALSE(action->isEnabled()) << "nothing selected";
    sidebar.locateTOC("ref/api.htm");
    openMenu(rowCenter(view, tocItem("ref/api.htm")));
    EXPECT_TRUE(menu->isVisible());
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    menu->hide();
    actions[0]->trigger();
    actions[1]->trigger();
    EXPECT_EQ(topics, Items{tocItem("ref/api.htm")});
    EXPECT_EQ(newTabs, Items{tocItem("ref/api.htm")});
}

TEST_F(SidebarTest, DoubleClickOrModifierClickOpensANewTabWithoutFoldingTheRowOrSelectingIt) {
    sidebar.locateTOC("guide/usage.htm");
    doubleClick(tocItem("guide/usage.htm"));
    // The row was selected already: the current tab loads nothing.
    EXPECT_TRUE(topics.empty());
    doubleClick(tocItem("guide/index.htm"));
    EXPECT_TRUE(isExpanded("guide/index.htm"));
    EXPECT_EQ(newTabs, (Items{tocItem("guide/usage.htm"), tocItem("guide/index.htm")}));
    // Its first click selected the parent row, which loaded it in the current tab.
    EXPECT_EQ(topics, Items{tocItem("guide/index.htm")});
    // Modifier clicks keep the selection.
    newTabs.clear();
    click(tocItem("appendix.htm"), Qt::LeftButton, Qt::ControlModifier);
    click(tocItem("appendix.htm"), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(newTabs, (Items{tocItem("appendix.htm"), tocItem("appendix.htm")}));
    EXPECT_EQ(sidebar.selectedTocItem(), tocItem("guide/index.htm"));
    EXPECT_EQ(topics.size(), 1u);
}

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
    using Prefs = CHMFilePreferences;
    static void storeWidth(double w) { Prefs::setGlobalDefault(SidebarSplitter::kWidthKey, w); }
    static QVariant storedWidth() { return Prefs::globalDefault(SidebarSplitter::kWidthKey); }
    int sidebarWidth() const { return splitter.sizes().value(0); }
    // Drags the divider with the mouse so that it ends at x (before any constraint).
    void dragDivider(int x) {
        QSplitterHandle* handle = splitter.handle(1);
        const QPoint grab(handle->width() / 2, 10);
        const QPoint target = handle->mapFrom(&splitter, QPoint(x + grab.x(), 10));
        auto send = [handle](QEvent::Type type, QPoint at, Qt::MouseButton button,
                             Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, handle->mapToGlobal(at), button, buttons, Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        send(QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, target, Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, target, Qt::LeftButton, Qt::NoButton);
    }

    SidebarSplitter splitter;
    std::vector<bool> visibility;
};

TEST_F(SidebarSplitterTest, AShownSidebarStaysBetween250AndWidthMinus250AndStoresWiderWidths) {
    splitter.restoreSidebar();
    EXPECT_EQ(sidebarWidth(), 250) << "nothing stored";
    for (auto [stored, shown] : {std::pair{180.0, 250}, {0.0, 250}, {320.0, 320}}) {
        storeWidth(stored);
        splitter.restoreSidebar();
        EXPECT_EQ(sidebarWidth(), shown) << stored;
    }
    dragDivider(100);
    EXPECT_EQ(sidebarWidth(), 250);
    EXPECT_EQ(storedWidth().toDouble(), 320.0);
    dragDivider(kWidth - 100);
    EXPECT_EQ(sidebarWidth(), kWidth - 250);
    dragDivider(420);
    EXPECT_EQ(storedWidth().toDouble(), 420.0);
    // The page takes the whole change of the window's width.
    splitter.resize(kWidth + 300, 400);
    EXPECT_EQ(sidebarWidth(), 420);
    EXPECT_EQ(splitter.sizes().value(1), kWidth + 300 - 420 - splitter.handleWidth());
}

TEST_F(SidebarSplitterTest, ToggleHidesASidebarWiderThan240AndRestoresANarrowerOne) {
    storeWidth(300);
    splitter.restoreSidebar();
    splitter.toggleSidebar();
    EXPECT_EQ(sidebarWidth(), 0);
    // A hidden sidebar's divider is not held, and its width is not stored.
    dragDivider(400);
    splitter.resize(kWidth + 200, 400);
    EXPECT_EQ(sidebarWidth(), 400);
    EXPECT_EQ(storedWidth().toDouble(), 300.0);
    dragDivider(240);
    ASSERT_EQ(sidebarWidth(), 240);
    splitter.toggleSidebar();
    EXPECT_EQ(sidebarWidth(), 300);
    EXPECT_EQ(visibility, (std::vector<bool>{true, false, true}));
    splitter.hideSidebar();
    dragDivider(241);
    ASSERT_EQ(sidebarWidth(), 241);
    splitter.toggleSidebar();
    EXPECT_EQ(sidebarWidth(), 0);
}

} // namespace
