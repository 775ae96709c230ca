// Merging files into PDFs, read back with qpdf and Poppler.
#include "ConversionEntries.h"
#include "MergeFilesJob.h"
#include "ToPDFTestSupport.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

struct Entry {
    std::string title;
    int page = 0;
    std::vector<Entry> kids;
};

std::vector<Entry> outlineOf(const QJsonObject& json) {
    std::function<std::vector<Entry>(const QJsonArray&)> walk = [&](const QJsonArray& items) {
        std::vector<Entry> entries;
        for (const auto& value : items) {
            const QJsonObject o = value.toObject();
            entries.push_back({o["title"].toString().toStdString(), o["destpageposfrom1"].toInt(),
                               walk(o["kids"].toArray())});
        }
        return entries;
    };
    return walk(json["outlines"].toArray());
}

struct Inputs {
    fs::path outlined, locked, photo, notes, broken;
};

Inputs makeInputs(const fs::path& dir) {
    Inputs in{dir / "Outlined Guide.pdf", dir / "locked.pdf", dir / "photo.jpg", dir / "notes.txt",
              dir / "broken.pdf"};
    writeOutlinedPDF(in.outlined, {"Chapter One", "Chapter Two"}, 2);
    writeOutlinedPDF(dir / "plain.pdf", {"Inner"}, 3);
    capture("qpdf --encrypt secret owner 256 -- " + shellQuote(dir / "plain.pdf") + " " +
            shellQuote(in.locked) + " 2>/dev/null");
    writeHalvesImage(in.photo, "JPEG", 200, 100, 72);
    std::ofstream(in.notes) << "Notes written in plain text\n";
    std::ofstream(in.broken) << "%PDF-1.4 this is not really a PDF";
    return in;
}

} // namespace

TEST(MergeFiles, EveryInputGetsAnEntryAtItsFirstPageWithItsOwnOutlineBelow) {
    const fs::path dir = imagetest::freshDir("merge");
    const Inputs in = makeInputs(dir);
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    o.jobList = {{kMergeFilePDF, in.outlined, {}, {}},
                 {kMergeFilePDF, in.broken, {}, {}},
                 {kMergeFilePDF, in.locked, "secret", {}},
                 {kMergeFileImage, in.photo, {}, 90},
                 {7, in.notes, {}, {}},
                 {kMergeFileDocument, in.notes, {}, {}}};
    // The broken PDF fails the run; what the others gave is written all the same.
    EXPECT_FALSE(MergeFilesToPDF(&o));
    ASSERT_TRUE(qpdfCheckPasses(o.outputURL));
    const std::vector<Entry> outline = outlineOf(qpdfJSON(o.outputURL));
    ASSERT_EQ(outline.size(), 4u) << "the broken PDF and the skipped type leave no entry";
    EXPECT_EQ(outline[0].title, "Outlined Guide");
    EXPECT_EQ(outline[0].page, 1);
    ASSERT_EQ(outline[0].kids.size(), 2u);
    EXPECT_EQ(outline[0].kids[0].title, "Chapter One");
    EXPECT_EQ(outline[0].kids[0].page, 1);
    EXPECT_EQ(outline[0].kids[1].page, 2);
    EXPECT_EQ(outline[1].title, "locked");
    EXPECT_EQ(outline[1].page, 3);
    ASSERT_EQ(outline[1].kids.size(), 1u);
    EXPECT_EQ(outline[2].title, "photo");
    EXPECT_EQ(outline[2].page, 6);
    EXPECT_EQ(outline[3].title, "notes");
    EXPECT_EQ(outline[3].page, 7);
    const auto sizes = pageSizes(o.outputURL);
    ASSERT_EQ(sizes.size(), 7u) << "no gap for the broken input";
    EXPECT_NEAR(sizes[5].width, 100, 0.1) << "the photo turned a quarter";
    EXPECT_NE(pdfText(o.outputURL).find("Notes written in plain text"), std::string::npos);
}

