// The bookmark database on a real SQLite file: what survives closing and reopening it, how a
// page's bookmark is found, tags, the purge, and files that must be refused and left alone.
#include "BookmarkStore.h"
#include "BookmarkFetchRequest.h"
#include "BookmarkTestSupport.h"
#include "CHMBookmark.h"
#include "CHMFile.h"
#include "CHMTag.h"
#include "SqlStatement.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace bookmarktest;

namespace {

class BookmarkStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = freshFolder();
        dbPath = folder + "/Bookmarks.sqlite";
        reopen();
        book = copyFixture("sample", folder, "sample.chm");
        otherBook = copyFixture("sample", folder, "sample copy.chm");
    }
    void reopen() {
        store.reset();
        QString error;
        store = BookmarkStore::open(dbPath, &error);
        ASSERT_TRUE(store) << error.toStdString();
    }
    std::optional<CHMBookmark> save(const QString& file, const QString& url, const QString& title,
                                    const QString& tags = {}) {
        return CHMBookmark::save(file, "Sample Book", url, title, tags, store.get());
    }
    static QStringList titles(const QList<CHMBookmark>& bookmarks) {
        QStringList out;
        for (const CHMBookmark& bookmark : bookmarks)
            out << bookmark.title();
        return out;
    }

    QString folder, dbPath, book, otherBook;
    std::unique_ptr<BookmarkStore> store;
};

} // namespace

TEST_F(BookmarkStoreTest, BookmarkWithFileAndTagsSurvivesReopeningApartFromTheSamePageOfAnother) {
    ASSERT_TRUE(save(book, "itss://chm/tabs.htm", "Tabs", "work, reading"));
    ASSERT_TRUE(save(otherBook, "itss://chm/tabs.htm", "Other tabs"));
    reopen();
    const auto bookmark = CHMBookmark::bookmarkByURL("itss://chm/tabs.htm", book, store.get());
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->title(), "Tabs");
    EXPECT_EQ(bookmark->tagsString(), "reading, work");
    ASSERT_TRUE(bookmark->file());
    EXPECT_EQ(bookmark->file()->path(), book);
    EXPECT_EQ(bookmark->file()->title(), "Sample Book");
    const auto other = CHMBookmark::bookmarkByURL("itss://chm/tabs.htm", otherBook, store.get());
    ASSERT_TRUE(other);
    EXPECT_EQ(other->title(), "Other tabs");
    EXPECT_EQ(other->file()->path(), otherBook);
    EXPECT_EQ(querySql(dbPath, "PRAGMA user_version"), QStringList{"1"});
    EXPECT_EQ(querySql(dbPath, "SELECT url, title FROM bookmark ORDER BY title"),
              (QStringList{"itss://chm/tabs.htm|Other tabs", "itss://chm/tabs.htm|Tabs"}));
}

TEST_F(BookmarkStoreTest, SavingABookmarkedPageAgainEditsItAndMakesItNewest) {
    ASSERT_TRUE(save(book, "itss://chm/a.htm", "A", "old"));
    ASSERT_TRUE(save(book, "itss://chm/b.htm", "B"));
    ASSERT_TRUE(save(book, "itss://chm/a.htm", "A again", "new"));
    reopen();
    const QList<CHMBookmark> newest = CHMBookmark::newestBookmarks(15, store.get());
    EXPECT_EQ(titles(newest), (QStringList{"A again", "B"}));
    EXPECT_EQ(newest.first().tagsString(), "new, old");
    EXPECT_EQ(querySql(dbPath, "SELECT count(*) FROM bookmark"), QStringList{"2"});
}

TEST_F(BookmarkStoreTest, TagTextIsSplitTrimmedAndOnlyEverAdds) {
    auto bookmark = save(book, "itss://chm/x.htm", "X");
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(bookmark->tagsString(), "");
    EXPECT_TRUE(bookmark->setTagsString(" a,   , b ,a"));
    EXPECT_EQ(bookmark->tagsString(), "a, b");
    EXPECT_TRUE(bookmark->setTagsString(""));
    EXPECT_EQ(bookmark->tagsString(), "a, b");
    EXPECT_TRUE(bookmark->setTagsString("A"));
    EXPECT_EQ(bookmark->tagsString(), "A, a, b");
    EXPECT_EQ(querySql(dbPath, "SELECT tag FROM tag ORDER BY tag"), (QStringList{"A", "a", "b"}));
    EXPECT_FALSE(CHMTag::getTagByString("c", false, store.get()));
    EXPECT_FALSE(CHMTag::getTagByString("", true, store.get()));
}

