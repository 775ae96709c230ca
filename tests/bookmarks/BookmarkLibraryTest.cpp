// The library as the window uses it: saving, removing and opening bookmarks, with the database
// and the list of bookmarked files kept in step across restarts.
#include "BookmarkLibrary.h"
#include "BookmarkTestSupport.h"
#include "CHMBookmark.h"
#include "CHMTag.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace bookmarktest;

namespace {

class BookmarkLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = freshFolder();
        book = copyFixture("sample", folder, "sample.chm");
        restart();
    }
    void restart() {
        library = std::make_unique<BookmarkLibrary>(
            folder, [this](const QString& message) { messages << message; });
    }
    BookmarkPage page(const QString& url) const { return {book, url, "Tab label", "Sample"}; }
    QString plist() const { return folder + "/BookmarkURL.plist"; }
    QString db() const { return folder + "/Bookmarks.sqlite"; }
    // A refusal by the database on the library's own connection: a temporary trigger lives in
    // that connection only, since a store file holding a trigger is refused as a whole.
    bool refuseInStore(const char* trigger) {
        BookmarkStore* store = library->managedObjectContext();
        return store && sqlite3_exec(store->handle(), trigger, nullptr, nullptr, nullptr) == 0;
    }

    QString folder, book;
    QStringList messages;
    std::unique_ptr<BookmarkLibrary> library;
};

} // namespace

TEST_F(BookmarkLibraryTest, EverySaveIsCountedAndEveryRemovalStoredAtOnce) {
    auto first = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "t");
    auto second = library->addBookmark(page("itss://chm/view.htm"), "View", "");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(library->addBookmark(page("itss://chm/tabs.htm"), "Tabs edited", ""));
    EXPECT_EQ(plistRefCount(plist(), book), 3);

    ASSERT_TRUE(library->removeBookmarks({first->id()}));
    EXPECT_EQ(plistRefCount(plist(), book), 2);
    // Nothing more is saved before the "crash": the next run sees the removal.
    library.reset();
    restart();
    EXPECT_EQ(querySql(db(), "SELECT title FROM bookmark"), QStringList{"View"});
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(BookmarkLibraryTest, FailedRemovalKeepsBookmarksAndCounts) {
    auto bookmark = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "");
    ASSERT_TRUE(bookmark);
    restart();
    ASSERT_TRUE(refuseInStore("CREATE TEMP TRIGGER keep BEFORE DELETE ON bookmark "
                              "BEGIN SELECT RAISE(ABORT, 'kept by test'); END"));
    EXPECT_FALSE(library->removeBookmarks({bookmark->id()}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().contains("kept by test"));
    EXPECT_EQ(plistRefCount(plist(), book), 1);
    EXPECT_EQ(querySql(db(), "SELECT count(*) FROM bookmark"), QStringList{"1"});
}

TEST_F(BookmarkLibraryTest, OpeningFallsBackToTheFilePathWhenTheListOfFilesIsLost) {
    auto bookmark = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "");
    ASSERT_TRUE(bookmark);
    auto target = library->targetOf(*bookmark);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->filePath, book);
    EXPECT_EQ(target->url.toString(), "itss://chm/tabs.htm");

    // The list of bookmarked files is lost: the File's own path still opens it.
    ASSERT_TRUE(QFile::remove(plist()));
    restart();
    target = library->targetOf(
        *CHMBookmark::bookmarkById(bookmark->id(), library->managedObjectContext()));
    ASSERT_TRUE(target);
    EXPECT_EQ(target->filePath, book);
}

TEST_F(BookmarkLibraryTest, DamagedStoreIsReportedOnEveryUseAndNeverOverwritten) {
    library.reset();
    const QByteArray garbage(4096, 'z');
    {
        QFile file(db());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    restart();
    EXPECT_FALSE(library->managedObjectContext());
    EXPECT_FALSE(library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", ""));
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages.first().contains("Bookmarks.sqlite"));
    EXPECT_EQ(testsupport::readWholeFile(db()), garbage);
    EXPECT_FALSE(QFile::exists(plist()));

    // Once the user moves it away, the next use starts a new library.
    ASSERT_TRUE(QFile::rename(db(), db() + ".old"));
    EXPECT_TRUE(library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", ""));
    EXPECT_EQ(messages.size(), 2);
}

TEST_F(BookmarkLibraryTest, BookmarkIsSavedAndUserToldWhenOneOfItsTagsIsRefused) {
    ASSERT_TRUE(library->addBookmark(page("itss://chm/view.htm"), "View", "kept"));
    // A real refusal of the database, as a full disk or a constraint would give.
    const char* refuseTag = "CREATE TEMP TRIGGER refuse BEFORE INSERT ON tag WHEN NEW.tag = "
                            "'refused' BEGIN SELECT RAISE(ABORT, 'refused by test'); END";
    restart();
    ASSERT_TRUE(refuseInStore(refuseTag));
    auto bookmark = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "kept, refused, b");
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->tagsString(), "b, kept");
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().contains("refused by test"));
    // The refusal is rolled back alone: a later save is stored, and nothing of the refused tag.
    ASSERT_TRUE(library->addBookmark(page("itss://chm/index.htm"), "Index", "c"));
    restart();
    EXPECT_EQ(querySql(db(), "SELECT tag FROM tag ORDER BY tag"), (QStringList{"b", "c", "kept"}));
    EXPECT_EQ(querySql(db(), "SELECT count(*) FROM bookmark"), QStringList{"3"});
    ASSERT_TRUE(refuseInStore(refuseTag));
    EXPECT_FALSE(CHMTag::getTagByString("refused", true, library->managedObjectContext()));
}

