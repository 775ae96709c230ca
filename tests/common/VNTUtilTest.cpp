#include "VNTUtil.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each test works in its own empty folder.
class Files : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = testsupport::scratchDir() + "/" + info->test_suite_name() + "-" + info->name();
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
    }

    QString path(const QString& name) const { return folder + "/" + name; }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(path(name)); }
    QUrl folderUrl() const { return QUrl::fromLocalFile(folder); }

    void put(const QString& name, const QByteArray& bytes = "x") const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    void makeFolder(const QString& name) const { ASSERT_TRUE(QDir().mkpath(path(name))); }
    QByteArray contents(const QString& name) const {
        return testsupport::readWholeFile(path(name));
    }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }
    QByteArray native(const QString& name) const { return QFile::encodeName(path(name)); }

    QString folder;
};

QByteArray pattern(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + 7) % 251);
    return bytes;
}

// ---- Version ----------------------------------------------------------------------------------

TEST(CompareSystemVersion, SignTellsHowTheRunningVersionCompares) {
    EXPECT_EQ(CompareSystemVersion(10, 7, 3, 10, 7, 3), 0);
    EXPECT_LT(CompareSystemVersion(10, 7, 3, 10, 7, 2), 0);
    EXPECT_GT(CompareSystemVersion(10, 7, 3, 10, 8, 0), 0);
    EXPECT_GT(CompareSystemVersion(10, 7, 3, 10, 7, 4), 0);
    EXPECT_LT(CompareSystemVersion(10, 7, 3, 9, 9, 9), 0);
}

TEST(CompareSystemVersion, ExtremeNumbersKeepTheirSign) {
    EXPECT_GT(CompareSystemVersion(INT_MIN, 0, 0, INT_MAX, 0, 0), 0);
    EXPECT_LT(CompareSystemVersion(INT_MAX, 0, 0, INT_MIN, 0, 0), 0);
}

TEST(CompareSystemVersion, RunningSystemIsNewerThanGatedVersions) {
    EXPECT_GT(CompareSystemVersion(10, 7, 3), 0);
    EXPECT_GT(CompareSystemVersion(10, 7, 0), 0);
}

// ---- Temporary names --------------------------------------------------------------------------

TEST(TemporaryNames, FreshPathInTheTemporaryFolder) {
    const QUrl a = GetTemporaryURL();
    const QUrl b = GetTemporaryURL();
    ASSERT_TRUE(a.isLocalFile());
    EXPECT_NE(a, b);
    const QFileInfo info(a.toLocalFile());
    EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_FALSE(info.exists());
}

TEST(TemporaryNames, PrefixComesBeforeHyphenAndUuid) {
    const QFileInfo info(GetTemporaryURLWithPrefix("lumeno").toLocalFile());
    EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_TRUE(info.fileName().startsWith("lumeno-"));
    EXPECT_EQ(info.fileName().size(), QString("lumeno-").size() + 36);
}

TEST_F(Files, TemporaryNameForDestinationOnTheTemporaryFileSystemUsesTheTemporaryFolder) {
    const QFileInfo info(GetTemporaryURLForDestination(url("out.pdf")).toLocalFile());
    EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_FALSE(info.exists());
}

TEST(TemporaryNames, TemporaryNameForUnusableDestinationUsesTheTemporaryFolder) {
    for (const QUrl& destination : {QUrl(), QUrl::fromLocalFile("/no/such/folder/out.pdf")}) {
        const QFileInfo info(GetTemporaryURLForDestination(destination).toLocalFile());
        EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    }
}

// ---- Unique file names ------------------------------------------------------------------------

TEST_F(Files, UniqueNameIsThePlainNameWhenFree) {
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "pdf", false), url("Report.pdf"));
}

TEST_F(Files, UniqueNameCountsPastTakenNames) {
    put("Report.pdf");
    put("Report 1.pdf");
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "pdf", false), url("Report 2.pdf"));
}