TEST_F(BookmarkStoreTest, RemovingBookmarksDropsTheirLinksButKeepsTagsAndFiles) {
    auto kept = save(book, "itss://chm/kept.htm", "Kept", "shared");
    auto gone = save(book, "itss://chm/gone.htm", "Gone", "shared, lonely");
    ASSERT_TRUE(kept && gone);
    ASSERT_TRUE(CHMBookmark::remove({gone->id()}, store.get()));
    reopen();
    EXPECT_EQ(querySql(dbPath, "SELECT count(*) FROM bookmark_tag"), QStringList{"1"});
    const auto lonely = CHMTag::getTagByString("lonely", false, store.get());
    ASSERT_TRUE(lonely);
    EXPECT_EQ(lonely->bookmarkCount(), 0);
    EXPECT_EQ(CHMTag::getTagByString("shared", false, store.get())->bookmarkCount(), 1);
    EXPECT_EQ(CHMFile::fileByPath(book, store.get())->bookmarkCount(), 1);
}

TEST_F(BookmarkStoreTest, FetchRequestsListAllByTagAndByFile) {
    ASSERT_TRUE(save(book, "itss://chm/1.htm", "One", "x"));
    ASSERT_TRUE(save(book, "itss://chm/2.htm", "Two", "y"));
    ASSERT_TRUE(save(otherBook, "itss://chm/3.htm", "Three", "x"));
    EXPECT_EQ(titles(BookmarkFetchRequest::all().execute(store.get())),
              (QStringList{"One", "Three", "Two"}));
    EXPECT_EQ(titles(BookmarkFetchRequest::withTag("x").execute(store.get())),
              (QStringList{"One", "Three"}));
    EXPECT_EQ(titles(BookmarkFetchRequest::withTag("X").execute(store.get())), QStringList{});
    const qint64 other = CHMFile::fileByPath(otherBook, store.get())->id();
    EXPECT_EQ(titles(BookmarkFetchRequest::ofFile(other).execute(store.get())),
              QStringList{"Three"});
}

TEST_F(BookmarkStoreTest, PurgeDropsEmptyFilesAndMarksGoneOnes) {
    const QString deleted = copyFixture("sample", folder, "deleted.chm");
    const QString replaced = copyFixture("sample", folder, "replaced.chm");
    const QString emptied = copyFixture("sample", folder, "emptied.chm");
    ASSERT_TRUE(save(book, "itss://chm/a.htm", "Here"));
    ASSERT_TRUE(save(deleted, "itss://chm/a.htm", "Deleted"));
    ASSERT_TRUE(save(replaced, "itss://chm/a.htm", "Replaced"));
    auto last = save(emptied, "itss://chm/a.htm", "Emptied");
    ASSERT_TRUE(last);
    ASSERT_TRUE(CHMBookmark::remove({last->id()}, store.get()));
    ASSERT_TRUE(QFile::remove(deleted));
    ASSERT_TRUE(QFile::remove(replaced));
    ASSERT_TRUE(QDir().mkdir(replaced));

    ASSERT_TRUE(CHMFile::purgeWithContext(store.get()));
    reopen();
    EXPECT_FALSE(CHMFile::fileByPath(emptied, store.get()));
    EXPECT_TRUE(CHMFile::fileByPath(book, store.get())->isValid());
    EXPECT_FALSE(CHMFile::fileByPath(deleted, store.get())->isValid());
    EXPECT_FALSE(CHMFile::fileByPath(replaced, store.get())->isValid());
    // The bookmarks of gone files stay.
    EXPECT_EQ(querySql(dbPath, "SELECT count(*) FROM bookmark"), QStringList{"3"});
}

