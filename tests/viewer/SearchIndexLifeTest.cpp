// The search index's life: where it keeps its files (memory only, removed with it), how it
// reports the end of its build when Xapian fails, and where its done callback runs.
#include "CHMDocument.h"
#include "CHMSearchIndex.h"
#include "CHMSearchIndexFolder.h"
#include "CHMSearchResult.h"
#include "EventLoopSupport.h"
#include "TestDocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

using namespace testsupport;

namespace {

// XDG_RUNTIME_DIR for the length of a test.
class RuntimeFolder {
public:
    explicit RuntimeFolder(const QString& path)
        : m_saved(qgetenv("XDG_RUNTIME_DIR")),
          m_wasSet(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        if (path.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
    }
    ~RuntimeFolder() {
        if (m_wasSet)
            qputenv("XDG_RUNTIME_DIR", m_saved);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

private:
    QByteArray m_saved;
    bool m_wasSet;
};

// A fresh private folder on a memory-backed file system, or null when the machine has none.
QString memoryFolder() {
    for (const char* base : {"/dev/shm", "/run/shm"}) {
        if (!CHMSearchIndexFolder::isMemoryBacked(base))
            continue;
        QByteArray pattern = QByteArray(base) + "/lumeno-test-XXXXXX";
        if (mkdtemp(pattern.data()))
            return QFile::decodeName(pattern);
    }
    return {};
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

TEST(SearchIndexStorage, TheIndexLivesInAPrivateMemoryFolderThatGoesWithIt) {
    const QString runtime = memoryFolder();
    if (runtime.isNull())
        GTEST_SKIP() << "no memory-backed file system here";
    auto doc = openDocument(fixturePath("nested"));
    ASSERT_TRUE(doc);
    {
        RuntimeFolder env(runtime);
        CHMSearchIndex index(*doc);
        index.prepareSearchIndex();
        ASSERT_TRUE(index.waitUntilDone());
        EXPECT_TRUE(index.isInMemoryFolder());
        EXPECT_GT(index.storageBytes(), 0u);
        const QStringList made = entriesOf(runtime);
        ASSERT_EQ(made.size(), 1);
        EXPECT_TRUE(made[0].startsWith("lumeno-search-"));
        // Nobody else may look in.
        EXPECT_FALSE(QFileInfo(runtime + '/' + made[0]).permissions() &
                     (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                      QFile::WriteOther | QFile::ExeOther));
        EXPECT_EQ(index.searchInFile("quokka")->rootChildrenCount(), 2u);
    }
    EXPECT_TRUE(entriesOf(runtime).isEmpty());
    QDir(runtime).removeRecursively();
}

TEST(SearchIndexStorage, WithoutAMemoryBackedRuntimeFolderTheIndexStaysOnTheHeap) {
    auto doc = openDocument(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const QString onDisk = scratchDir() + "/runtime";
    ASSERT_TRUE(QDir().mkpath(onDisk));
    const bool diskIsMemory = CHMSearchIndexFolder::isMemoryBacked(onDisk);
    for (const QString& runtime : {QString(), onDisk, QString("/nonexistent/runtime")}) {
        if (runtime == onDisk && diskIsMemory)
            continue; // the scratch folder is itself in memory here
        RuntimeFolder env(runtime);
        CHMSearchIndex index(*doc);
        index.prepareSearchIndex();
        ASSERT_TRUE(index.waitUntilDone()) << runtime.toStdString();
        EXPECT_FALSE(index.isInMemoryFolder());
        EXPECT_EQ(index.searchInFile("quokka")->rootChildrenCount(), 2u);
    }
    // Nothing of the book was written to the disk folder.
    EXPECT_TRUE(entriesOf(onDisk).isEmpty());
}

TEST(SearchIndexEnd, ABuildThatXapianFailsEndsUnavailableAndStillReportsItsEnd) {
    coreApplication();
    const QString runtime = memoryFolder();
    if (runtime.isNull())
        GTEST_SKIP() << "no memory-backed file system here";
    auto doc = openDocument(fixturePath("sample"));
    ASSERT_TRUE(doc);
    // A file size limit makes Xapian's writes fail (EFBIG instead of the signal) part-way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tiny = saved;
    tiny.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    bool called = false;
    {
        RuntimeFolder env(runtime);
        CHMSearchIndex index(*doc);
        index.prepareSearchIndex([&] { called = true; });
        EXPECT_FALSE(index.waitUntilDone());
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(index.status(), CHMSearchIndex::Status::Unavailable);
        EXPECT_FALSE(index.failureReason().isEmpty());
        EXPECT_FALSE(index.isIndexDone());
        EXPECT_FALSE(index.searchInFile("lantern"));
        EXPECT_TRUE(processEventsUntil([&] { return called; }));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_TRUE(entriesOf(runtime).isEmpty());
    QDir(runtime).removeRecursively();
}

TEST(SearchIndexEnd, TheDoneCallbackRunsOnItsContextsThreadWhereItMayDestroyTheIndex) {
    coreApplication();
    auto doc = openDocument(fixturePath("nested"));
    ASSERT_TRUE(doc);
    QObject context;
    auto index = std::make_unique<CHMSearchIndex>(*doc);
    int calls = 0;
    std::thread::id ranOn;
    index->prepareSearchIndex(
        [&] {
            ++calls;
            ranOn = std::this_thread::get_id();
            // What once made the index thread detach itself.
            EXPECT_EQ(index->status(), CHMSearchIndex::Status::Ready);
            index.reset();
        },
        &context);
    ASSERT_TRUE(processEventsUntil([&] { return calls > 0; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_FALSE(index);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);

    // Cancelled, whether before or after the build ended, it does not run; neither does a
    // second start.
    for (const bool waitFirst : {false, true}) {
        CHMSearchIndex cancelled(*doc);
        bool ran = false;
        cancelled.prepareSearchIndex([&] { ran = true; }, &context);
        if (waitFirst)
            cancelled.waitUntilDone();
        cancelled.cancel();
        cancelled.prepareSearchIndex([&] { ran = true; }, &context);
        processEventsUntil([] { return false; }, 300); // time for a queued call to arrive
        EXPECT_FALSE(ran) << waitFirst;
    }
}
