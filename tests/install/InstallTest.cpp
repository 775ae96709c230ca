// The project installed into a fresh prefix, as a package would install it: the reader started
// from there finds its style sheet, scripts and icons in the prefix's share/lumeno (and only
// there), and the desktop entry, AppStream metadata and icons pass the desktop's own checks.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QString kAppId = QStringLiteral("org.lumeno.Lumeno");

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome run(const QString& program, const QStringList& args,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
            int timeoutMs = 120000) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished(5000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// `cmake --install` of the build into `prefix`.
Outcome installInto(const QString& prefix) {
    return run(QStringLiteral(LUMENO_CMAKE_COMMAND),
               {"--install", QStringLiteral(LUMENO_BUILD_DIR), "--prefix", prefix});
}

// Nothing points an installed program at its resources, its reading program or its helpers: it
// must find them from where it was started.
QProcessEnvironment installedEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LUMENO_RESOURCES"));
    env.remove(QStringLiteral("LUMENO_CHM_READER"));
    env.remove(QStringLiteral("LUMENO_LIBEXEC"));
    return env;
}

// The installed reader opens a book, shows its first page and quits.
Outcome startInstalledReader(const QString& prefix) {
    QProcessEnvironment env = installedEnvironment();
    env.insert(QStringLiteral("LUMENO_EXIT_AFTER_FIRST_LOAD"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), prefix + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), prefix + QStringLiteral("/data"));
    return run(prefix + QStringLiteral("/bin/lumeno"), {fixturePath("nested")}, env);
}

} // namespace

TEST(Install, GivesAReaderThatFindsItsResourcesInThePrefixAndValidDesktopFiles) {
    const QString prefix = scratchDir() + QStringLiteral("/prefix");
    const Outcome install = installInto(prefix);
    ASSERT_EQ(install.status, 0) << install.err.toStdString();

    const QDir share(prefix + QStringLiteral("/share"));
    for (const QString& file :
         {QStringLiteral("lumeno/Lumeno.css"), QStringLiteral("lumeno/highlight.js"),
          QStringLiteral("lumeno/textencoding.plist"), QStringLiteral("lumeno/icons/Home.svg"),
          QStringLiteral("lumeno/Lumeno+ User Manual.pdf"), "applications/" + kAppId + ".desktop",
          "metainfo/" + kAppId + ".metainfo.xml", "icons/hicolor/scalable/apps/" + kAppId + ".svg"})
        EXPECT_TRUE(QFileInfo(share.filePath(file)).isFile()) << file.toStdString();
    EXPECT_FALSE(QFileInfo::exists(share.filePath("lumeno/CMakeLists.txt")));
    EXPECT_FALSE(QFileInfo::exists(share.filePath("lumeno/desktop")));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString png =
            share.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/").arg(size) + kAppId + ".png");
        EXPECT_EQ(QImageReader(png).size(), QSize(size, size)) << png.toStdString();
    }

    const Outcome desktop = run(QStringLiteral("desktop-file-validate"),
                                {share.filePath("applications/" + kAppId + ".desktop")});
    EXPECT_EQ(desktop.status, 0) << (desktop.out + desktop.err).toStdString();
    EXPECT_TRUE(desktop.out.isEmpty()) << desktop.out.toStdString(); // not even a hint
    const Outcome appstream =
        run(QStringLiteral("appstreamcli"),
            {"validate", "--no-net", share.filePath("metainfo/" + kAppId + ".metainfo.xml")});
    EXPECT_EQ(appstream.status, 0) << (appstream.out + appstream.err).toStdString();

    const Outcome reader = startInstalledReader(prefix);
    EXPECT_EQ(reader.status, 0) << reader.err.toStdString();
    EXPECT_TRUE(reader.out.contains("first page loaded")) << reader.out.toStdString();
    EXPECT_FALSE(reader.err.contains("is missing")) << reader.err.toStdString();
    // Books are read by the reading program in libexec/lumeno, which chmtool finds there too.
    EXPECT_TRUE(QFileInfo(prefix + "/libexec/lumeno/lumeno-chm-reader").isExecutable());
    const Outcome tool = run(prefix + QStringLiteral("/bin/chmtool"),
                             {"cat", fixturePath("nested"), "/index.htm"}, installedEnvironment());
    EXPECT_EQ(tool.status, 0) << tool.err.toStdString();
    EXPECT_TRUE(tool.out.contains("Nested Fixture Home"));
    // Its export is a program of its own in libexec/lumeno, which gets the prefix's resources.
    const QString exported = scratchDir() + QStringLiteral("/installed-export");
    ASSERT_TRUE(QDir().mkpath(exported));
    QProcessEnvironment offscreen = installedEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const Outcome exporting = run(prefix + QStringLiteral("/bin/chmtool"),
                                  {"export", fixturePath("nested"), exported}, offscreen);
    EXPECT_EQ(exporting.status, 0) << exporting.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(exported + QStringLiteral("/nested.pdf")));
    EXPECT_FALSE(exporting.err.contains("is missing")) << exporting.err.toStdString();

    // Without the prefix's resources the same reader says so: it looked nowhere else, in the
    // build tree or the sources.
    ASSERT_TRUE(QDir().rename(share.filePath("lumeno"), share.filePath("lumeno.moved")));
    const Outcome bare = startInstalledReader(prefix);
    EXPECT_TRUE(bare.err.contains("is missing")) << bare.err.toStdString();
}