TEST_F(BookmarkStoreTest, UnusableFilesAreRefusedWithAMessageAndLeftUntouched) {
    ASSERT_TRUE(save(book, "itss://chm/a.htm", "A"));
    store.reset();
    const QByteArray good = testsupport::readWholeFile(dbPath);
    ASSERT_GE(good.size(), 4096);

    QByteArray damaged = good;
    damaged.replace(2 * 1024, 1024, QByteArray(1024, '\xA5')); // inside the first table page

    const QString newer = folder + "/newer.sqlite";
    QFile::copy(dbPath, newer);
    ASSERT_TRUE(execSql(newer, "PRAGMA user_version = 7"));
    const QString foreign = folder + "/foreign.sqlite";
    ASSERT_TRUE(execSql(foreign, "CREATE TABLE notes (text)"));
    const QString blocker = folder + "/blocker"; // a file where the store's folder should be
    ASSERT_TRUE(execSql(blocker, "CREATE TABLE notes (text)"));

    struct Case {
        QString path;
        QByteArray bytes; // written first when not empty
        QString reason;
    };
    const QList<Case> cases = {
        {folder + "/damaged.sqlite", damaged, "damaged"},
        {folder + "/header.sqlite", good.left(60), "damaged"},
        {folder + "/garbage.sqlite", QByteArray(8192, 'x'), "damaged"},
        {newer, {}, "newer version"},
        {foreign, {}, "another kind"},
        {blocker + "/Lumeno/Bookmarks.sqlite", {}, "folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        if (!c.bytes.isEmpty()) {
            const QString name = QDir(testsupport::scratchDir()).relativeFilePath(c.path);
            ASSERT_EQ(testsupport::writeScratchFile(name, c.bytes), c.path);
        }
        const QByteArray before = testsupport::readWholeFile(c.path);
        QString error;
        EXPECT_FALSE(BookmarkStore::open(c.path, &error));
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
        EXPECT_TRUE(error.contains(QDir::toNativeSeparators(c.path))) << error.toStdString();
        EXPECT_EQ(testsupport::readWholeFile(c.path), before);
        EXPECT_FALSE(QFile::exists(c.path + "-journal"));
    }
}

TEST_F(BookmarkStoreTest, StoresHoldingObjectsTheReaderDidNotMakeAreRefusedUntouched) {
    ASSERT_TRUE(save(book, "itss://chm/a.htm", "A"));
    ASSERT_TRUE(save(book, "itss://chm/b.htm", "B"));
    store.reset();
    struct Case {
        const char* name;
        const char* sql; // run on a copy of the reader's own store
        const char* reason;
    };
    const Case cases[] = {
        {"trigger",
         "CREATE TRIGGER wipe AFTER INSERT ON bookmark BEGIN"
         " DELETE FROM bookmark WHERE id <> new.id;"
         " UPDATE file SET path = '/tmp/elsewhere.chm'; END",
         "trigger “wipe”"},
        {"view", "CREATE VIEW everything AS SELECT * FROM bookmark", "view “everything”"},
        {"table", "CREATE TABLE notes (text)", "table “notes”"},
        {"index", "CREATE INDEX by_title ON bookmark(title)", "index “by_title”"},
        {"altered", "ALTER TABLE bookmark ADD COLUMN note TEXT", "table “bookmark”"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder + "/" + c.name + ".sqlite";
        ASSERT_TRUE(QFile::copy(dbPath, path));
        ASSERT_TRUE(execSql(path, c.sql));
        const QByteArray before = testsupport::readWholeFile(path);
        const QDateTime modified = QFileInfo(path).lastModified();
        QString error;
        EXPECT_FALSE(BookmarkStore::open(path, &error));
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
        EXPECT_TRUE(error.contains("has been left as it is")) << error.toStdString();
        EXPECT_EQ(testsupport::readWholeFile(path), before);
        EXPECT_EQ(QFileInfo(path).lastModified(), modified);
    }
    // The reader's own store, written and reopened, is still its own.
    QString error;
    EXPECT_TRUE(BookmarkStore::open(dbPath, &error)) << error.toStdString();
}

TEST_F(BookmarkStoreTest, ConnectionIsDefensiveAndDistrustsTheSchemaInTheFile) {
    reopen();
    int defensive = -1, trusted = -1;
    sqlite3_db_config(store->handle(), SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
    sqlite3_db_config(store->handle(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, -1, &trusted);
    EXPECT_EQ(defensive, 1);
    EXPECT_EQ(trusted, 0);
    // Defensive: the schema cannot be rewritten through the store's own connection.
    SqlStatement writable(store->handle(), "PRAGMA writable_schema = ON");
    writable.exec();
    SqlStatement rewrite(store->handle(), "UPDATE sqlite_schema SET sql = '' WHERE name = 'tag'");
    EXPECT_FALSE(rewrite.exec());
}