TEST_F(Files, UniqueNameWithoutExtensionHasNoDot) {
    put("Report");
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", QString(), false), url("Report 1"));
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "", false), url("Report 1"));
}

TEST_F(Files, UniqueNameTreatsADirectoryAsTaken) {
    makeFolder("Report.pdf");
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "pdf", false), url("Report 1.pdf"));
}

TEST_F(Files, UniqueNameTreatsADanglingLinkAsTaken) {
    ASSERT_TRUE(QFile::link(path("nowhere"), path("Report.pdf")));
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "pdf", false), url("Report 1.pdf"));
}

TEST_F(Files, UniqueNameKeepsPercentSignsOfTheBaseName) {
    put("50%2 off.txt");
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "50%2 off", "txt", false), url("50%2 off 1.txt"));
}

TEST_F(Files, ReplaceExistingRemovesThePlainFile) {
    put("Report.pdf", "old");
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "pdf", true), url("Report.pdf"));
    EXPECT_FALSE(exists("Report.pdf"));
}

TEST_F(Files, ReplaceExistingNeverRemovesADirectoryOrANumberedSibling) {
    makeFolder("Report.pdf");
    put("Report.pdf/inside");
    put("Report 1.pdf", "keep");
    EXPECT_EQ(GetUniqueURLInFolder(folderUrl(), "Report", "pdf", true), url("Report 2.pdf"));
    EXPECT_TRUE(exists("Report.pdf/inside"));
    EXPECT_EQ(contents("Report 1.pdf"), "keep");
}

TEST_F(Files, UniqueNameForFileUsesItsNameWithoutExtension) {
    put("manual.pdf");
    const QUrl chm = QUrl::fromLocalFile("/somewhere/manual.v2.chm");
    EXPECT_EQ(GetUniqueURLForFileInFolder(folderUrl(), chm, "pdf", false), url("manual.v2.pdf"));
    const QUrl plain = QUrl::fromLocalFile("/somewhere/manual.chm");
    EXPECT_EQ(GetUniqueURLForFileInFolder(folderUrl(), plain, "pdf", false), url("manual 1.pdf"));
}

TEST(UniqueNames, InvalidFolderGivesInvalidURL) {
    EXPECT_FALSE(GetUniqueURLInFolder(QUrl(), "Report", "pdf", true).isValid());
    EXPECT_FALSE(GetUniqueFolderURL(QUrl(), "Pages", true).isValid());
}

// ---- Unique folder names ----------------------------------------------------------------------

TEST_F(Files, UniqueFolderCountsPastDirectoriesAndCreates) {
    makeFolder("Pages");
    makeFolder("Pages 1");
    const QUrl result = GetUniqueFolderURL(folderUrl(), "Pages", true);
    EXPECT_EQ(result, url("Pages 2"));
    EXPECT_TRUE(QFileInfo(path("Pages 2")).isDir());
}

TEST_F(Files, UniqueFolderIsNotCreatedUnlessAsked) {
    EXPECT_EQ(GetUniqueFolderURL(folderUrl(), "Pages", false), url("Pages"));
    EXPECT_FALSE(exists("Pages"));
}

TEST_F(Files, UniqueFolderCreatesMissingParents) {
    const QUrl parent = url("a/b");
    EXPECT_EQ(GetUniqueFolderURL(parent, "Pages", true), url("a/b/Pages"));
    EXPECT_TRUE(QFileInfo(path("a/b/Pages")).isDir());
}

TEST_F(Files, PlainFileDoesNotTakeAFolderNameSoCreationFails) {
    put("Pages", "file");
    EXPECT_EQ(GetUniqueFolderURL(folderUrl(), "Pages", false), url("Pages"));
    EXPECT_FALSE(GetUniqueFolderURL(folderUrl(), "Pages", true).isValid());
    EXPECT_EQ(contents("Pages"), "file");
}

TEST_F(Files, UniqueFolderForFileUsesItsBaseName) {
    const QUrl file = QUrl::fromLocalFile("/x/Guide.chm");
    EXPECT_EQ(GetUniqueFolderURLForFile(folderUrl(), file, true), url("Guide"));
    EXPECT_TRUE(QFileInfo(path("Guide")).isDir());
}

