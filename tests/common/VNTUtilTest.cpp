#include "VNTUtil.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each test works in its own empty folder; names starting with "/" are absolute.
class Files : public ::testing::Test {
protected:
    QString path(const QString& name) const {
        return name.isEmpty() ? folder : name.startsWith('/') ? name : folder + "/" + name;
    }
    QUrl url(const QString& name = "") const { return QUrl::fromLocalFile(path(name)); }
    QByteArray native(const QString& name) const { return QFile::encodeName(path(name)); }
    void put(const QString& name, const QByteArray& bytes = "x") const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    void mkdir(const QString& name) const { ASSERT_TRUE(QDir().mkpath(path(name))); }
    QByteArray data(const QString& name) const { return testsupport::readWholeFile(path(name)); }
    bool exists(const QString& name) const { return QFileInfo::exists(path(name)); }

    QTemporaryDir dir{testsupport::scratchDir() + "/files-XXXXXX"};
    QString folder = dir.path();
};

// Long, and with a period that no chunk size below divides.
const QByteArray kBytes = QByteArray("0123456789abcdefghijklmnopqrstuvwxyz\n").repeated(3000);

} // namespace

TEST(CompareSystemVersion, SignTellsHowTheRunningVersionComparesEvenAtExtremes) {
    EXPECT_EQ(CompareSystemVersion(10, 7, 3, 10, 7, 3), 0);
    EXPECT_GT(CompareSystemVersion(INT_MIN, 0, 0, INT_MAX, 0, 0), 0);
    EXPECT_LT(CompareSystemVersion(INT_MAX, 0, 0, INT_MIN, 0, 0), 0);
}

TEST(TemporaryNames, AreFreshUuidNamesInTheTemporaryFolder) {
    const QString temp = QFileInfo(QDir::tempPath()).absoluteFilePath();
    EXPECT_NE(GetTemporaryURL(), GetTemporaryURL());
    EXPECT_TRUE(GetTemporaryURLWithPrefix("lumeno").fileName().startsWith("lumeno-"));
    // A destination on the temporary file system, or none that is usable, keeps them there.
    for (const QUrl& destination : {QUrl::fromLocalFile(temp + "/out.pdf"), QUrl(),
                                    QUrl::fromLocalFile("/no/such/out.pdf")}) {
        const QFileInfo info(GetTemporaryURLForDestination(destination).toLocalFile());
        EXPECT_EQ(info.absolutePath(), temp);
        EXPECT_FALSE(info.exists());
    }
}

TEST_F(Files, UniqueNameCountsPastFilesFoldersAndDanglingLinks) {
    EXPECT_EQ(GetUniqueURLInFolder(url(), "Report", "pdf", false), url("Report.pdf"));
    put("Report.pdf");
    put("Report 1.pdf");
    mkdir("Book.pdf");
    ASSERT_TRUE(QFile::link(path("nowhere"), path("Link.pdf")));
    put("50%2 off");
    const QUrl chm = QUrl::fromLocalFile("/x/Report.chm");
    EXPECT_EQ(GetUniqueURLForFileInFolder(url(), chm, "pdf", false), url("Report 2.pdf"));
    EXPECT_EQ(GetUniqueURLInFolder(url(), "Book", "pdf", false), url("Book 1.pdf"));
    EXPECT_EQ(GetUniqueURLInFolder(url(), "Link", "pdf", false), url("Link 1.pdf"));
    EXPECT_EQ(GetUniqueURLInFolder(url(), "50%2 off", "", false), url("50%2 off 1"));
    EXPECT_FALSE(GetUniqueURLInFolder(QUrl(), "Report", "pdf", true).isValid());
}

TEST_F(Files, ReplaceExistingRemovesOnlyAPlainFileAtTheName) {
    put("Report.pdf", "old");
    EXPECT_EQ(GetUniqueURLInFolder(url(), "Report", "pdf", true), url("Report.pdf"));
    EXPECT_FALSE(exists("Report.pdf"));
    mkdir("Book.pdf");
    put("Book 1.pdf", "keep");
    EXPECT_EQ(GetUniqueURLInFolder(url(), "Book", "pdf", true), url("Book 2.pdf"));
    EXPECT_TRUE(QFileInfo(path("Book.pdf")).isDir());
    EXPECT_EQ(data("Book 1.pdf"), "keep");
}

TEST_F(Files, UniqueFolderCountsPastFoldersOnlyAndIsMadeWhenAsked) {
    mkdir("Pages");
    put("Pages 1", "file");
    EXPECT_EQ(GetUniqueFolderURL(url(), "Pages", false), url("Pages 1"));
    EXPECT_FALSE(GetUniqueFolderURL(url(), "Pages", true).isValid());
    EXPECT_EQ(data("Pages 1"), "file");
    EXPECT_EQ(GetUniqueFolderURL(url("a/b"), "Pages", true), url("a/b/Pages"));
    EXPECT_TRUE(QFileInfo(path("a/b/Pages")).isDir());
    EXPECT_FALSE(GetUniqueFolderURL(QUrl(), "Pages", true).isValid());
}

