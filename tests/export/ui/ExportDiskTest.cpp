// Exports to a disk that fills up and to a folder that takes no file, through chmtool as a user
// runs it: small tmpfs mounts stand in for both (root can write anywhere else).
#include "ExportTestData.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/mount.h>

namespace {

// A tmpfs of the given size mounted on a fresh folder for the test's life.
class SmallMount {
public:
    SmallMount(const QString& name, const char* options)
        : m_folder(exporttest::freshFolder(name)), m_native(QFile::encodeName(m_folder)) {
        m_mounted = ::mount("tmpfs", m_native.constData(), "tmpfs", 0, options) == 0;
    }
    ~SmallMount() {
        if (m_mounted)
            ::umount(m_native.constData());
    }
    bool mounted() const { return m_mounted; }
    const QString& folder() const { return m_folder; }

private:
    QString m_folder;
    QByteArray m_native;
    bool m_mounted = false;
};

#define REQUIRE_MOUNT(mount)                                                                       \
    do {                                                                                           \
        if (!(mount).mounted()) {                                                                  \
            if (testsupport::corpusRequired())                                                     \
                FAIL() << "cannot mount a tmpfs (not root?)";                                      \
            GTEST_SKIP() << "cannot mount a tmpfs (not root?)";                                    \
        }                                                                                          \
    } while (false)

} // namespace

TEST(ExportDisk, FullDiskIsReportedWithItsCauseAndLeavesNoFile) {
    SmallMount disk(QStringLiteral("full-disk"), "size=20k");
    REQUIRE_MOUNT(disk);
    const testsupport::ToolRun run =
        testsupport::runChmTool({QStringLiteral("export"),
                                 testsupport::fixturePath(QStringLiteral("links")), disk.folder()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("No space left on device")))
        << run.err.toStdString();
    EXPECT_TRUE(QDir(disk.folder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST(ExportDisk, FolderThatTakesNoFileIsReportedBeforeTheFirstPage) {
    SmallMount disk(QStringLiteral("read-only"), "size=100k,ro");
    REQUIRE_MOUNT(disk);
    const testsupport::ToolRun run =
        testsupport::runChmTool({QStringLiteral("export"),
                                 testsupport::fixturePath(QStringLiteral("links")), disk.folder()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.lines().isEmpty()) << "pages were printed first: " << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Read-only file system"))) << run.err.toStdString();
}