// ---- writeFile / readFile ---------------------------------------------------------------------

TEST_F(Files, WrittenFileReadsBackWhole) {
    const QByteArray bytes = pattern(100'000);
    ASSERT_EQ(writeFile(native("data"), bytes.constData(), bytes.size()), 0);
    void* buffer = nullptr;
    size_t length = 0;
    ASSERT_EQ(readFile(native("data"), &buffer, &length), 0);
    ASSERT_EQ(length, size_t(bytes.size()));
    EXPECT_EQ(std::memcmp(buffer, bytes.constData(), length), 0);
    std::free(buffer);
}

TEST_F(Files, WriteFileTruncatesAndCreatesOwnerOnly) {
    put("data", "a much longer old content");
    ASSERT_EQ(writeFile(native("data"), "new", 3), 0);
    EXPECT_EQ(contents("data"), "new");

    ASSERT_EQ(writeFile(native("fresh"), "x", 1), 0);
    struct stat st;
    ASSERT_EQ(::stat(native("fresh"), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Files, WriteFileIntoMissingFolderReportsErrno) {
    EXPECT_EQ(writeFile(native("missing/data"), "x", 1), ENOENT);
}

TEST_F(Files, WriteFileRefusesNullBufferWithoutTouchingTheFile) {
    put("data", "keep");
    EXPECT_EQ(writeFile(native("data"), nullptr, 4), EINVAL);
    EXPECT_EQ(contents("data"), "keep");
}

TEST_F(Files, ReadFileOfMissingFileReportsErrnoAndClearsOutputs) {
    void* buffer = reinterpret_cast<void*>(0x1);
    size_t length = 99;
    EXPECT_EQ(readFile(native("missing"), &buffer, &length), ENOENT);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(Files, ReadFileOfEmptyFileGivesAFreeableBuffer) {
    put("empty", "");
    void* buffer = nullptr;
    size_t length = 99;
    ASSERT_EQ(readFile(native("empty"), &buffer, &length), 0);
    EXPECT_NE(buffer, nullptr);
    EXPECT_EQ(length, 0u);
    std::free(buffer);
}

TEST_F(Files, ReadFileOfDirectoryFailsWithoutBuffer) {
    makeFolder("dir");
    void* buffer = nullptr;
    size_t length = 0;
    EXPECT_EQ(readFile(native("dir"), &buffer, &length), 5);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(WholeFiles, NullArgumentsAreRefused) {
    size_t length = 7;
    EXPECT_EQ(readFile("/etc/hostname", nullptr, &length), EINVAL);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(readFile(nullptr, nullptr, nullptr), EINVAL);
    EXPECT_EQ(writeFile(nullptr, "x", 1), EINVAL);
    EXPECT_EQ(copyFile(nullptr, "/tmp/x"), EINVAL);
}

// ---- copyFile ---------------------------------------------------------------------------------

TEST_F(Files, CopyOfEmptyFileCreatesEmptyDestination) {
    put("empty", "");
    ASSERT_EQ(copyFile(native("empty"), native("copy")), 0);
    EXPECT_TRUE(exists("copy"));
    EXPECT_EQ(contents("copy"), QByteArray());
}

TEST_F(Files, CopyInManyChunksKeepsEveryByte) {
    const QByteArray bytes = pattern(1000);
    put("source", bytes);
    put("copy", pattern(5000)); // longer old content must not survive
    ASSERT_EQ(copyFileInChunks(native("source"), native("copy"), 7), 0);
    EXPECT_EQ(contents("copy"), bytes);
}

TEST_F(Files, CopyOfMissingSourceReportsErrnoAndCreatesNothing) {
    EXPECT_EQ(copyFile(native("missing"), native("copy")), ENOENT);
    EXPECT_FALSE(exists("copy"));
}

TEST_F(Files, CopyOntoItselfKeepsTheContent) {
    put("data", "precious");
    EXPECT_EQ(copyFile(native("data"), native("./data")), 0);
    EXPECT_EQ(contents("data"), "precious");
}

// ---- ReplaceFileAtURL -------------------------------------------------------------------------

TEST_F(Files, ReplaceMovesSourceOntoDestination) {
    put("new", "new content");
    put("old", "old content");
    EXPECT_TRUE(ReplaceFileAtURL(url("new"), url("old")));
    EXPECT_EQ(contents("old"), "new content");
    EXPECT_FALSE(exists("new"));
}

TEST_F(Files, ReplaceWithTheSameURLLeavesTheFile) {
    put("data", "stay");
    EXPECT_TRUE(ReplaceFileAtURL(url("data"), url("data")));
    EXPECT_EQ(contents("data"), "stay");
}

TEST_F(Files, ReplaceWithTwoSpellingsOfOneFileLeavesTheFile) {
    put("data", "stay");
    EXPECT_TRUE(ReplaceFileAtURL(url("data"), url("./data")));
    EXPECT_EQ(contents("data"), "stay");
}

TEST_F(Files, ReplaceWithMissingSourceFailsAndKeepsDestination) {
    put("old", "keep");
    EXPECT_FALSE(ReplaceFileAtURL(url("missing"), url("old")));
    EXPECT_EQ(contents("old"), "keep");
}

// A folder on another file system than the scratch folder, where rename() cannot move files.
class AcrossFileSystems : public Files {
protected:
    void SetUp() override {
        Files::SetUp();
        struct stat shm;
        struct stat scratch;
        if (::stat("/dev/shm", &shm) != 0 || ::stat(native(""), &scratch) != 0 ||
            shm.st_dev == scratch.st_dev || !QFileInfo("/dev/shm").isWritable())
            GTEST_SKIP() << "no second file system to move across";
        other = QStringLiteral("/dev/shm/lumeno-common-%1").arg(::getpid());
        ASSERT_TRUE(QDir().mkpath(other));
    }
    void TearDown() override {
        if (!other.isEmpty())
            QDir(other).removeRecursively();
    }
    QString other;
};

TEST_F(AcrossFileSystems, ReplaceCopiesAndRemovesTheSource) {
    const QString source = other + "/new";
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(pattern(3000));
    }
    put("old", "old content");
    EXPECT_TRUE(ReplaceFileAtURL(QUrl::fromLocalFile(source), url("old")));
    EXPECT_EQ(contents("old"), pattern(3000));
    EXPECT_FALSE(QFileInfo::exists(source));
}

TEST_F(AcrossFileSystems, ReplaceWithUnreadableSourceKeepsDestination) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const QString source = other + "/new";
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("secret");
    }
    ASSERT_TRUE(QFile::setPermissions(source, QFileDevice::WriteOwner));
    put("old", "keep");
    EXPECT_FALSE(ReplaceFileAtURL(QUrl::fromLocalFile(source), url("old")));
    EXPECT_EQ(contents("old"), "keep");
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"old"});
}