TEST_F(BookmarkLibraryTest, BookRenamedInItsFolderOpensUnderItsNewNameWhichIsStored) {
    auto bookmark = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "");
    ASSERT_TRUE(bookmark);
    // A copy of the same size sorts first in the folder: same size is not the same file.
    const QString decoy = copyFixture("sample", folder, "a copy.chm");
    const QString renamed = folder + "/renamed.chm";
    ASSERT_TRUE(QFile::rename(book, renamed));
    restart();

    BookmarkStore* store = library->managedObjectContext();
    auto target = library->targetOf(*CHMBookmark::bookmarkById(bookmark->id(), store));
    ASSERT_TRUE(target);
    EXPECT_EQ(target->filePath, renamed);
    EXPECT_EQ(target->url.toString(), "itss://chm/tabs.htm");
    EXPECT_EQ(querySql(db(), "SELECT path, is_valid FROM file"), QStringList{renamed + "|1"});
    EXPECT_EQ(plistRefCount(plist(), book), -1);
    EXPECT_EQ(plistRefCount(plist(), renamed), 1);
    // Later saves count under the new name.
    library->addBookmark({renamed, "itss://chm/view.htm", "View", "Sample"}, "View", "");
    EXPECT_EQ(plistRefCount(plist(), renamed), 2);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    (void)decoy;
}

TEST_F(BookmarkLibraryTest, PurgeFollowsARenamedBookButAnotherFileOfTheSameSizeIsNotTaken) {
    const QString other = copyFixture("sample", folder, "other.chm");
    auto renamedBookmark = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "");
    auto goneBookmark =
        library->addBookmark({other, "itss://chm/tabs.htm", "Tabs", "Sample"}, "Other", "");
    ASSERT_TRUE(renamedBookmark && goneBookmark);
    const QString renamed = folder + "/renamed.chm";
    ASSERT_TRUE(QFile::rename(book, renamed));
    // The other book is replaced by a file of its size but another inode, under a new name (made
    // while the other still holds its inode, which the file system could hand out again).
    copyFixture("sample", folder, "lookalike.chm");
    ASSERT_TRUE(QFile::remove(other));
    restart();

    ASSERT_TRUE(library->purge());
    EXPECT_EQ(querySql(db(), "SELECT path, is_valid FROM file ORDER BY path"),
              (QStringList{other + "|0", renamed + "|1"}));
    BookmarkStore* store = library->managedObjectContext();
    auto target = library->targetOf(*CHMBookmark::bookmarkById(goneBookmark->id(), store));
    ASSERT_TRUE(target);
    EXPECT_EQ(target->filePath, other);
    EXPECT_EQ(plistRefCount(plist(), other), 1);
}

TEST_F(BookmarkLibraryTest, StoreThatCannotBeWrittenShowsItsBookmarksAndRefusesOnlyChanges) {
    auto kept = library->addBookmark(page("itss://chm/tabs.htm"), "Tabs", "work");
    ASSERT_TRUE(library->addBookmark(page("itss://chm/view.htm"), "View", ""));
    ASSERT_TRUE(kept);
    struct Case {
        const char* name;
        QString path; // made read-only
        QFileDevice::Permissions readOnly;
        const char* reason;
    };
    const QFileDevice::Permissions readable =
        QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    const QFileDevice::Permissions enterable =
        readable | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    const Case cases[] = {
        {"read-only file", db(), readable, "the file is read-only"},
        {"read-only folder", folder, enterable, "its folder is read-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        library.reset();
        messages.clear();
        const QFileDevice::Permissions before = QFile::permissions(c.path);
        ASSERT_TRUE(QFile::setPermissions(c.path, c.readOnly));
        const QByteArray bytes = testsupport::readWholeFile(db());
        const QByteArray list = testsupport::readWholeFile(plist());
        const QDateTime modified = QFileInfo(db()).lastModified();
        {
            PermissionBitsApply permissions;
            ASSERT_TRUE(permissions.active());
            restart();
            BookmarkStore* store = library->managedObjectContext();
            ASSERT_TRUE(store);
            EXPECT_TRUE(store->isReadOnly());
            EXPECT_TRUE(store->readOnlyMessage().contains(c.reason));
            EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
            // Shown and opened as usual.
            QStringList titles;
            for (const CHMBookmark& bookmark : CHMBookmark::allBookmarks(store))
                titles << bookmark.title() + " " + bookmark.tagsString();
            EXPECT_EQ(titles, (QStringList{"Tabs work", "View "}));
            auto target = library->targetOf(*CHMBookmark::bookmarkById(kept->id(), store));
            ASSERT_TRUE(target);
            EXPECT_EQ(target->filePath, book);
            EXPECT_FALSE(library->purge());
            EXPECT_TRUE(messages.isEmpty());
            // Adding and removing are refused with the reason.
            EXPECT_FALSE(library->addBookmark(page("itss://chm/new.htm"), "New", ""));
            EXPECT_FALSE(library->removeBookmarks({kept->id()}));
            EXPECT_EQ(messages, (QStringList{store->readOnlyMessage(), store->readOnlyMessage()}));
            library.reset();
        }
        ASSERT_TRUE(QFile::setPermissions(c.path, before));
        EXPECT_EQ(testsupport::readWholeFile(db()), bytes);
        EXPECT_EQ(testsupport::readWholeFile(plist()), list);
        EXPECT_EQ(QFileInfo(db()).lastModified(), modified);
        EXPECT_FALSE(QFile::exists(db() + "-journal"));
    }
    // Writable again: the next run changes it as before.
    messages.clear();
    restart();
    EXPECT_FALSE(library->managedObjectContext()->isReadOnly());
    EXPECT_TRUE(library->addBookmark(page("itss://chm/new.htm"), "New", ""));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}