TEST_F(Files, WrittenFileIsOwnerOnlyReadsBackWholeAndIsTruncatedByTheNextWrite) {
    ASSERT_EQ(writeFile(native("data"), kBytes.constData(), kBytes.size()), 0);
    struct stat st;
    ASSERT_EQ(::stat(native("data"), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    void* buffer = nullptr;
    size_t length = 0;
    ASSERT_EQ(readFile(native("data"), &buffer, &length), 0);
    EXPECT_EQ(QByteArray(static_cast<const char*>(buffer), qsizetype(length)), kBytes);
    std::free(buffer);
    // Truncated by the next write; an empty file still reads as a buffer to free.
    ASSERT_EQ(writeFile(native("data"), "", 0), 0);
    ASSERT_EQ(readFile(native("data"), &buffer, &length), 0);
    EXPECT_TRUE(buffer != nullptr && length == 0);
    std::free(buffer);
}

TEST_F(Files, WholeFileFailuresReportTheCauseAndLeaveNoOutput) {
    put("data", "keep");
    mkdir("dir");
    EXPECT_EQ(writeFile(native("missing/data"), "x", 1), ENOENT);
    EXPECT_EQ(writeFile(native("data"), nullptr, 4), EINVAL);
    EXPECT_EQ(data("data"), "keep");
    const std::pair<const char*, int> failures[] = {{"missing", ENOENT}, {"dir", 5}};
    for (const auto& [name, code] : failures) {
        void* buffer = reinterpret_cast<void*>(0x1);
        size_t length = 99;
        EXPECT_EQ(readFile(native(name), &buffer, &length), code) << name;
        EXPECT_TRUE(buffer == nullptr && length == 0) << name;
    }
    EXPECT_EQ(readFile(nullptr, nullptr, nullptr), EINVAL);
    EXPECT_EQ(writeFile(nullptr, "x", 1), EINVAL);
    EXPECT_EQ(copyFile(nullptr, native("copy")), EINVAL);
    EXPECT_EQ(copyFile(native("missing"), native("copy")), ENOENT);
    EXPECT_FALSE(exists("copy"));
    quint64 size = 77;
    EXPECT_EQ(GetFileSizeOfURL(url("missing"), &size), ENOENT);
    EXPECT_EQ(size, 77u);
}

TEST_F(Files, CopyKeepsEveryByteAndNeverTruncatesItsOwnSource) {
    put("source", kBytes.left(1000));
    put("copy", kBytes);
    ASSERT_EQ(copyFileInChunks(native("source"), native("copy"), 7), 0);
    EXPECT_EQ(data("copy"), kBytes.left(1000));
    EXPECT_EQ(copyFile(native("source"), native("./source")), 0);
    EXPECT_EQ(data("source"), kBytes.left(1000));
    put("empty", "");
    ASSERT_EQ(copyFile(native("empty"), native("empty copy")), 0);
    EXPECT_TRUE(exists("empty copy"));
}

TEST_F(Files, ReplaceMovesTheSourceOntoTheDestinationAndKeepsItWhenItCannot) {
    put("new", "file");
    mkdir("target/sub");
    EXPECT_TRUE(ReplaceFileAtURL(url("new"), url("target")));
    EXPECT_EQ(data("target"), "file");
    EXPECT_FALSE(exists("new"));
    EXPECT_TRUE(ReplaceFileAtURL(url("target"), url("./target")));
    EXPECT_TRUE(ReplaceFileAtURL(QUrl(), url("target")));
    EXPECT_TRUE(ReplaceFileAtURL(url("target"), QUrl()));
    EXPECT_FALSE(ReplaceFileAtURL(url("missing"), url("target")));
    EXPECT_EQ(data("target"), "file");
}

TEST_F(Files, ReplaceAcrossFileSystemsCopiesAndRemovesTheSource) {
    struct stat shm, scratch;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(native(""), &scratch) != 0 ||
        shm.st_dev == scratch.st_dev || !QFileInfo("/dev/shm").isWritable())
        GTEST_SKIP() << "no second file system to move across";
    const QString source = QStringLiteral("/dev/shm/lumeno-common-%1").arg(::getpid());
    put(source, kBytes);
    put("old", "old content");
    EXPECT_TRUE(ReplaceFileAtURL(url(source), url("old")));
    EXPECT_EQ(data("old"), kBytes);
    EXPECT_FALSE(exists(source));
}

TEST(PathsAndURLs, AreUtf8ComparedByFilePathAndEmptyOrNullForNothing) {
    EXPECT_EQ(GetFileBaseName(QUrl::fromLocalFile("/a/b/Guide.v2.chm"), nullptr), "Guide.v2");
    EXPECT_EQ(GetFileBaseName(QUrl::fromLocalFile("/a/.hidden"), nullptr), ".hidden");
    EXPECT_EQ(GetFileBaseName(QUrl::fromLocalFile("/a/folder/"), nullptr), "folder");
    const std::string utf8 = "/tmp/\xc3\x9c"
                             "ber.chm";
    EXPECT_EQ(URLPathToStdString(QUrl::fromLocalFile(QString::fromStdString(utf8)), nullptr), utf8);
    bool ok = true;
    EXPECT_EQ(URLPathToStdString(QUrl(), &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(CopyURLPathCString(QUrl()), nullptr);
    EXPECT_EQ(CopyCString(""), nullptr);
    EXPECT_TRUE(isEqualToURL(QUrl("file:///tmp/dir/"), QUrl::fromLocalFile("/tmp/dir")));
    EXPECT_FALSE(isEqualToURL(QUrl("https://x.org/a"), QUrl::fromLocalFile("/a")));
    EXPECT_FALSE(isEqualToURL(QUrl(), QUrl()));
}

TEST(FormatByteSize, UnitsStepAt1023) {
    EXPECT_EQ(FormatByteSize(1022), "1022 B");
    EXPECT_EQ(FormatByteSize(1023), "1.0 KB");
    EXPECT_EQ(FormatByteSize(1.5 * 1024 * 1024 * 1024), "1.5 GB");
    EXPECT_EQ(FormatByteSize(1125899906842624.0), "1024.0 TB");
}
