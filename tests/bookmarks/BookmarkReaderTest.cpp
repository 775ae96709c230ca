// The bookmark library in the reader on the real web engine, across a restart: nothing of the
// first run but the files in the user's data folder is left when the second starts.
#include "BookmarkController.h"
#include "BookmarkStore.h"
#include "BookmarkTestSupport.h"
#include "CHMDocument.h"
#include "CHMDocumentWindow.h"
#include "CHMWebView.h"
#include "LumenoApplication.h"
#include "WebTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <gtest/gtest.h>

using namespace bookmarktest;

namespace {

class RecordingApplication : public LumenoApplication {
public:
    QStringList errors;

protected:
    void reportError(QWidget*, const QString& message) override { errors << message; }
};

CHMDocumentWindow* openAndWait(LumenoApplication& app, const QString& path) {
    CHMDocumentWindow* window = app.openFile(path);
    if (!window)
        return nullptr;
    webtest::LoadWatcher watcher(window);
    return watcher.waitForLoads() ? window : nullptr;
}

bool showPage(CHMDocumentWindow* window, const QString& url) {
    webtest::LoadWatcher watcher(window);
    window->loadURL(QUrl(url));
    return webtest::waitUntil(
        [&] { return watcher.finished() > 0 && window->currentURL() == url; });
}

// Adds a bookmark of the window's page through its menu and the sheet, as the user would.
void addBookmarkFromMenu(LumenoApplication& app, CHMDocumentWindow* window, const QString& title,
                         const QString& tags) {
    auto* add = window->menuBar()->findChild<QAction*>("addBookmarkAction");
    ASSERT_TRUE(add);
    add->trigger();
    AddBookmarkSheet* sheet = app.bookmarkController()->addPanel();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    sheet->titleField()->setText(title);
    sheet->tagField()->setText(tags);
    sheet->addButton()->click();
}

QMenu* shownMenu(CHMDocumentWindow* window, const char* name) {
    auto* menu = window->menuBar()->findChild<QMenu*>(name);
    if (menu)
        emit menu->aboutToShow();
    return menu;
}

QAction* itemTitled(QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

} // namespace

TEST(BookmarkReader, BookmarkAddedInOneRunOpensItsPageInTheNext) {
    QSettings(QStringLiteral("Lumeno"), QStringLiteral("Lumeno+")).clear();
    const QString books = freshFolder();
    const QString book = copyFixture("sample", books, "sample.chm");
    const QString copy = copyFixture("sample", books, "sample copy.chm");
    const QString bare = copyFixture("bare", books, "bare.chm");
    const QString folder = BookmarkStore::applicationSupportFolder();
    ASSERT_TRUE(folder.startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
    const QString db = folder + "/Bookmarks.sqlite";

    { // First run: the same inner page bookmarked in two files.
        auto app = std::make_unique<RecordingApplication>();
        CHMDocumentWindow* first = openAndWait(*app, book);
        ASSERT_TRUE(first);
        ASSERT_TRUE(showPage(first, "itss://chm/tabs.htm"));
        addBookmarkFromMenu(*app, first, "Tabs chapter", "gui, tabs");
        CHMDocumentWindow* second = openAndWait(*app, copy);
        ASSERT_TRUE(second);
        ASSERT_TRUE(showPage(second, "itss://chm/tabs.htm"));
        addBookmarkFromMenu(*app, second, "Tabs of the copy", "gui");

        QMenu* byTag = shownMenu(first, "groupByTagsMenu");
        ASSERT_TRUE(byTag);
        QAction* gui = itemTitled(byTag, "gui");
        ASSERT_TRUE(gui && gui->menu());
        EXPECT_EQ(gui->menu()->actions().size(), 2);
        // The book is left at another page, which the next run would reopen by itself.
        ASSERT_TRUE(showPage(first, "itss://chm/view.htm"));
        EXPECT_TRUE(app->errors.isEmpty()) << app->errors.join('\n').toStdString();
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    EXPECT_EQ(querySql(db, "SELECT b.title, b.url, f.path FROM bookmark b JOIN file f "
                           "ON f.id = b.file_id ORDER BY b.title"),
              (QStringList{"Tabs chapter|itss://chm/tabs.htm|" + book,
                           "Tabs of the copy|itss://chm/tabs.htm|" + copy}));

    { // Second run: the bookmark opens its own file (not the copy) at its page.
        auto app = std::make_unique<RecordingApplication>();
        CHMDocumentWindow* other = openAndWait(*app, bare);
        ASSERT_TRUE(other);
        QMenu* byFile = shownMenu(other, "groupByFilesMenu");
        ASSERT_TRUE(byFile);
        EXPECT_EQ(byFile->actions().size(), 2); // two files titled "Lumeno+ Sample"
        QMenu* menu = shownMenu(other, "bookmarksMenu");
        QAction* item = itemTitled(menu, "Tabs chapter");
        ASSERT_TRUE(item);
        EXPECT_TRUE(item->isEnabled());
        item->trigger();
        CHMDocumentWindow* opened = app->windowForFile(book);
        ASSERT_TRUE(opened);
        EXPECT_FALSE(app->windowForFile(copy));
        EXPECT_TRUE(webtest::waitUntil([opened] {
            return opened->currentURL() == "itss://chm/tabs.htm";
        })) << opened->currentURL().toStdString();
        const QVariant text =
            webtest::waitForJavaScript(opened->curWebView()->page(), "document.body.innerText");
        EXPECT_FALSE(text.toString().isEmpty());
        // The page the book would reopen by itself has not taken over meanwhile.
        EXPECT_EQ(opened->currentURL(), "itss://chm/tabs.htm");
        EXPECT_TRUE(app->errors.isEmpty()) << app->errors.join('\n').toStdString();
        app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(BookmarkReader, PagesWithSpacesPercentSignsAndAccentsReopen) {
    const QString books = freshFolder();
    const QString names = copyFixture("names", books, "names.chm");
    auto app = std::make_unique<RecordingApplication>();
    CHMDocumentWindow* window = openAndWait(*app, names);
    ASSERT_TRUE(window);
    const QStringList pages = {"itss://chm/my%20page.htm",
                               "itss://chm/caf%C3%A9/na%C3%AFve%20r%C3%A9sum%C3%A9.htm",
                               "itss://chm/100%2541.htm"};
    QStringList shown;
    for (int i = 0; i < pages.size(); ++i) {
        ASSERT_TRUE(showPage(window, QUrl(pages[i]).toString())) << pages[i].toStdString();
        shown << window->currentURL();
        addBookmarkFromMenu(*app, window, QString("Page %1").arg(i), "names");
    }
    ASSERT_TRUE(showPage(window, "itss://chm/index.htm"));
    QMenu* menu = shownMenu(window, "bookmarksMenu");
    for (int i = 0; i < pages.size(); ++i) {
        QAction* item = itemTitled(menu, QString("Page %1").arg(i));
        ASSERT_TRUE(item);
        webtest::LoadWatcher watcher(window);
        item->trigger();
        EXPECT_TRUE(webtest::waitUntil([&] {
            return watcher.finished() > 0 && window->currentURL() == shown[i];
        })) << shown[i].toStdString()
            << " -> " << window->currentURL().toStdString();
        EXPECT_TRUE(watcher.lastOk());
    }
    EXPECT_TRUE(app->errors.isEmpty()) << app->errors.join('\n').toStdString();
    app.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(BookmarkReader, AddingABookmarkBeforeTheFirstPageHasLoadedProposesTheBooksTitleOrSaysWhyNot) {
    const QString books = freshFolder();
    const QString book = copyFixture("sample", books, "early.chm");
    const QString db = BookmarkStore::applicationSupportFolder() + "/Bookmarks.sqlite";
    auto app = std::make_unique<RecordingApplication>();
    CHMDocumentWindow* window = app->openFile(book);
    ASSERT_TRUE(window);
    auto* add = window->menuBar()->findChild<QAction*>("addBookmarkAction");
    ASSERT_TRUE(add);
    // Ctrl+D before the window has handled a single event: not even the page's address is
    // known yet. The user hears why nothing can be added (and closes the message).
    ASSERT_TRUE(window->currentURL().isEmpty());
    QStringList told;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&told] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told << box->text();
            box->done(QMessageBox::Ok);
        }
    });
    user.start(10);
    add->trigger();
    EXPECT_FALSE(app->bookmarkController()->addPanel());
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains("no page")) << told[0].toStdString();

    // Once the page is asked for, before it has loaded: the book's title is proposed, and Add
    // stores it.
    webtest::LoadWatcher loads(window);
    ASSERT_TRUE(webtest::waitUntil([&] { return !window->currentURL().isEmpty(); }));
    ASSERT_EQ(loads.finished(), 0) << "the page loaded before the test could ask";
    add->trigger();
    AddBookmarkSheet* sheet = app->bookmarkController()->addPanel();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->titleField()->text(), window->document()->docTitle());
    sheet->addButton()->click();
    EXPECT_EQ(querySql(db, "SELECT b.title, b.url FROM bookmark b JOIN file f ON f.id = b.file_id "
                           "WHERE f.path = '" +
                               book + "'"),
              QStringList{window->document()->docTitle() + "|itss://chm/index.htm"});
    EXPECT_EQ(told.size(), 1);
    EXPECT_TRUE(app->errors.isEmpty()) << app->errors.join('\n').toStdString();
    ASSERT_TRUE(loads.waitForLoads());
    app.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