TEST(MergeFiles, LockedOrCopyProtectedPDFsGiveNoPagesMergedAndAreCopiedUnchangedPerFile) {
    const fs::path dir = imagetest::freshDir("locked");
    const Inputs in = makeInputs(dir);
    capture("qpdf --encrypt '' owner 256 --extract=n -- " + shellQuote(dir / "plain.pdf") + " " +
            shellQuote(dir / "nocopy.pdf"));
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    o.jobList = {{kMergeFilePDF, in.locked, "wrong", {}},
                 {kMergeFilePDF, dir / "nocopy.pdf", {}, {}},
                 {kMergeFileImage, in.photo, {}, {}}};
    EXPECT_FALSE(MergeFilesToPDF(&o)) << "two inputs were left out";
    EXPECT_EQ(pageSizes(o.outputURL).size(), 1u);
    const std::vector<Entry> outline = outlineOf(qpdfJSON(o.outputURL));
    ASSERT_EQ(outline.size(), 1u);
    EXPECT_EQ(outline[0].title, "photo");

    fs::create_directories(dir / "out");
    o.merge = false;
    o.outputURL = dir / "out";
    o.jobList = {{kMergeFilePDF, in.locked, "wrong", {}}, {kMergeFilePDF, in.locked, "secret", {}}};
    ASSERT_TRUE(MergeFilesToPDF(&o));
    EXPECT_EQ(imagetest::readBytes(dir / "out" / "locked.pdf"), imagetest::readBytes(in.locked));
    // Unlocked, the second is rewritten without the encryption.
    EXPECT_TRUE(qpdfCheckPasses(dir / "out" / "locked 1.pdf"));
    EXPECT_EQ(capture("qpdf --show-encryption " + shellQuote(dir / "out" / "locked 1.pdf"))
                      .find("not encrypted") != std::string::npos,
              true);
    // Not a PDF at all: false, and no "x.pdf" copy of it.
    o.jobList = {{kMergeFilePDF, in.notes, {}, {}}};
    EXPECT_FALSE(MergeFilesToPDF(&o));
    EXPECT_FALSE(fs::exists(dir / "out" / "notes.pdf"));
}

TEST(MergeFiles, WriteOptionsEncryptTheOutputWithItsPermissions) {
    const fs::path dir = imagetest::freshDir("encrypt");
    const Inputs in = makeInputs(dir);
    PDFWriteOptions write;
    write.userPassword = "open";
    write.ownerPassword = "master";
    write.allowCopying = false;
    MergeFilesOptions o;
    o.merge = true;
    o.writeOptions = &write;
    o.outputURL = dir / "sealed.pdf";
    o.jobList = {{kMergeFileImage, in.photo, {}, {}}};
    ASSERT_TRUE(MergeFilesToPDF(&o));
    EXPECT_FALSE(qpdfCheckPasses(o.outputURL));
    EXPECT_TRUE(qpdfCheckPasses(o.outputURL, "open"));
    const std::string shown =
        capture("qpdf --show-encryption --password=open " + shellQuote(o.outputURL));
    EXPECT_NE(shown.find("extract for any purpose: not allowed"), std::string::npos) << shown;
    EXPECT_NE(shown.find("AESv3"), std::string::npos) << shown;
}

