// The window's searches on the real web engine: full-text hits without the window waiting for
// the index, the keyword-index search remembered per file, the empty search, the default.
#include "CHMSearchController.h"
#include "CHMSearchIndex.h"
#include "WindowTestFixture.h"

#include <QScopeGuard>
#include <future>
#include <mutex>
#include <thread>

using webtest::waitUntil;

namespace {

QStringList searchRows(CHMDocumentWindow* window) {
    return WindowTestFixture::rowNames(window->sidebar()->searchView()->model());
}

void typeAndReturn(CHMDocumentWindow* window, const QString& text) {
    QLineEdit* field = window->sidebar()->searchField();
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

QAction* searchMenuItem(CHMDocumentWindow* window, int tag) {
    for (QAction* item : window->searchMenu()->actions()) {
        if (item->data().toInt() == tag)
            return item;
    }
    return nullptr;
}

QVariant searchTypeOf(CHMDocumentWindow* window) {
    return CHMFilePreferences::getPreferenceforFile(window->document()->filePath(), "search type");
}

} // namespace

class WindowSearch : public WindowTestFixture {};

TEST_F(WindowSearch, FileSearchWhileIndexingShowsIndexingThenTheHitsBestFirst) {
    std::unique_ptr<CHMDocument> document = openDocument(testsupport::fixturePath("nested"));
    ASSERT_NE(document, nullptr);
    // Declared first so that it goes last: the window joins the index thread, which must be
    // free to finish by then.
    std::unique_ptr<CHMDocumentWindow> owner;
    // A thread that holds the document's lock stands in for one that waits for the book: the
    // index cannot get on (nor can a page be read) until it lets go, and the window must not
    // wait for it meanwhile.
    std::promise<void> held, release;
    std::thread holder([&, lock = &document->lock()] {
        std::unique_lock holdIndex(*lock);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    bool released = false;
    const auto releaseBook = [&] {
        if (!std::exchange(released, true)) {
            release.set_value();
            holder.join();
        }
    };
    const auto atEnd = qScopeGuard(releaseBook);
    owner = std::make_unique<CHMDocumentWindow>(std::move(document));
    CHMDocumentWindow* window = owner.get();
    webtest::LoadWatcher loads(window);
    window->show();

    typeAndReturn(window, "quokka");
    EXPECT_TRUE(window->isSearchPending());
    EXPECT_EQ(searchRows(window), QStringList{"Indexing…"});
    EXPECT_FALSE(window->sidebar()->searchView()->isEnabled());
    // The window goes on working: it answers what the user does, and a page asked for
    // meanwhile loads once the book is free.
    QTest::keyClicks(window->sidebar()->searchField(), " ");
    EXPECT_EQ(window->sidebar()->searchField()->text(), "quokka ");
    window->loadPath("intro.htm");
    EXPECT_TRUE(window->isSearchPending());

    releaseBook();
    ASSERT_TRUE(waitUntil([&] { return loads.lastOk() && currentPath(window) == "/intro.htm"; }));
    ASSERT_TRUE(waitUntil([window] { return !window->isSearchPending(); }));
    // "quokka" twice in Details, once in Leaf.
    EXPECT_EQ(searchRows(window), (QStringList{"Details", "Leaf"}));
    EXPECT_TRUE(window->sidebar()->searchView()->isEnabled());
    // Once the index is done a search is answered at once.
    typeAndReturn(window, "narwhal");
    EXPECT_FALSE(window->isSearchPending());
    EXPECT_EQ(searchRows(window), QStringList{"Leaf"});
}

TEST_F(WindowSearch, AWindowTakesUpTheRememberedModeWithoutWritingTheSettingsBeforeItsPage) {
    // Made but not shown: no page has loaded, so nothing has been chosen or read yet.
    auto* window = adopt(
        new CHMDocumentWindow(openDocument(testsupport::fixturePath("nested")), encodingMenu));
    EXPECT_FALSE(searchTypeOf(window).isValid()) << "the settings were written at start-up";
    EXPECT_TRUE(searchMenuItem(window, CHMSearchController::kSearchInFileTag)->isChecked());
    EXPECT_EQ(window->sidebar()->searchField()->placeholderText(), "Search in File");
    const QString book = window->document()->filePath();
    delete window;

    CHMFilePreferences::setPreference("index", book, "search type");
    window = adopt(
        new CHMDocumentWindow(openDocument(testsupport::fixturePath("nested")), encodingMenu));
    EXPECT_TRUE(searchMenuItem(window, CHMSearchController::kSearchInIndexTag)->isChecked());
    EXPECT_EQ(window->sidebar()->searchField()->placeholderText(), "Search in Index");
    EXPECT_EQ(searchTypeOf(window), "index");
}

TEST_F(WindowSearch, IndexSearchFiltersTheKeywordIndexSaysWhenNothingMatchesAndIsRemembered) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    // Choosing the mode with text in the field searches at once.
    window->sidebar()->searchField()->setText("ab");
    searchMenuItem(window, CHMSearchController::kSearchInIndexTag)->trigger();
    EXPECT_EQ(searchRows(window), (QStringList{"Abacus", "ABC"}));
    EXPECT_EQ(window->sidebar()->searchField()->placeholderText(), "Search in Index");
    EXPECT_EQ(searchTypeOf(window), "index");
    typeAndReturn(window, "zan");
    EXPECT_EQ(searchRows(window), QStringList{"Zanzibar"});
    typeAndReturn(window, "qqq");
    EXPECT_TRUE(searchRows(window).isEmpty());
    EXPECT_EQ(window->sidebar()->searchView()->emptyText(), "No index entry begins with “qqq”.");
    // Down in the field moves into the results.
    typeAndReturn(window, "ab");
    window->activateWindow();
    window->sidebar()->searchField()->setFocus();
    QTest::keyClick(window->sidebar()->searchField(), Qt::Key_Down);
    CHMOutlineView* results = window->sidebar()->searchView();
    EXPECT_TRUE(waitUntil([results] { return results->hasFocus(); }));
    EXPECT_EQ(results->currentIndex().row(), 0);

    delete window;
    window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(searchMenuItem(window, CHMSearchController::kSearchInIndexTag)->isChecked());
    searchMenuItem(window, CHMSearchController::kSearchInFileTag)->trigger();
    EXPECT_EQ(searchTypeOf(window), "file");
    // The field takes the focus even from a hidden sidebar.
    window->hideSidebar();
    window->focusOnSearchAction()->trigger();
    EXPECT_TRUE(window->splitView()->isSidebarRestored());
    EXPECT_TRUE(waitUntil([window] { return window->sidebar()->searchField()->hasFocus(); }));
}

TEST_F(WindowSearch, ChangingTheTextTakesItsMarksOffThePageAndEmptyingItClearsTheListInEitherMode) {
    CHMDocumentWindow* window = openFixture("nested");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil([window] { return window->document()->searchIndex()->isIndexDone(); }));
    typeAndReturn(window, "lighthouse");
    ASSERT_EQ(searchRows(window), QStringList{"Welcome"});
    ASSERT_TRUE(load(window, "index.htm"));
    QWebEnginePage* page = currentPage(window);
    ASSERT_TRUE(waitUntil([page] { return webtest::markCount(page) > 0; }));
    QTest::keyClick(window->sidebar()->searchField(), Qt::Key_Backspace);
    EXPECT_TRUE(waitUntil([page] { return webtest::markCount(page) == 0; }));
    // The field's clear button empties it without Return; blank text is empty in either mode.
    window->sidebar()->searchField()->clear();
    EXPECT_TRUE(searchRows(window).isEmpty());
    EXPECT_EQ(window->document()->searchSource(), nullptr);
    window->setSearchInIndex();
    typeAndReturn(window, "ab");
    ASSERT_FALSE(searchRows(window).isEmpty());
    typeAndReturn(window, "   ");
    EXPECT_TRUE(searchRows(window).isEmpty());
}

TEST_F(WindowSearch, SearchDefaultFillsTheFieldOfTheFirstWindowOnly) {
    CHMFilePreferences::setGlobalDefault(QStringLiteral("search"), QStringLiteral("  zanzibar\n"));
    CHMDocumentWindow* first = openFixture("nested");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->sidebar()->searchField()->text(), "zanzibar");
    ASSERT_TRUE(waitUntil([first] { return !first->isSearchPending(); }));
    EXPECT_EQ(searchRows(first), QStringList{"Introduction"});