TEST_F(Files, ReplaceOverAFolderPutsTheFileThere) {
    put("new", "file");
    makeFolder("target/sub");
    EXPECT_TRUE(ReplaceFileAtURL(url("new"), url("target")));
    EXPECT_EQ(contents("target"), "file");
    EXPECT_FALSE(exists("new"));
}

TEST(ReplaceFile, NullURLNeedsNothingDone) {
    EXPECT_TRUE(ReplaceFileAtURL(QUrl(), QUrl::fromLocalFile("/tmp/x")));
    EXPECT_TRUE(ReplaceFileAtURL(QUrl::fromLocalFile("/tmp/x"), QUrl()));
}

// ---- GetFileSizeOfURL -------------------------------------------------------------------------

TEST_F(Files, FileSizeOfExistingFile) {
    put("data", pattern(12345));
    quint64 size = 0;
    EXPECT_EQ(GetFileSizeOfURL(url("data"), &size), 0);
    EXPECT_EQ(size, 12345u);
}

TEST_F(Files, FileSizeOfMissingFileLeavesOutputUntouched) {
    quint64 size = 77;
    EXPECT_EQ(GetFileSizeOfURL(url("missing"), &size), ENOENT);
    EXPECT_EQ(size, 77u);
}

// ---- Strings ----------------------------------------------------------------------------------

