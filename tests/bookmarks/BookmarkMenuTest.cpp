// The Bookmarks menus, the manager window and the add sheet, built headless over a real store:
// titles, order and enabled state of the items, what opening and removing do.
#include "AddBookmarkSheet.h"
#include "BookmarkController.h"
#include "BookmarkManagerWindow.h"
#include "BookmarkTestSupport.h"
#include "BookmarkView.h"
#include "CHMBookmark.h"
#include "FetchRequestItem.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace bookmarktest;

namespace {

class RecordingController : public BookmarkController {
public:
    using BookmarkController::BookmarkController;
    QStringList errors;

protected:
    void reportError(const QString& message) override { errors << message; }
};

class BookmarkMenus : public ::testing::Test {
protected:
    void SetUp() override {
        folder = freshFolder();
        book = copyFixture("sample", folder, "sample.chm");
        otherBook = copyFixture("bare", folder, "bare.chm");
        BookmarkHost host;
        host.currentPage = [this](QWidget*) { return page; };
        host.openPage = [this](const QString& path, const QUrl& url) {
            opened << path + " " + url.toString();
            return true;
        };
        controller = std::make_unique<RecordingController>(host, folder);
        menu = controller->installMenu(window.menuBar(), &window);
        byTag = menu->findChild<QMenu*>("groupByTagsMenu");
        byFile = menu->findChild<QMenu*>("groupByFilesMenu");
    }
    void add(const QString& file, const QString& fileTitle, const QString& url,
             const QString& title, const QString& tags = {}) {
        ASSERT_TRUE(controller->library().addBookmark({file, url, "tab", fileTitle}, title, tags));
    }
    // Titles of the items, with "-" for separators, "!" before disabled items and "▸" after
    // items with a submenu.
    static QStringList items(QMenu* menu) {
        QStringList out;
        for (QAction* action : menu->actions())
            out << (action->isSeparator() ? QStringLiteral("-")
                                          : (action->isEnabled() ? "" : "!") + action->text() +
                                                (action->menu() ? "▸" : ""));
        return out;
    }
    static QMenu* submenu(QMenu* menu, const QString& title) {
        for (QAction* action : menu->actions()) {
            if (action->text() == title)
                return action->menu();
        }
        return nullptr;
    }
    const QStringList fixed{"Add Bookmark…", "Manage Bookmarks…", "-", "By Tag▸", "By File▸", "-"};

    QString folder, book, otherBook;
    std::optional<BookmarkPage> page;
    QStringList opened;
    QMainWindow window;
    std::unique_ptr<RecordingController> controller;
    QMenu* menu = nullptr;
    QMenu* byTag = nullptr;
    QMenu* byFile = nullptr;
};

} // namespace

TEST_F(BookmarkMenus, EmptyLibraryShowsDisabledEmptyItems) {
    controller->menuNeedsUpdate(menu);
    controller->menuNeedsUpdate(byTag);
    controller->menuNeedsUpdate(byFile);
    EXPECT_EQ(items(menu), fixed + QStringList{"!(Empty)"});
    EXPECT_EQ(items(byTag), QStringList{"!(Empty)"});
    EXPECT_EQ(items(byFile), QStringList{"!(Empty)"});
    EXPECT_TRUE(controller->errors.isEmpty());
}

TEST_F(BookmarkMenus, NewestListHoldsFifteenNewestFirstBelowTheFixedItems) {
    for (int i = 0; i < 20; ++i)
        add(book, "Sample", QString("itss://chm/p%1.htm").arg(i), QString("Page %1").arg(i));
    controller->menuNeedsUpdate(menu);
    controller->menuNeedsUpdate(menu); // refilling replaces, never adds
    const QStringList shown = items(menu);
    ASSERT_EQ(shown.size(), fixed.size() + 15);
    EXPECT_EQ(shown.mid(0, fixed.size()), fixed);
    EXPECT_EQ(shown[fixed.size()], "Page 19");
    EXPECT_EQ(shown.last(), "Page 5");
}

TEST_F(BookmarkMenus, GroupMenusListTagsAndFilesByNameAndSkipEmptyTags) {
    add(book, "Sample", "itss://chm/b.htm", "Beta & Co", "work, zeta");
    add(book, "Sample", "itss://chm/a.htm", "Alpha", "work");
    add(otherBook, "Bare", "itss://chm/index.htm", "Other home", "lonely");
    const auto lonely = CHMBookmark::bookmarkByURL("itss://chm/index.htm", otherBook,
                                                   controller->managedObjectContext());
    add(otherBook, "Bare", "itss://chm/other.htm", "Other page");
    ASSERT_TRUE(controller->library().removeBookmarks({lonely->id()}));

    controller->menuNeedsUpdate(byTag);
    EXPECT_EQ(items(byTag), (QStringList{"work▸", "zeta▸"}));
    EXPECT_EQ(items(submenu(byTag, "work")), (QStringList{"Alpha", "Beta && Co"}));
    controller->menuNeedsUpdate(byFile);
    EXPECT_EQ(items(byFile), (QStringList{"Bare▸", "Sample▸"}));
    EXPECT_EQ(items(submenu(byFile, "Bare")), QStringList{"Other page"});
}

