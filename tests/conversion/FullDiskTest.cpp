// Every writer of convtool on a full file system: a small tmpfs mounted in a private mount
// namespace (unshare), filled up to the free space a case leaves. A write that does not fit must
// fail with exit 1 and the cause in its message, keep the earlier file byte for byte and leave
// nothing else behind. The temporary files a run leaves are removed by the next run, but never
// those of a run still at work, wherever its process lives.
#include "OutputFile.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace testfiles;

namespace {

const std::string kConvtool = LUMENO_CONVTOOL;

struct Inputs {
    fs::path dir, noisePNG, noisePDF, twoPagePDF, noiseWebP, text, textPDF, smallPDF, smallPNG;
};

// Made once: a picture of noise (it does not compress), PDFs of it and of a long text, and small
// files that stand for the earlier outputs.
const Inputs& inputs() {
    static const Inputs made = [] {
        Inputs in;
        in.dir = freshDir("full-disk-inputs");
        in.noisePNG = in.dir / "noise.png";
        in.noisePDF = in.dir / "noise.pdf";
        in.twoPagePDF = in.dir / "two pages.pdf";
        in.noiseWebP = in.dir / "noise.webp";
        in.text = in.dir / "text.txt";
        in.textPDF = in.dir / "text.pdf";
        in.smallPDF = in.dir / "small.pdf";
        in.smallPNG = in.dir / "small.png";
        run("convert -size 256x256 xc: +noise Random PNG24:" + shellQuote(in.noisePNG));
        run("convert -size 8x8 xc:red PNG24:" + shellQuote(in.smallPNG));
        std::ofstream text(in.text);
        for (int i = 0; i < 2500; ++i)
            text << "Line " << i << " of a text long enough to fill pages with words.\n";
        text.close();
        const std::string q = kConvtool + " ";
        run(q + "images-to-pdf " + shellQuote(in.noisePDF) + " " + shellQuote(in.noisePNG));
        run(q + "images-to-pdf " + shellQuote(in.twoPagePDF) + " " + shellQuote(in.noisePNG) + " " +
            shellQuote(in.noisePNG));
        run(q + "images-to-pdf " + shellQuote(in.smallPDF) + " " + shellQuote(in.smallPNG));
        run(q + "documents-to-pdf " + shellQuote(in.textPDF) + " " + shellQuote(in.text));
        run(q + "webp-encode -quiet -lossless " + shellQuote(in.noisePNG) + " -o " +
            shellQuote(in.noiseWebP));
        return in;
    }();
    return made;
}

struct FullDiskRun {
    bool mounted = false;
    int status = -1;
    std::string messages;
    fs::path after; // a copy of the full folder's contents after the run
};

// Mounts a 2 MB tmpfs on a fresh folder in a private mount namespace, puts `oldName` there (a
// copy of `oldFile`), fills the rest but `freeBytes`, and runs `command` with "DIR" standing for
// the folder. The folder's contents (but the filler) are copied out before the namespace ends.
FullDiskRun runOnFullDisk(const std::string& name, const fs::path& oldFile,
                          const std::string& oldName, std::size_t freeBytes, std::string command) {
    FullDiskRun result;
    const fs::path work = freshDir("full-disk-" + name);
    const fs::path mountPoint = work / "disk";
    result.after = work / "after";
    fs::create_directories(mountPoint);
    fs::create_directories(result.after);
    for (std::size_t at; (at = command.find("DIR")) != std::string::npos;)
        command.replace(at, 3, shellQuote(mountPoint));
    const std::string d = shellQuote(mountPoint);
    const std::string o = shellQuote(work);
    std::string script = "mount -t tmpfs -o size=2m tmpfs " + d + " || exit 99\n" + "cp " +
                         shellQuote(oldFile) + " " + d + "/" + shellQuote(oldName) + "\n" +
                         "dd if=/dev/zero of=" + d + "/.filler bs=4096 2>/dev/null\n";
    if (freeBytes > 0)
        script += "truncate -s -" + std::to_string(freeBytes) + " " + d + "/.filler\n";
    script += command + " >" + o + "/out 2>" + o + "/err\necho $? >" + o + "/status\n" + "rm -f " +
              d + "/.filler\ncp -a " + d + "/. " + shellQuote(result.after) + "/\n";
    std::ofstream(work / "script.sh") << script;
    const int status = run("unshare -r -m sh " + shellQuote(work / "script.sh") + " 2>/dev/null");
    if (status == 99 || !fs::exists(work / "status"))
        return result;
    result.mounted = true;
    result.status = std::stoi(readText(work / "status"));
    result.messages = readText(work / "err") + readText(work / "out");
    return result;
}

struct Writer {
    const char* name;
    const char* oldName; // the earlier output, in the full folder
    bool oldIsPDF;       // else a PNG
    std::string command; // "DIR" is the full folder
};

std::vector<Writer> writers() {
    const Inputs& in = inputs();
    const std::string q = kConvtool + " ";
    return {
        {"images-to-pdf", "old.pdf", true,
         q + "images-to-pdf DIR/old.pdf " + shellQuote(in.noisePNG)},
        {"merge", "old.pdf", true, q + "merge DIR/old.pdf " + shellQuote(in.noisePDF)},
        {"documents-to-pdf", "old.pdf", true,
         q + "documents-to-pdf DIR/old.pdf " + shellQuote(in.text)},
        {"convert", "old.png", false,
         q + "convert " + shellQuote(in.noisePNG) + " DIR/old.png --format 7"},
        {"render", "old.png", false,
         q + "render " + shellQuote(in.noisePNG) +
             " DIR/old.png --format 7 --width 300 --height 300 --enlarge"},
        {"pdf-to-images", "old-1.png", false,
         q + "pdf-to-images " + shellQuote(in.noisePDF) +
             " DIR --format 7 --dpi 150 --base old --replace"},
        {"pdf-to-images-tiff", "old.tif", false,
         q + "pdf-to-images " + shellQuote(in.twoPagePDF) +
             " DIR --format 23 --base old --replace"},
        {"pdf-images", "old_Page1_1.png", false,
         q + "pdf-images -format png -base old -replace " + shellQuote(in.noisePDF) + " DIR"},
        {"pdf-to-text", "old.txt", false,
         q + "pdf-to-text " + shellQuote(in.textPDF) + " DIR --format 1 --base old"},
        {"webp-encode", "old.webp", false,
         q + "webp-encode -quiet -lossless " + shellQuote(in.noisePNG) + " -o DIR/old.webp"},
        {"webp-decode", "old.png", false,
         q + "webp-decode " + shellQuote(in.noiseWebP) + " -o DIR/old.png"},
    };
}

} // namespace