// The installed convtool finds its format table and its layout helper in the prefix, with no
// variable set, and no installed program names a folder of the build or the sources (its debug
// information aside, which a package ships apart).
TEST(Install, GivesAConvtoolThatFindsItsHelperAndResourcesInThePrefixAndNamesNoBuildPath) {
    const QString prefix = scratchDir() + QStringLiteral("/convtool-prefix");
    const Outcome install = installInto(prefix);
    ASSERT_EQ(install.status, 0) << install.err.toStdString();

    for (const QString& program :
         {QStringLiteral("bin/convtool"), QStringLiteral("libexec/lumeno/lumeno-convtool"),
          QStringLiteral("libexec/lumeno/lumeno-pdf-to-text"),
          QStringLiteral("libexec/lumeno/lumeno-text-layout")}) {
        const QString stripped = scratchDir() + QStringLiteral("/stripped");
        const Outcome strip =
            run(QStringLiteral("objcopy"), {"--strip-debug", prefix + "/" + program, stripped});
        ASSERT_EQ(strip.status, 0) << strip.err.toStdString();
        QFile file(stripped);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
#ifdef LUMENO_SANITIZED
        // A sanitized build names its sources for the sanitizers' reports; users get none.
        (void)bytes;
#else
        EXPECT_FALSE(bytes.contains(LUMENO_BUILD_DIR)) << program.toStdString();
        EXPECT_FALSE(bytes.contains(LUMENO_SOURCE_DIR)) << program.toStdString();
#endif
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LUMENO_RESOURCES"));
    env.remove(QStringLiteral("LUMENO_LIBEXEC"));
    const QString work = scratchDir() + QStringLiteral("/convtool-work");
    ASSERT_TRUE(QDir().mkpath(work + "/pictures"));
    QFile text(work + "/note.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("hello\n");
    text.close();
    const QString convtool = prefix + QStringLiteral("/bin/convtool");
    const Outcome laidOut =
        run(convtool, {"documents-to-pdf", work + "/note.pdf", work + "/note.txt"}, env);
    EXPECT_EQ(laidOut.status, 0) << laidOut.err.toStdString();
    EXPECT_TRUE(QFileInfo(work + "/note.pdf").isFile());
    // "png" is known only from the format table in share/lumeno.
    const Outcome pictures = run(
        convtool, {"pdf-images", "-format", "png", work + "/note.pdf", work + "/pictures"}, env);
    EXPECT_EQ(pictures.status, 0) << pictures.err.toStdString();
}
