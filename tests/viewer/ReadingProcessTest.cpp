// The book's reading process: it is found and started for each document, confined to its own
// book, and its death or a broken answer makes the book read as damaged without taking the
// reader with it. A stand-in program (FakeChmReader.cpp) breaks the protocol on purpose.
#include "CHMContainerReader.h"
#include "CHMDocument.h"
#include "CHMReaderProcess.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <tuple>
#include <unistd.h>

using namespace testsupport;

namespace {

// Points the documents opened meanwhile at another reading program.
class ReadingProgram {
public:
    explicit ReadingProgram(const QByteArray& path) : m_saved(qgetenv("LUMENO_CHM_READER")) {
        qputenv("LUMENO_CHM_READER", path);
    }
    ~ReadingProgram() { qputenv("LUMENO_CHM_READER", m_saved); }

private:
    QByteArray m_saved;
};

// The stand-in reading program, misbehaving as `mode` says (see FakeChmReader.cpp).
QString fakeBook(const QByteArray& mode) {
    return writeScratchFile(QString::fromLatin1(mode) + ".chm", mode);
}

QByteArray readAvailable(int fd) {
    QByteArray bytes;
    char buffer[512];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 2000) > 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<int>(got));
        if (bytes.count('\n') >= 2)
            break;
    }
    return bytes;
}

QStringList linksOfDescriptors(qint64 pid) {
    QStringList links;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
        links << fd + QLatin1String(" -> ") + QFileInfo(fds.filePath(fd)).symLinkTarget();
    return links;
}

} // namespace

TEST(ReadingProcess, AMissingProgramFailsTheOpeningWithOneLine) {
    const ReadingProgram missing("/nonexistent/lumeno-chm-reader");
    QString error;
    EXPECT_EQ(CHMDocument::open(fixturePath("nested"), &error), nullptr);
    EXPECT_EQ(error, "“nested.chm” could not be opened: the reading program lumeno-chm-reader is "
                     "missing (LUMENO_CHM_READER names /nonexistent/lumeno-chm-reader, which is "
                     "no program).");
}

TEST(ReadingProcess, OnceConfinedItCannotOpenAnyOtherFileButStillServesItsBook) {
    const QString other = fixturePath("sample");
    ASSERT_TRUE(QFile(other).open(QIODevice::ReadOnly)) << "the probe's target must be readable";
    QFile book(fixturePath("nested"));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    CHMOpenFailure failure;
    auto process = CHMReaderProcess::start(book.handle(), &failure,
                                           {QStringLiteral("--probe-open"), other}, out[1]);
    ::close(out[1]);
    const QByteArray report = readAvailable(out[0]);
    ::close(out[0]);
    ASSERT_NE(process, nullptr) << failure.reason.toStdString();
    const QByteArray denied = QByteArray(std::strerror(EPERM));
    EXPECT_EQ(report, "open: " + denied + "\nopenat: " + denied + "\n");
    EXPECT_TRUE(process->content(QStringLiteral("/index.htm")).contains("Nested Fixture Home"));
    EXPECT_TRUE(process->exist(QStringLiteral("/nested.hhc")));
    EXPECT_FALSE(process->isLost());
}

TEST(ReadingProcess, EachBookHasItsOwnProcessHoldingOnlyItsFileWithoutPrivilegesOrEnvironment) {
    qputenv("LUMENO_TEST_SECRET", "not for the reading process");
    const QString pathA = fixturePath("nested"), pathB = fixturePath("sample");
    auto a = CHMDocument::open(pathA);
    auto b = CHMDocument::open(pathB);
    ASSERT_TRUE(a && b);
    ASSERT_NE(a->readerProcessId(), b->readerProcessId());
    const QString canonicalA = QFileInfo(pathA).canonicalFilePath();
    const QString canonicalB = QFileInfo(pathB).canonicalFilePath();
    const QStringList fds = linksOfDescriptors(b->readerProcessId());
    // Standard input, output and error, the book, the socket, and chmlib's own descriptor.
    EXPECT_EQ(fds.size(), 6) << fds.join(", ").toStdString();
    EXPECT_FALSE(fds.join('\n').contains(canonicalA)) << fds.join(", ").toStdString();
    EXPECT_TRUE(fds.join('\n').contains(canonicalB)) << fds.join(", ").toStdString();
    QFile status(QStringLiteral("/proc/%1/status").arg(b->readerProcessId()));
    ASSERT_TRUE(status.open(QIODevice::ReadOnly));
    const QByteArray state = status.readAll();
    EXPECT_TRUE(state.contains("NoNewPrivs:\t1")) << state.toStdString();
    EXPECT_TRUE(state.contains("Seccomp:\t2")) << state.toStdString();
    QFile environ(QStringLiteral("/proc/%1/environ").arg(b->readerProcessId()));
    ASSERT_TRUE(environ.open(QIODevice::ReadOnly));
    const QByteArray environment = environ.readAll();
    EXPECT_FALSE(environment.contains("LUMENO_TEST_SECRET"));
    EXPECT_FALSE(environment.contains("PATH="));
}

