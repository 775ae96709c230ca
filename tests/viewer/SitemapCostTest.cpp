// What one sitemap may cost: books of a few hundred KB whose sitemaps decompress to hundreds of
// MiB or hold a million nested entries. They are read up to a limit, what was left out is
// counted and reported, and every command stays within a bounded peak of memory.
#include "CHMSitemapLoader.h"
#include "CHMTableOfContent.h"
#include "SitemapBytes.h"
#include "SitemapParser.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace testsupport;

namespace {

QByteArray entry(const QByteArray& name) {
    return "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" + name +
           "\"><param name=\"Local\" value=\"p.htm\"></object>";
}

// The sitemap's entries, counted as the reader counts them.
quint64 entriesIn(const QByteArray& sitemap) {
    return countSitemapEntries(sitemap, 0);
}

struct PeakRun {
    int status = -1;
    QByteArray err;
    long peakMiB = -1;
};

// Runs chmtool and measures its peak resident memory (and that of the processes it waited for)
// through wait4. AddressSanitizer's quarantine keeps freed memory resident on purpose; it is
// turned off for the run so that what is measured is the program's own memory.
PeakRun runMeasured(const QStringList& args) {
    const QString errPath = scratchDir() + "/measured.err";
    std::vector<std::string> argStrings{chmtoolPath().toStdString()};
    for (const QString& a : args)
        argStrings.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    std::string asan = "ASAN_OPTIONS=quarantine_size_mb=0";
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0)
            asan = std::string(*e) + ":quarantine_size_mb=0";
        else
            envStrings.emplace_back(*e);
    }
    envStrings.push_back(asan);
    std::vector<char*> envp;
    for (std::string& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.toLocal8Bit().constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    PeakRun run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMiB = usage.ru_maxrss / 1024; // kilobytes on Linux
    run.err = readWholeFile(errPath);
    return run;
}

// An export keeps a PDF outline entry of some kilobytes per list entry; with AddressSanitizer's
// shadow memory and redzones that is about two and a half times as much.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kExportBoundMiB = 1000;
#else
constexpr long kExportBoundMiB = 400;
#endif

} // namespace