TEST(FullDisk, EveryWriterFailsWithTheCauseAndKeepsTheEarlierFileAndLeavesNothingElse) {
    const Inputs& in = inputs();
    ASSERT_GT(fs::file_size(in.noisePNG), 150000u);
    ASSERT_GT(fs::file_size(in.textPDF), 40000u);
    for (const Writer& w : writers()) {
        // No room at all, and room for a part of the output.
        for (std::size_t freeBytes : {std::size_t(0), std::size_t(24 * 1024)}) {
            SCOPED_TRACE(std::string(w.name) + " with " + std::to_string(freeBytes) +
                         " bytes free");
            const fs::path old = w.oldIsPDF ? in.smallPDF : in.smallPNG;
            const FullDiskRun r = runOnFullDisk(w.name + std::to_string(freeBytes), old, w.oldName,
                                                freeBytes, w.command);
            if (!r.mounted)
                GTEST_SKIP() << "no tmpfs can be mounted in a private namespace here";
            EXPECT_EQ(r.status, 1) << r.messages;
            EXPECT_NE(r.messages.find("No space left on device"), std::string::npos) << r.messages;
            EXPECT_EQ(listFolder(r.after), std::vector<std::string>{w.oldName});
            EXPECT_EQ(readBytes(r.after / w.oldName), readBytes(old));
        }
    }
}

TEST(FullDisk, ADocumentsPrintThatFillsTheDiskPartWaySaysWhy) {
    const Inputs& in = inputs();
    // The print runs out of room somewhere in its pages, in the middle of a write or between
    // two; whichever, the cause is named.
    for (const std::size_t freeKB : {8, 48, 96, 128}) {
        SCOPED_TRACE(std::to_string(freeKB) + " KB free");
        const FullDiskRun r =
            runOnFullDisk("print" + std::to_string(freeKB), in.smallPDF, "old.pdf", freeKB * 1024,
                          kConvtool + " documents-to-pdf DIR/old.pdf " + shellQuote(in.text));
        if (!r.mounted)
            GTEST_SKIP() << "no tmpfs can be mounted in a private namespace here";
        EXPECT_EQ(r.status, 1) << r.messages;
        EXPECT_NE(r.messages.find("No space left on device"), std::string::npos) << r.messages;
        EXPECT_EQ(r.messages.find("Unknown error"), std::string::npos) << r.messages;
        EXPECT_EQ(listFolder(r.after), std::vector<std::string>{"old.pdf"});
    }
}

