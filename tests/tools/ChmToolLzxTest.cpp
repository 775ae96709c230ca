// Every chmtool command that reads pages, on books whose LZX stream would make chmlib copy from
// outside what it decoded or decode bytes past a frame: each exits with a status (no signal),
// prints none of the page (it is missing) and no foreign byte; a sound stream that uses
// repeated offsets still reads byte for byte.
#include "LzxCraftedBooks.h"
#include "TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

bool sanitizerSpoke(const ToolRun& run) {
    return run.err.contains(QLatin1String("Sanitizer")) ||
           run.err.contains(QLatin1String("runtime error"));
}

} // namespace

TEST(ChmToolLzx, HostileFramesLeaveTheirPageMissingInCatServeAndSearch) {
    for (const LzxCraftedBook& b : hostileLzxBooks()) {
        const std::string what = b.what.toStdString();
        const ToolRun cat = runChmTool({"cat", b.path, "/index.htm"});
        EXPECT_EQ(cat.status, 1) << what; // -1: a signal
        EXPECT_TRUE(cat.out.isEmpty()) << what << ": " << cat.out.left(80).toStdString();
        EXPECT_TRUE(cat.err.contains(QLatin1String("cannot be read"))) << what;
        EXPECT_FALSE(sanitizerSpoke(cat)) << what;

        const QString served = scratchDir() + "/lzx-served.htm";
        const ToolRun serve = runChmTool({"serve", b.path, "itss://chm/index.htm", "-o", served});
        EXPECT_EQ(serve.status, 1) << what;
        EXPECT_EQ(serve.lines().value(0), QStringLiteral("status: missing")) << what;
        EXPECT_FALSE(readWholeFile(served).contains(kLzxCanary)) << what;
        EXPECT_FALSE(sanitizerSpoke(serve)) << what;

        const ToolRun search = runChmTool({"search", b.path, kLzxCanary});
        EXPECT_EQ(search.status, 0) << what;
        EXPECT_TRUE(search.out.isEmpty()) << what << ": " << search.out.toStdString();
        EXPECT_FALSE(sanitizerSpoke(search)) << what;
    }
}

TEST(ChmToolLzx, ExportOfABookWithHostileFramesEndsWithAStatus) {
    const std::vector<LzxCraftedBook> books = hostileLzxBooks();
    for (const LzxCraftedBook& b : books) {
        const QString folder = scratchDir() + "/lzx-export-" + QFileInfo(b.path).baseName();
        QDir().mkpath(folder);
        const ToolRun run = runChmTool({"export", b.path, folder});
        EXPECT_TRUE(run.status == 0 || run.status == 1)
            << b.what.toStdString() << ": " << run.status << " " << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(kLzxCanary)) << b.what.toStdString();
        EXPECT_FALSE(sanitizerSpoke(run)) << b.what.toStdString();
    }
}

TEST(ChmToolLzx, SoundRepeatedOffsetsReadByteForByteInCatServeSearchAndExport) {
    const LzxCraftedBook sound = soundLzxBook();
    const ToolRun cat = runChmTool({"cat", sound.path, "/second.htm"});
    EXPECT_EQ(cat.status, 0) << cat.err.toStdString();
    EXPECT_EQ(cat.out, sound.output.mid(0x8000 - 100, 400));
    const ToolRun serve = runChmTool({"serve", sound.path, "itss://chm/index.htm"});
    EXPECT_EQ(serve.status, 0);
    EXPECT_EQ(serve.lines().value(0), QStringLiteral("status: ok"));
    const ToolRun search = runChmTool({"search", sound.path, kLzxCanary});
    EXPECT_EQ(search.status, 0);
    EXPECT_TRUE(QString::fromUtf8(search.out).contains(QLatin1String("index.htm")))
        << search.out.toStdString();
    const QString folder = scratchDir() + "/lzx-export-sound";
    QDir().mkpath(folder);
    const ToolRun exported = runChmTool({"export", sound.path, folder});
    // A build without the window (the ThreadSanitizer one) has no web engine to print with.
    if (!exported.err.contains(QLatin1String("no web engine for export"))) {
        EXPECT_EQ(exported.status, 0) << exported.err.toStdString();
    }
}