TEST(Strings, BaseNameDropsFolderAndLastExtension) {
    bool ok = false;
    EXPECT_EQ(GetFileBaseName(QUrl::fromLocalFile("/a/b/Guide.v2.chm"), &ok), "Guide.v2");
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetFileBaseName(QUrl::fromLocalFile("/a/.hidden"), nullptr), ".hidden");
    EXPECT_EQ(GetFileBaseName(QUrl::fromLocalFile("/a/folder/"), nullptr), "folder");
}

TEST(Strings, NullURLGivesEmptyAndNotOk) {
    bool ok = true;
    EXPECT_EQ(GetFileBaseName(QUrl(), &ok), "");
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(URLPathToStdString(QUrl(), &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(CopyURLPathCString(QUrl()), nullptr);
}

TEST(Strings, PathsAndStringsAreUtf8) {
    const QString path = QString::fromUtf8("/tmp/\xc3\x9c"
                                           "ber.chm");
    bool ok = false;
    EXPECT_EQ(URLPathToStdString(QUrl::fromLocalFile(path), &ok), "/tmp/\xc3\x9c"
                                                                  "ber.chm");
    EXPECT_TRUE(ok);
    char* copy = CopyURLPathCString(QUrl::fromLocalFile(path));
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "/tmp/\xc3\x9c"
                       "ber.chm");
    std::free(copy);
    EXPECT_EQ(ToStdString(QString::fromUtf8("\xc3\xa9t\xc3\xa9")), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(ToStdString(QString()), "");
}

TEST(Strings, CopyCStringOfNullOrEmptyIsNull) {
    EXPECT_EQ(CopyCString(QString()), nullptr);
    EXPECT_EQ(CopyCString(""), nullptr);
    char* copy = CopyCString("chm");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "chm");
    std::free(copy);
}

// ---- FormatByteSize ---------------------------------------------------------------------------

TEST(FormatByteSize, UnitsStepAt1023) {
    EXPECT_EQ(FormatByteSize(0), "0 B");
    EXPECT_EQ(FormatByteSize(1022), "1022 B");
    EXPECT_EQ(FormatByteSize(1023), "1.0 KB");
    EXPECT_EQ(FormatByteSize(1536), "1.5 KB");
    EXPECT_EQ(FormatByteSize(1047552), "1.0 MB");
    EXPECT_EQ(FormatByteSize(1.5 * 1024 * 1024 * 1024), "1.5 GB");
    EXPECT_EQ(FormatByteSize(1125899906842624.0), "1024.0 TB");
}

// ---- URLs --------------------------------------------------------------------------

TEST(URLComparison, FileURLsOfOnePathAreEqual) {
    EXPECT_TRUE(isEqualToURL(QUrl("file:///tmp/a.chm"), QUrl::fromLocalFile("/tmp/a.chm")));
    EXPECT_TRUE(isEqualToURL(QUrl("file:///tmp/dir/"), QUrl::fromLocalFile("/tmp/dir")));
    EXPECT_FALSE(isEqualToURL(QUrl::fromLocalFile("/tmp/a"), QUrl::fromLocalFile("/tmp/b")));
    EXPECT_TRUE(isEqualToURL(QUrl("https://x.org/a"), QUrl("https://x.org/a")));
    EXPECT_FALSE(isEqualToURL(QUrl("https://x.org/a"), QUrl::fromLocalFile("/a")));
}

TEST(URLComparison, NullURLEqualsNothing) {
    EXPECT_FALSE(isEqualToURL(QUrl(), QUrl()));
    EXPECT_FALSE(isEqualToURL(QUrl(), QUrl::fromLocalFile("/a")));
}

} // namespace