TEST(ReadingProcess, AKilledProcessMakesItsBookReadAsDamagedWhileAnotherBookReadsOn) {
    auto killed = CHMDocument::open(fixturePath("nested"));
    auto other = CHMDocument::open(fixturePath("sample"));
    ASSERT_TRUE(killed && other);
    ASSERT_FALSE(killed->content(QStringLiteral("/index.htm")).isNull());
    const std::vector<CHMObjectEntry> listed = killed->objects();
    ASSERT_EQ(::kill(static_cast<pid_t>(killed->readerProcessId()), SIGKILL), 0);
    EXPECT_TRUE(killed->content(QStringLiteral("/index.htm")).isNull());
    EXPECT_TRUE(killed->isDamaged());
    EXPECT_FALSE(killed->exist(QStringLiteral("/index.htm")));
    EXPECT_TRUE(killed->contentOfEntry(listed.front()).isNull());
    EXPECT_FALSE(other->isDamaged());
    EXPECT_FALSE(other->content(other->homePath()).isNull());
}

struct BrokenAnswer {
    const char* mode;
    const char* what;
};

class UntrustedAnswers : public ::testing::TestWithParam<BrokenAnswer> {};

// Each mode breaks the first answer; the stand-in answers well afterwards, which must no longer
// be believed.
TEST_P(UntrustedAnswers, ABrokenAnswerIsTakenAsTheProcesssDeathNotAsData) {
    const ReadingProgram fake(LUMENO_FAKE_CHM_READER);
    QFile book(fakeBook(GetParam().mode));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    CHMOpenFailure failure;
    auto process = CHMReaderProcess::start(book.handle(), &failure);
    ASSERT_NE(process, nullptr) << failure.reason.toStdString();
    ASSERT_EQ(process->objects().size(), 3u);
    const bool good = QByteArray(GetParam().mode) == "good";
    EXPECT_EQ(process->content(QStringLiteral("/index.htm")), good ? "hello" : QByteArray())
        << GetParam().what;
    EXPECT_EQ(process->isLost(), !good) << GetParam().what;
    EXPECT_EQ(process->content(QStringLiteral("/index.htm")), good ? "hello" : QByteArray());
    EXPECT_EQ(process->exist(QStringLiteral("/index.htm")), good);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, UntrustedAnswers,
    ::testing::Values(BrokenAnswer{"good", "a well-behaved process is believed"},
                      BrokenAnswer{"die", "the process ends instead of answering"},
                      BrokenAnswer{"huge-length", "a length of 4 GiB"},
                      BrokenAnswer{"just-over-the-cap", "a length one past the largest object"},
                      BrokenAnswer{"wrong-type", "an answer of another request"},
                      BrokenAnswer{"empty-object", "an object of no bytes"},
                      BrokenAnswer{"payload-on-missing", "a missing object with bytes"},
                      BrokenAnswer{"cut-short", "an object cut short"}),
    [](const auto& info) {
        std::string name = info.param.mode;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// A walk in storage order gets the objects after the one asked for in the same answer; a broken
// batch is the process's death like any broken answer.
TEST(UntrustedBatches, ABrokenReadAheadAnswerIsTakenAsTheProcesssDeath) {
    const ReadingProgram fake(LUMENO_FAKE_CHM_READER);
    for (const char* mode :
         {"batch-one-item-short", "batch-first-not-sent", "batch-trailing-byte"}) {
        QFile book(fakeBook(mode));
        ASSERT_TRUE(book.open(QIODevice::ReadOnly));
        auto process = CHMReaderProcess::start(book.handle(), nullptr);
        ASSERT_NE(process, nullptr);
        const std::vector<CHMObjectEntry> listed = process->objects();
        // "/a.htm" alone, then "/b.htm" with "/index.htm" read ahead.
        EXPECT_EQ(process->contentOfEntry(listed[0]), "hello") << mode;
        EXPECT_TRUE(process->contentOfEntry(listed[2]).isNull()) << mode;
        EXPECT_TRUE(process->isLost()) << mode;
        EXPECT_TRUE(process->contentOfEntry(listed[1]).isNull()) << mode;
    }
}

// Every way of walking a book through the process answers exactly what the container code
// answers in this process: in storage order (read ahead), every third object of it, in name
// order, and backwards. One crafted book has names near the longest a directory holds, so a
// full read-ahead request is as large as requests get.
TEST(ReadingProcess, WalksReadEveryObjectExactlyAsTheContainerReaderDoes) {
    std::vector<ChmObject> longNames;
    for (int i = 0; i < 300; ++i)
        longNames.push_back({"/" + QByteArray(480, 'n') + QByteArray::number(i) + ".htm",
                             "<p>page " + QByteArray::number(i) + "</p>"});
    QStringList books{fixturePath("nested"), fixturePath("sample"),
                      writeScratchFile("long-names.chm", writeChm(longNames))};
    if (missingCorpus("en-fpc-fcl-chmcmd-large.chm").isEmpty())
        books << corpusPath("en-fpc-fcl-chmcmd-large.chm");
    for (const QString& path : books) {
        const auto direct = CHMContainerReader::open(path, nullptr);
        QFile book(path);
        ASSERT_TRUE(direct && book.open(QIODevice::ReadOnly));
        auto process = CHMReaderProcess::start(book.handle(), nullptr);
        ASSERT_NE(process, nullptr);
        std::vector<CHMObjectEntry> stored = direct->objects();
        std::stable_sort(stored.begin(), stored.end(), [](const auto& a, const auto& b) {
            return std::tie(a.section, a.offset) < std::tie(b.section, b.offset);
        });
        std::vector<CHMObjectEntry> everyThird, backwards(stored.rbegin(), stored.rend());
        for (size_t i = 0; i < stored.size(); i += 3)
            everyThird.push_back(stored[i]);
        const std::vector<const std::vector<CHMObjectEntry>*> walks{&stored, &everyThird,
                                                                    &direct->objects(), &backwards};
        for (const auto* walk : walks) {
            for (const CHMObjectEntry& entry : *walk) {
                const QByteArray expected = direct->contentOfEntry(entry);
                ASSERT_EQ(process->contentOfEntry(entry), expected)
                    << path.toStdString() << " " << entry.name.toStdString();
            }
        }
        EXPECT_FALSE(process->isLost());
    }
}

TEST(ReadingProcess, ABrokenOpeningAnswerRefusesTheBookWithOneLine) {
    const ReadingProgram fake(LUMENO_FAKE_CHM_READER);
    const struct {
        const char* mode;
        const char* message;
    } cases[] = {
        {"refuse", "“refuse.chm” is damaged: a test refusal."},
        {"bad-list", "“bad-list.chm” is damaged: its reading process stopped."},
        {"odd-opening", "“odd-opening.chm” is damaged: its reading process stopped."},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_EQ(CHMDocument::open(fakeBook(c.mode), &error), nullptr) << c.mode;
        EXPECT_EQ(error, QString::fromUtf8(c.message));
    }
}

TEST(ReadingProcess, ChmtoolSaysInOneLineThatTheProcessStoppedAndExitsOne) {
    const ReadingProgram fake(LUMENO_FAKE_CHM_READER);
    const QString book = fakeBook("die");
    const ToolRun run = runChmTool({"cat", book, "/index.htm"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.trimmed(),
              book + ": the book's reading process has stopped; the file is damaged");
    EXPECT_TRUE(run.out.isEmpty());
}