TEST(FullDisk, TemporaryFilesOfAKilledRunAreRemovedByTheNextRunAndThoseOfALiveOneKept) {
    const fs::path dir = freshDir("abandoned");
    // A pid that is surely gone: a child that has been waited for.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    const std::string gone = ".lumeno-" + std::to_string(child) + "-0123456789abcdef.part";
    const std::string goneFolder = ".lumeno-" + std::to_string(child) + "-fedcba9876543210.part";
    const std::string alive = ".lumeno-" + std::to_string(::getpid()) + "-0123456789abcdef.part";
    const std::string other = ".lumeno-notes.part";
    for (const std::string& n : {gone, alive, other})
        std::ofstream(dir / n) << "partial";
    fs::create_directories(dir / goneFolder / "inside");
    ASSERT_EQ(run(kConvtool + " convert " + shellQuote(inputs().smallPNG) + " " +
                  shellQuote(dir / "out.png") + " --format 7"),
              0);
    EXPECT_EQ(listFolder(dir), (std::vector<std::string>{alive, other, "out.png"}));
}

TEST(FullDisk, ARunInAnotherPIDNamespaceKeepsTheTemporaryFilesOfALiveRun) {
    // Another PID namespace (a container sharing the folder): as root a plain one, else one in
    // a user namespace of its own.
    const std::string unshare =
        ::geteuid() == 0 ? "unshare --pid --fork " : "unshare --user --map-root-user --pid --fork ";
    if (run(unshare + "true") != 0)
        GTEST_SKIP() << "no PID namespace can be made here";
    const fs::path dir = freshDir("namespaces");
    // This process is a live run with one temporary output of each kind.
    conversion::OutputFile stream;
    FILE* out = stream.open((dir / "stream.pdf").c_str());
    ASSERT_TRUE(out);
    ASSERT_GT(std::fputs("partial", out), 0);
    conversion::OutputFile folder;
    std::string error;
    ASSERT_TRUE(folder.create(dir, true, error)) << error;
    ASSERT_TRUE(folder.write("page", error, "page.txt")) << error;
    const conversion::RemoveOnExit claimed = conversion::claimTemporaryIn(dir);
    std::ofstream(claimed.path) << "printed by another program";
    const std::vector<std::string> live = listFolder(dir);
    ASSERT_EQ(live.size(), 3u);

    // A run from the other namespace, where this process's id names no process.
    ASSERT_EQ(run(unshare + kConvtool + " convert " + shellQuote(inputs().smallPNG) + " " +
                  shellQuote(dir / "other.png") + " --format 7"),
              0);
    std::vector<std::string> expected = live;
    expected.push_back("other.png");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFolder(dir), expected);
    // The live run ends as it would have alone.
    EXPECT_TRUE(stream.commit()) << stream.errorText();
    fs::path placed;
    EXPECT_TRUE(folder.place("pages", "", placed, error)) << error;
    EXPECT_TRUE(fs::is_regular_file(placed / "page.txt"));
    EXPECT_TRUE(fs::is_regular_file(claimed.path));
}

TEST(FullDisk, AKilledRunsPartialFileIsGoneAfterTheNextRunIntoTheFolder) {
    const Inputs& in = inputs();
    const fs::path dir = freshDir("killed");
    const fs::path many = dir / "many.pdf";
    std::string pages;
    for (int i = 0; i < 12; ++i)
        pages += " " + shellQuote(in.noisePNG);
    ASSERT_EQ(run(kConvtool + " images-to-pdf " + shellQuote(many) + pages + " >/dev/null 2>&1"),
              0);
    fs::create_directories(dir / "out");

    // A multi-page TIFF run, killed once it has begun its second page: its partial file stays.
    int lines[2];
    ASSERT_EQ(::pipe(lines), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(lines[1], STDOUT_FILENO);
        ::close(lines[0]);
        ::close(lines[1]);
        ::execl(kConvtool.c_str(), kConvtool.c_str(), "pdf-to-images", many.c_str(),
                (dir / "out").c_str(), "--format", "23", "--dpi", "200", nullptr);
        ::_exit(127);
    }
    ::close(lines[1]);
    FILE* progress = ::fdopen(lines[0], "r");
    char line[64];
    bool second = false;
    while (!second && std::fgets(line, sizeof line, progress))
        second = std::string(line) == "page 2\n";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::fclose(progress);
    ASSERT_TRUE(second);
    const std::vector<std::string> left = listFolder(dir / "out");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".lumeno-" + std::to_string(child) + "-", 0), 0u) << left[0];

    ASSERT_EQ(run(kConvtool + " convert " + shellQuote(in.smallPNG) + " " +
                  shellQuote(dir / "out" / "next.png") + " --format 7"),
              0);
    EXPECT_EQ(listFolder(dir / "out"), std::vector<std::string>{"next.png"});
}
