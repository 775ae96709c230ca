// "BookmarkURL.plist": counting saves per bookmarked file, finding the file again, and what an
// unreadable list becomes.
#include "BookmarkURLStore.h"
#include "BookmarkTestSupport.h"
#include "HostilePlists.h"
#include "PlistGuard.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace bookmarktest;

namespace {

class BookmarkURLStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = freshFolder();
        book = copyFixture("sample", folder, "sample.chm");
    }
    QString plist() const { return folder + "/BookmarkURL.plist"; }
    QString folder, book;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST_F(BookmarkURLStoreTest, FirstAddCreatesTheListWithCountOneAndDataOnlyForAFileThatIsThere) {
    QDir(folder).removeRecursively(); // the library's folder itself is made on demand
    book = copyFixture("sample", freshFolder(), "sample.chm");
    BookmarkURLStore store(folder);
    store.AddURLSecurity(book);
    bool hasData = false;
    EXPECT_EQ(plistRefCount(plist(), book, &hasData), 1);
    EXPECT_TRUE(hasData);
    EXPECT_TRUE(testsupport::readWholeFile(plist()).startsWith("<?xml"));
    EXPECT_EQ(BookmarkURLStore(folder).GetURLSecurity(book), book);

    const QString missing = folder + "/missing.chm";
    store.AddURLSecurity(missing);
    EXPECT_EQ(plistRefCount(plist(), missing, &hasData), 0);
    EXPECT_FALSE(hasData);
    EXPECT_TRUE(store.GetURLSecurity(missing).isEmpty());
}

TEST_F(BookmarkURLStoreTest, CountsFollowAddsAndRemovesUntilTheEntryGoesAndAMissingCountIsZero) {
    const QString other = copyFixture("sample", folder, "other.chm");
    const QString entries = QString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<plist version=\"1.0\"><dict>"
                                    "<key>%1</key><dict></dict>"
                                    "<key>%2</key><dict></dict>"
                                    "</dict></plist>\n")
                                .arg(book, other);
    writeFile(plist(), entries.toUtf8());
    BookmarkURLStore store(folder);
    store.AddURLSecurity(book);
    store.AddURLSecurity(book);
    store.RemoveURLSecurity(book);
    EXPECT_EQ(plistRefCount(plist(), book), 1);
    store.RemoveURLSecurity(book);
    EXPECT_EQ(plistRefCount(plist(), book), -1);
    EXPECT_TRUE(store.GetURLSecurity(book).isEmpty());
    store.RemoveURLSecurity(book); // no entry any more: the others stay as they are
    EXPECT_EQ(plistRefCount(plist(), other), 0);
    store.RemoveURLSecurity(other);
    EXPECT_EQ(plistRefCount(plist(), other), -1);
}

TEST_F(BookmarkURLStoreTest, StoredDataFindsTheFileOnlyWhileItIsThere) {
    BookmarkURLStore store(folder);
    EXPECT_TRUE(store.GetURLSecurity(book).isEmpty()); // no list yet
    store.AddURLSecurity(book);
    EXPECT_TRUE(store.GetURLSecurity(folder + "/never-bookmarked.chm").isEmpty());
    // Replaced by another file of the same name: still that path (the data is only stale).
    ASSERT_TRUE(QFile::remove(book));
    copyFixture("bare", folder, "sample.chm");
    EXPECT_EQ(store.GetURLSecurity(book), book);
    ASSERT_TRUE(QFile::remove(book));
    EXPECT_TRUE(store.GetURLSecurity(book).isEmpty());
    ASSERT_TRUE(QDir().mkdir(book));
    EXPECT_TRUE(store.GetURLSecurity(book).isEmpty());
}

TEST_F(BookmarkURLStoreTest, UnreadableListIsKeptAsideWhenReplaced) {
    const QByteArray damaged("<?xml version=\"1.0\"?><plist><dict><key>x</key>");
    writeFile(plist(), damaged);
    BookmarkURLStore store(folder);
    EXPECT_TRUE(store.GetURLSecurity(book).isEmpty());
    store.RemoveURLSecurity(book);
    EXPECT_EQ(testsupport::readWholeFile(plist()), damaged); // removing never rewrites it
    store.AddURLSecurity(book);
    EXPECT_EQ(plistRefCount(plist(), book), 1);
    EXPECT_EQ(testsupport::readWholeFile(plist() + ".unreadable"), damaged);
}

TEST_F(BookmarkURLStoreTest, HostileListsAreUnreadableInsteadOfCrashingOrExhaustingMemory) {
    BookmarkURLStore store(folder);
    store.AddURLSecurity(book);
    const QByteArray written = testsupport::readWholeFile(plist());
    std::string reason;
    EXPECT_TRUE(
        PlistGuard::isSafeToParse(written.constData(), std::size_t(written.size()), &reason))
        << reason;

    const std::pair<const char*, std::string> hostile[] = {
        {"binary nested 100,000 deep", hostileplist::binaryDeepNest(100000)},
        {"XML nested 200,000 deep", hostileplist::xmlDeepNest(200000)},
        {"40 levels each referring to the next twice", hostileplist::binaryDoublingReferences(40)},
    };
    for (const auto& [name, bytes] : hostile) {
        SCOPED_TRACE(name);
        const QByteArray content = QByteArray::fromStdString(bytes);
        writeFile(plist(), content);
        EXPECT_TRUE(store.GetURLSecurity(book).isEmpty());
        store.RemoveURLSecurity(book);
        EXPECT_EQ(testsupport::readWholeFile(plist()), content);
        // Saving a bookmark starts a new list and keeps the refused one aside.
        store.AddURLSecurity(book);
        EXPECT_EQ(plistRefCount(plist(), book), 1);
        EXPECT_EQ(testsupport::readWholeFile(plist() + ".unreadable"), content);
    }
}