TEST_F(BookmarkMenus, ItemsOfGoneFilesAreDisabledAndOthersOpenTheirPage) {
    add(book, "Sample", "itss://chm/tabs.htm", "Tabs");
    add(otherBook, "Bare", "itss://chm/other.htm", "Gone");
    ASSERT_TRUE(QFile::remove(otherBook));
    ASSERT_TRUE(controller->library().purge());
    controller->menuNeedsUpdate(menu);
    controller->menuNeedsUpdate(byFile);
    EXPECT_EQ(items(menu).mid(fixed.size()), (QStringList{"!Gone", "Tabs"}));
    EXPECT_EQ(items(submenu(byFile, "Bare")), QStringList{"!Gone"});

    menu->actions().last()->trigger();
    EXPECT_EQ(opened, QStringList{book + " itss://chm/tabs.htm"});
}

TEST_F(BookmarkMenus, SheetPrefillsTagsAndCancelStoresNothing) {
    page = BookmarkPage{book, "itss://chm/tabs.htm", "Tabs label", "Sample"};
    controller->showAddBookmark(&window);
    AddBookmarkSheet* sheet = controller->addPanel();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->titleField()->text(), "Tabs label");
    EXPECT_EQ(sheet->tagField()->text(), "");
    sheet->cancelButton()->click();
    EXPECT_EQ(querySql(folder + "/Bookmarks.sqlite", "SELECT count(*) FROM file"),
              QStringList{"0"});

    controller->showAddBookmark(&window);
    sheet = controller->addPanel();
    sheet->titleField()->setText("My tabs");
    sheet->tagField()->setText("ui, tabs");
    sheet->addButton()->click();
    controller->showAddBookmark(&window);
    EXPECT_EQ(controller->addPanel()->tagField()->text(), "tabs, ui");
    controller->addPanel()->addButton()->click();
    EXPECT_EQ(querySql(folder + "/Bookmarks.sqlite", "SELECT title, url FROM bookmark"),
              QStringList{"Tabs label|itss://chm/tabs.htm"}); // the title given last
    EXPECT_EQ(plistRefCount(folder + "/BookmarkURL.plist", book), 2);

    page.reset(); // a window without a page gets no sheet
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    controller->showAddBookmark(&window);
    EXPECT_FALSE(controller->addPanel());
}

TEST_F(BookmarkMenus, ManagerListsBySourceAndRemovesAtOnceByKeyAndButton) {
    add(book, "Sample", "itss://chm/a.htm", "Alpha", "work");
    add(book, "Sample", "itss://chm/b.htm", "Beta", "solo");
    add(otherBook, "Bare", "itss://chm/c.htm", "Gamma", "work");
    controller->showWindow();
    BookmarkManagerWindow* manager = controller->window();
    QTreeWidget* tree = manager->tocView();
    ASSERT_EQ(tree->topLevelItemCount(), 3); // all, tags, files
    EXPECT_EQ(tree->topLevelItem(1)->childCount(), 2);
    EXPECT_EQ(manager->bookmarkView()->rowCount(), 3);

    tree->setCurrentItem(tree->topLevelItem(1)->child(0)); // "solo"
    ASSERT_EQ(manager->bookmarkView()->rowCount(), 1);
    EXPECT_EQ(manager->bookmarkView()->item(0, 0)->text(), "Beta");
    manager->bookmarkView()->selectRow(0);
    QTest::keyClick(manager->bookmarkView(), Qt::Key_Delete);
    // Stored at once, counted down, and the emptied tag is gone from the source list.
    EXPECT_EQ(querySql(folder + "/Bookmarks.sqlite", "SELECT title FROM bookmark ORDER BY title"),
              (QStringList{"Alpha", "Gamma"}));
    EXPECT_EQ(plistRefCount(folder + "/BookmarkURL.plist", book), 1);
    EXPECT_EQ(tree->topLevelItem(1)->childCount(), 1);

    tree->setCurrentItem(tree->topLevelItem(2)->child(0)); // "Bare"
    ASSERT_EQ(manager->bookmarkView()->rowCount(), 1);
    manager->bookmarkView()->selectRow(0);
    manager->removeButton()->click();
    EXPECT_EQ(querySql(folder + "/Bookmarks.sqlite", "SELECT title FROM bookmark"),
              QStringList{"Alpha"});
    EXPECT_EQ(plistRefCount(folder + "/BookmarkURL.plist", otherBook), -1);
    manager->close(); // purges the file left without bookmarks
    EXPECT_EQ(querySql(folder + "/Bookmarks.sqlite", "SELECT title FROM file"),
              QStringList{"Sample"});
}