TEST(MergeFiles, FailedOrCancelledRunsKeepTheEarlierFileAndNeverReplaceAFolder) {
    const fs::path dir = imagetest::freshDir("keep");
    const Inputs in = makeInputs(dir);
    // A PDF by its header: a file of another kind would not be replaced at all.
    std::ofstream(dir / "merged.pdf") << "%PDF-1.7 earlier";
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    o.jobList = {{kMergeFilePDF, in.broken, {}, {}}, {kMergeFilePDF, dir / "gone.pdf", {}, {}}};
    EXPECT_FALSE(MergeFilesToPDF(&o));
    ProgressRecorder cancel(1);
    o.progressTarget = &cancel;
    o.jobList = {{kMergeFileImage, in.photo, {}, {}}, {kMergeFileImage, in.photo, {}, {}}};
    EXPECT_FALSE(MergeFilesToPDF(&o));
    EXPECT_EQ(imagetest::readText(dir / "merged.pdf"), "%PDF-1.7 earlier");
    fs::create_directories(dir / "folder" / "inside");
    o.progressTarget = nullptr;
    o.outputURL = dir / "folder";
    EXPECT_FALSE(MergeFilesToPDF(&o));
    EXPECT_TRUE(fs::is_directory(dir / "folder" / "inside"));
    o.merge = false;
    o.outputURL.clear();
    EXPECT_FALSE(MergeFilesToPDF(&o));
    const std::vector<std::string> left = imagetest::listFolder(dir);
    for (const std::string& name : left)
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST(MergeFiles, BlankPrintedPagesOfDocumentsAreLeftOutOfTheMerge) {
    const fs::path dir = imagetest::freshDir("blanks");
    std::ofstream(dir / "tail.txt") << "Words on the first page\n" << std::string(120, '\n');
    writeHalvesImage(dir / "after.png", "PNG", 50, 40, 72);
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    o.jobList = {{kMergeFileDocument, dir / "tail.txt", {}, {}},
                 {kMergeFileImage, dir / "after.png", {}, {}}};
    ASSERT_TRUE(MergeFilesToPDF(&o));
    EXPECT_EQ(pageSizes(o.outputURL).size(), 2u);
    const std::vector<Entry> outline = outlineOf(qpdfJSON(o.outputURL));
    ASSERT_EQ(outline.size(), 2u);
    EXPECT_EQ(outline[1].page, 2);
}

TEST(MergeFiles, HTMLFilesAreKnownByTheirExactExtensionOrTheirType) {
    const fs::path dir = imagetest::freshDir("html");
    for (const char* name : {"a.html", "b.HTM", "c.txt", "d.Html", "e"})
        std::ofstream(dir / name) << "<p>x</p>";
    EXPECT_TRUE(conversion::IsHTMLFile(dir / "a.html"));
    EXPECT_TRUE(conversion::IsHTMLFile(dir / "b.HTM"));
    EXPECT_FALSE(conversion::IsHTMLFile(dir / "c.txt"));
    EXPECT_FALSE(conversion::IsHTMLFile(dir / "missing.pdf"));
}

TEST(MergeFiles, ConvtoolPrintsALinePerInputAndFailsWhenNothingIsMade) {
    const fs::path dir = imagetest::freshDir("tool");
    const Inputs in = makeInputs(dir);
    int status = -1;
    const std::string out =
        capture(std::string(LUMENO_CONVTOOL) + " merge " + shellQuote(dir / "m.pdf") + " " +
                    shellQuote(in.outlined) + " " + shellQuote(in.photo) + " 2>/dev/null",
                &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("merge: [1/2] "), std::string::npos) << out;
    EXPECT_NE(out.find("merge: [2/2] "), std::string::npos) << out;
    EXPECT_EQ(pageSizes(dir / "m.pdf").size(), 3u);
    capture(std::string(LUMENO_CONVTOOL) + " images-to-pdf " + shellQuote(dir / "i.pdf") + " " +
                shellQuote(in.broken) + " >/dev/null 2>&1",
            &status);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists(dir / "i.pdf"));
}

TEST(MergeFiles, RestrictionsAreRefusedUnlessAnOwnerPasswordThatDiffersFromTheUsersGuardsThem) {
    const fs::path dir = imagetest::freshDir("restrictions");
    const Inputs in = makeInputs(dir);
    const std::string tool = std::string(LUMENO_CONVTOOL) + " ";
    const std::string out = shellQuote(dir / "out.pdf");
    struct Case {
        std::string command;
        std::string inputs;
    };
    const std::vector<Case> commands = {{"images-to-pdf", shellQuote(in.photo)},
                                        {"documents-to-pdf", shellQuote(in.notes)},
                                        {"merge", shellQuote(in.outlined)}};
    for (const Case& c : commands) {
        for (const std::string passwords :
             {"", " --user-password u", " --user-password u --owner-password u"}) {
            SCOPED_TRACE(c.command + passwords);
            int status = -1;
            const std::string said = capture(tool + c.command + " " + out + " " + c.inputs +
                                                 passwords + " --no-print 2>&1",
                                             &status);
            EXPECT_NE(status, 0);
            EXPECT_NE(said.find("--owner-password that differs"), std::string::npos) << said;
            EXPECT_FALSE(fs::exists(dir / "out.pdf"));
        }
        // With a distinct owner password the restriction holds for the user's password.
        int status = -1;
        capture(tool + c.command + " " + out + " " + c.inputs +
                    " --user-password u --owner-password o --no-print >/dev/null 2>&1",
                &status);
        EXPECT_EQ(status, 0) << c.command;
        const std::string user = capture("qpdf --show-encryption --password=u " + out);
        EXPECT_NE(user.find("Supplied password is user password"), std::string::npos) << user;
        EXPECT_NE(user.find("print high resolution: not allowed"), std::string::npos) << user;
        const std::string owner = capture("qpdf --show-encryption --password=o " + out);
        EXPECT_NE(owner.find("Supplied password is owner password"), std::string::npos) << owner;
        fs::remove(dir / "out.pdf");
    }

    // The entries refuse such options too, and write nothing.
    PDFWriteOptions write;
    write.userPassword = "u";
    write.allowCopying = false;
    MergeFilesOptions o;
    o.merge = true;
    o.writeOptions = &write;
    o.outputURL = dir / "entry.pdf";
    o.jobList = {{kMergeFileImage, in.photo, {}, {}}};
    EXPECT_FALSE(MergeFilesToPDF(&o));
    ImagesToPDFOptions images;
    images.merge = true;
    images.writeOptions = &write;
    images.outputURL = dir / "entry.pdf";
    images.jobList = {{in.photo, {}}};
    EXPECT_FALSE(ConvertImagesToPDF(&images));
    EXPECT_FALSE(fs::exists(dir / "entry.pdf"));
}

