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
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

// Without a memory-backed runtime folder (none set, as under service managers and as root; one
// on disk; one that does not exist) the index goes to a private folder in /dev/shm, gone with
// it; on the heap only where /dev/shm is not memory-backed either. Never to the disk.
TEST(SearchIndexStorage, WithoutAMemoryBackedRuntimeFolderTheIndexLivesInDevShmNeverOnDisk) {
    auto doc = openDocument(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const QString onDisk = scratchDir() + "/runtime";
    ASSERT_TRUE(QDir().mkpath(onDisk));
    const bool diskIsMemory = CHMSearchIndexFolder::isMemoryBacked(onDisk);
    const bool shmIsMemory = CHMSearchIndexFolder::isMemoryBacked("/dev/shm");
    const auto ours = [] {
        QStringList found;
        for (const QString& name : QDir("/dev/shm").entryList({"lumeno-search-*"}, QDir::Dirs)) {
            if (QFileInfo::exists("/dev/shm/" + name + "/owner") &&
                readWholeFile("/dev/shm/" + name + "/owner").trimmed() ==
                    QByteArray::number(::getpid()))
                found << "/dev/shm/" + name;
        }
        return found;
    };
    for (const QString& runtime : {QString(), onDisk, QString("/nonexistent/runtime")}) {
        if (runtime == onDisk && diskIsMemory)
            continue; // the scratch folder is itself in memory here
        SCOPED_TRACE(runtime.toStdString());
        RuntimeFolder env(runtime);
        {
            CHMSearchIndex index(*doc);
            index.prepareSearchIndex();
            ASSERT_TRUE(index.waitUntilDone());
            EXPECT_EQ(index.isInMemoryFolder(), shmIsMemory);
            EXPECT_EQ(index.searchInFile("quokka")->rootChildrenCount(), 2u);
            if (shmIsMemory) {
                const QStringList made = ours();
                ASSERT_EQ(made.size(), 1);
                EXPECT_GT(index.storageBytes(), 0u);
                EXPECT_FALSE(QFileInfo(made[0]).permissions() &
                             (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                              QFile::ReadOther | QFile::WriteOther | QFile::ExeOther));
            }
        }
        EXPECT_TRUE(ours().isEmpty());
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

namespace {

// A child process that makes a search index folder in `runtime`, writes its path to `out`, and
// then either ends without removing it (as a killed reader does) or waits to be killed.
pid_t childWithFolder(const QString& runtime, int out, bool staysAlive) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    RuntimeFolder env(runtime);
    std::unique_ptr<CHMSearchIndexFolder> folder = CHMSearchIndexFolder::create();
    const QByteArray path = folder ? QFile::encodeName(folder->path()) + '\n' : "\n";
    [[maybe_unused]] const ssize_t written = ::write(out, path.constData(), path.size());
    while (staysAlive)
        ::pause();
    folder.release(); // left behind, with no destructor to remove it
    ::_exit(0);
}

QString readLine(int fd) {
    QByteArray line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return QFile::decodeName(line);
}

} // namespace

TEST(SearchIndexStorage, FoldersOfProcessesThatAreGoneAreSweptAndThoseOfLiveOnesKept) {
    const QString runtime = memoryFolder();
    if (runtime.isNull())
        GTEST_SKIP() << "no memory-backed file system here";
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t alive = childWithFolder(runtime, pipeEnds[1], true);
    const std::unique_ptr<void, std::function<void(void*)>> killAtEnd(
        reinterpret_cast<void*>(1), [alive](void*) {
            ::kill(alive, SIGKILL);
            ::waitpid(alive, nullptr, 0);
        });
    const QString liveFolder = readLine(pipeEnds[0]);
    const pid_t dead = childWithFolder(runtime, pipeEnds[1], false);
    const QString deadFolder = readLine(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(dead, &status, 0), dead);
    ASSERT_FALSE(deadFolder.isEmpty());
    ASSERT_FALSE(liveFolder.isEmpty());
    ASSERT_TRUE(QFileInfo::exists(deadFolder + "/owner"));
    // A folder still being made (no owner file yet) is not touched either.
    const QString making = runtime + "/lumeno-search-making";
    ASSERT_TRUE(QDir().mkpath(making));

    {
        RuntimeFolder env(runtime);
        // The next start: making its own folder, it sweeps the dead one's.
        auto own = CHMSearchIndexFolder::create();
        ASSERT_TRUE(own);
        EXPECT_FALSE(QFileInfo::exists(deadFolder));
        EXPECT_TRUE(QFileInfo::exists(liveFolder));
        EXPECT_TRUE(QFileInfo::exists(making));
        // The process's own folder is live too.
        EXPECT_EQ(CHMSearchIndexFolder::sweepStale(runtime), 0);
        EXPECT_TRUE(QFileInfo::exists(own->path()));

        ::kill(alive, SIGKILL);
        ::waitpid(alive, nullptr, 0);
        EXPECT_EQ(CHMSearchIndexFolder::sweepStale(runtime), 1);
        EXPECT_FALSE(QFileInfo::exists(liveFolder));
        EXPECT_TRUE(QFileInfo::exists(own->path()));
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    EXPECT_EQ(entriesOf(runtime), QStringList{"lumeno-search-making"});
    QDir(runtime).removeRecursively();
}