// The limit cuts the sitemap before the entry it would split; every entry after the cut is
// counted, in pieces, so that a count never depends on where a piece ends.
TEST(SitemapCost, ASitemapBeyondTheLimitIsReadUpToItsLastWholeEntryAndTheRestCounted) {
    struct Case {
        const char* what;
        QByteArray entry;
        int count;
        quint64 limit;
    };
    const Case cases[] = {
        {"shorter than the limit", "<li>", 100, 1000},
        {"exactly the limit", "<li>", 250, 1000},
        {"one byte over", "<li>", 251, 1000},
        {"odd entries over several pieces", entry("odd") + "\n", 300000, 5000},
        {"upper case, long entries", "<LI >" + QByteArray(4093, 'x'), 5000, 100000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray sitemap = "<ul>" + c.entry.repeated(c.count) + "</ul>";
        qsizetype largestRead = 0;
        const SitemapBytes bytes = readSitemapBytes(
            [&](const QString&, quint64 offset, quint64 length) {
                const QByteArray piece = CHMSitemapLoader::rangesOf(
                    [&](const QString&) { return sitemap; })(QString(), offset, length);
                largestRead = std::max(largestRead, piece.size());
                return piece;
            },
            QStringLiteral("/toc.hhc"), c.limit);
        EXPECT_LE(static_cast<quint64>(bytes.head.size()), c.limit);
        EXPECT_TRUE(sitemap.startsWith(bytes.head));
        EXPECT_EQ(entriesIn(bytes.head) + bytes.entriesLeftOut, quint64(c.count));
        if (static_cast<quint64>(sitemap.size()) <= c.limit) {
            EXPECT_EQ(bytes.head, sitemap);
        } else {
            // The head ends where an entry starts, so that no entry is read half.
            EXPECT_EQ(entriesIn(sitemap.mid(bytes.head.size(), 4)), 1u);
        }
        EXPECT_LE(static_cast<quint64>(largestRead), std::max<quint64>(c.limit + 1, 4u << 20));
    }
}

// A book of a million nested entries and one whose sitemap is one huge entry: every command
// finishes, says the list was cut, and stays within a few hundred MiB.
TEST(SitemapCost, BooksWithHugeSitemapsAreCutAndEveryCommandStaysBounded) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's shadow memory multiplies every figure: the bounds mean nothing there.
    GTEST_SKIP() << "memory bounds are not measured under ThreadSanitizer";
#endif
    // The books are made in a child process: a process's peak memory is handed on to the
    // programs it starts, and the test's own would hide what chmtool takes.
    const QString nestedBook = scratchDir() + "/million-nested.chm";
    const QString hugeBook = scratchDir() + "/huge-entry.chm";
    const pid_t maker = fork();
    ASSERT_GE(maker, 0);
    if (maker == 0) {
        const QByteArray system = systemFile({{0, QByteArray("toc.hhc\0", 8)},
                                              {1, QByteArray("index.hhk\0", 10)},
                                              {2, QByteArray("p.htm\0", 6)}});
        QByteArray nested;
        {
            const QByteArray one = "<ul>" + entry("n");
            nested.reserve(one.size() * 1000000);
            for (int i = 0; i < 1000000; ++i)
                nested += one;
        }
        const QString nestedBook =
            writeScratchFile("million-nested.chm", writeChm({{"/#SYSTEM", system},
                                                             {"/toc.hhc", nested},
                                                             {"/index.hhk", nested},
                                                             {"/p.htm", "<p>the one page</p>"}}));
        nested.clear();
        nested.squeeze();
        // Fifty honest entries, then one whose name is 120 MiB long, then a few more.
        QByteArray huge = "<ul>" + entry("e").repeated(50);
        huge += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"";
        huge += QByteArray(120 << 20, 'x');
        huge += "\"></object>" + entry("f").repeated(9) + "</ul>";
        const QString hugeBook =
            writeScratchFile("huge-entry.chm", writeChm({{"/#SYSTEM", system},
                                                         {"/toc.hhc", huge},
                                                         {"/index.hhk", huge},
                                                         {"/p.htm", "<p>the one page</p>"}}));
        huge.clear();
        huge.squeeze();
        _exit(QFile::exists(nestedBook) && QFile::exists(hugeBook) ? 0 : 1);
    }
    int made = -1;
    ASSERT_EQ(waitpid(maker, &made, 0), maker);
    ASSERT_TRUE(WIFEXITED(made) && WEXITSTATUS(made) == 0);

    QTemporaryDir out;
    struct Case {
        QString book;
        QStringList args;
        const char* cut;
        long boundMiB;
    };
    const Case cases[] = {
        {nestedBook, {"toc"}, "contents: the list was cut at 100000 entries; 900000 more", 400},
        {nestedBook, {"index"}, "index: the list was cut at 100000 entries; 900000 more", 400},
        {nestedBook, {"info"}, nullptr, 400},
        {nestedBook, {"export", out.path()}, nullptr, kExportBoundMiB},
        {hugeBook, {"toc"}, "contents: the list was cut at 50 entries; 10 more", 400},
        {hugeBook, {"index"}, "index: the list was cut at 50 entries; 10 more", 400},
        {hugeBook, {"info"}, nullptr, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QFileInfo(c.book).fileName().toStdString() + " " +
                     c.args.first().toStdString());
        QStringList args{c.args.first(), c.book};
        args += c.args.mid(1);
        const PeakRun run = runMeasured(args);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        if (c.cut) {
            EXPECT_TRUE(run.err.contains(c.cut)) << run.err.toStdString();
        }
        EXPECT_GT(run.peakMiB, 0);
        EXPECT_LT(run.peakMiB, c.boundMiB);
    }
    EXPECT_TRUE(QFile::exists(out.path() + "/million-nested.pdf"));
}