TEST(MergeFiles, CopyRestrictedPDFIsMergedWhenItsOwnerPasswordIsGivenButNotWithTheUsers) {
    const fs::path dir = imagetest::freshDir("owner");
    const Inputs in = makeInputs(dir);
    const fs::path restricted = dir / "restricted.pdf";
    capture("qpdf --encrypt reader owner 256 --extract=n -- " + shellQuote(dir / "plain.pdf") +
            " " + shellQuote(restricted));
    const std::string tool = std::string(LUMENO_CONVTOOL) + " merge ";
    int status = -1;
    capture(tool + shellQuote(dir / "m.pdf") + " --password owner " + shellQuote(restricted) +
                " >/dev/null 2>&1",
            &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pageSizes(dir / "m.pdf").size(), 3u);
    const std::vector<Entry> outline = outlineOf(qpdfJSON(dir / "m.pdf"));
    ASSERT_EQ(outline.size(), 1u);
    EXPECT_EQ(outline[0].title, "restricted");

    // The user's password opens the file but does not lift the restriction.
    const std::string said = capture(tool + shellQuote(dir / "u.pdf") + " --password reader " +
                                         shellQuote(restricted) + " 2>&1",
                                     &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(said.find("forbid copying"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(dir / "u.pdf"));
}

TEST(MergeFiles, AMissingLockedOrWrongPasswordInputFailsTheRunThatStillWritesTheRest) {
    const fs::path dir = imagetest::freshDir("failed-inputs");
    const Inputs in = makeInputs(dir);
    const fs::path gone = dir / "gone.pdf";
    const std::string tool = std::string(LUMENO_CONVTOOL) + " merge ";
    const std::string inputs = shellQuote(in.outlined) + " " + shellQuote(gone) + " " +
                               shellQuote(in.photo) + " --password wrong " + shellQuote(in.locked);
    int status = -1;
    std::string said = capture(tool + shellQuote(dir / "m.pdf") + " " + inputs + " 2>&1", &status);
    EXPECT_EQ(status, 1) << said;
    EXPECT_EQ(pageSizes(dir / "m.pdf").size(), 3u) << "the outlined PDF's two pages and the photo";
    EXPECT_NE(said.find("2 failed: " + gone.string() + ", " + in.locked.string()),
              std::string::npos)
        << said;

    // One PDF each: the missing one fails the run though the last input was copied.
    fs::create_directories(dir / "out");
    said = capture(tool + shellQuote(dir / "out") + " --separate " + inputs + " 2>&1", &status);
    EXPECT_EQ(status, 1) << said;
    EXPECT_EQ(imagetest::listFolder(dir / "out"),
              (std::vector<std::string>{"Outlined Guide.pdf", "locked.pdf", "photo.pdf"}));
    EXPECT_NE(said.find("1 failed: " + gone.string()), std::string::npos) << said;
    EXPECT_NE(said.find("copied unchanged"), std::string::npos) << said;

    // The entry answers the same, and a run where nothing failed still succeeds.
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "entry.pdf";
    o.jobList = {{kMergeFilePDF, gone, {}, {}}, {kMergeFileImage, in.photo, {}, {}}};
    EXPECT_FALSE(MergeFilesToPDF(&o));
    EXPECT_EQ(pageSizes(o.outputURL).size(), 1u);
    o.jobList.erase(o.jobList.begin());
    EXPECT_TRUE(MergeFilesToPDF(&o));
}