TEST_F(BookmarkMenus, DamagedStoreIsReportedOnceByMenusAndAgainWhenAdding) {
    controller.reset();
    QFile file(folder + "/Bookmarks.sqlite");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'q'));
    file.close();
    controller = std::make_unique<RecordingController>(
        BookmarkHost{[this](QWidget*) { return page; }, {}}, folder);
    menu = controller->installMenu(window.menuBar(), &window);
    controller->menuNeedsUpdate(menu);
    controller->menuNeedsUpdate(menu);
    EXPECT_EQ(controller->errors.size(), 1);
    EXPECT_EQ(items(menu).mid(fixed.size()), QStringList{});
    page = BookmarkPage{book, "itss://chm/tabs.htm", "Tabs", "Sample"};
    controller->showAddBookmark(&window);
    EXPECT_FALSE(controller->addPanel());
    EXPECT_EQ(controller->errors.size(), 2);
}

TEST_F(BookmarkMenus, StoreThatCannotBeWrittenIsShownWithTheReasonAndRefusesAddingAndRemoving) {
    add(book, "Sample", "itss://chm/a.htm", "Alpha", "work");
    add(otherBook, "Bare", "itss://chm/c.htm", "Gamma");
    controller.reset();
    const QString db = folder + "/Bookmarks.sqlite";
    const QFileDevice::Permissions before = QFile::permissions(db);
    ASSERT_TRUE(QFile::setPermissions(db, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    {
        PermissionBitsApply permissions;
        ASSERT_TRUE(permissions.active());
        controller = std::make_unique<RecordingController>(
            BookmarkHost{[this](QWidget*) { return page; }, {}}, folder);
        menu = controller->installMenu(window.menuBar(), &window);
        QCoreApplication::processEvents(); // the purge at start
        controller->menuNeedsUpdate(menu);
        EXPECT_EQ(items(menu).mid(fixed.size()), (QStringList{"Gamma", "Alpha"}));
        EXPECT_TRUE(controller->errors.isEmpty()) << controller->errors.join('\n').toStdString();

        controller->showWindow();
        BookmarkManagerWindow* manager = controller->window();
        EXPECT_EQ(manager->bookmarkView()->rowCount(), 2);
        EXPECT_TRUE(manager->readOnlyNotice()->isVisibleTo(manager));
        EXPECT_TRUE(manager->readOnlyNotice()->text().contains("the file is read-only"));
        EXPECT_FALSE(manager->removeButton()->isEnabled());
        manager->bookmarkView()->selectRow(0);
        QTest::keyClick(manager->bookmarkView(), Qt::Key_Delete);
        ASSERT_EQ(controller->errors.size(), 1);
        EXPECT_EQ(controller->errors.first(), manager->readOnlyNotice()->text());
        EXPECT_EQ(manager->bookmarkView()->rowCount(), 2);

        page = BookmarkPage{book, "itss://chm/tabs.htm", "Tabs", "Sample"};
        controller->showAddBookmark(&window);
        EXPECT_FALSE(controller->addPanel());
        EXPECT_EQ(controller->errors.size(), 2);
        manager->close();
        controller.reset();
    }
    ASSERT_TRUE(QFile::setPermissions(db, before));
    EXPECT_EQ(querySql(db, "SELECT title FROM bookmark ORDER BY title"),
              (QStringList{"Alpha", "Gamma"}));
}

TEST_F(BookmarkMenus, ABookThatComesBackIsEnabledAgainWhenTheMenuOpens) {
    add(otherBook, "Bare", "itss://chm/other.htm", "Away and back");
    // Moved to another folder (a rename in its own folder is followed).
    const QString away = freshFolder() + "/bare.chm";
    ASSERT_TRUE(QFile::rename(otherBook, away));
    ASSERT_TRUE(controller->library().purge());
    controller->menuNeedsUpdate(menu);
    EXPECT_EQ(items(menu).mid(fixed.size()), QStringList{"!Away and back"});

    ASSERT_TRUE(QFile::rename(away, otherBook));
    for (QMenu* each : {menu, byFile}) {
        controller->menuNeedsUpdate(each);
        const QStringList shown =
            each == menu ? items(menu).mid(fixed.size()) : items(submenu(byFile, "Bare"));
        EXPECT_EQ(shown, QStringList{"Away and back"});
    }
    // And goes again.
    ASSERT_TRUE(QFile::remove(otherBook));
    controller->menuNeedsUpdate(byTag);
    controller->menuNeedsUpdate(menu);
    EXPECT_EQ(items(menu).mid(fixed.size()), QStringList{"!Away and back"});
    EXPECT_TRUE(controller->errors.isEmpty()) << controller->errors.join('\n').toStdString();
}

TEST_F(BookmarkMenus, ManagerClosesWithEscapeAndCtrlWAndCtrlQQuitsFromIt) {
    add(book, "Sample", "itss://chm/a.htm", "Alpha");
    window.show();
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(QStringLiteral("Ctrl+W"))}) {
        controller->showWindow();
        BookmarkManagerWindow* manager = controller->window();
        ASSERT_TRUE(QTest::qWaitForWindowActive(manager));
        QTest::keySequence(manager->bookmarkView(), keys);
        EXPECT_FALSE(manager->isVisible()) << keys.toString().toStdString();
    }
    // Quit from the manager closes every window of the reader.
    controller->showWindow();
    BookmarkManagerWindow* manager = controller->window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(manager));
    QTest::keySequence(manager->tocView(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_FALSE(manager->isVisible());
    EXPECT_FALSE(window.isVisible());
}