    CHMDocumentWindow* second = openFixture("sample");
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->sidebar()->searchField()->text().isEmpty());
}

TEST_F(WindowSearch, HitsNamedAlikeSayWhereTheyAreAndEmptyListsSayWhy) {
    CHMDocumentWindow* window = openFixture("alike");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->sidebar()->indexView()->emptyText(), "This book has no index.");
    ASSERT_TRUE(waitUntil([window] { return window->document()->searchIndex()->isIndexDone(); }));
    typeAndReturn(window, "tally");
    QStringList rows = searchRows(window);
    rows.sort();
    EXPECT_EQ(rows,
              (QStringList{"Count Property — Gadget Class", "Count Property — Widget Class"}));
    const QAbstractItemModel* model = window->sidebar()->searchView()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString tip = model->index(row, 0).data(Qt::ToolTipRole).toString();
        EXPECT_TRUE(tip.startsWith("Count Property\n")) << tip.toStdString();
        EXPECT_TRUE(tip.endsWith(" Class")) << tip.toStdString();
    }
    // An index search in a book without an index says so instead of showing nothing.
    window->setSearchInIndex();
    EXPECT_TRUE(searchRows(window).isEmpty());
    EXPECT_EQ(window->sidebar()->searchView()->emptyText(), "This book has no index.");
}
