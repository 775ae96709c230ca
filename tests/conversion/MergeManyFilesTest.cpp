// Merging many files into one PDF: every page in its place, and the sources let go as the merge
// goes on rather than all held until the write.
#include "ConversionEntries.h"
#include "ToPDFTestSupport.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <time.h>

namespace fs = std::filesystem;
using namespace topdftest;

namespace {

// A one-page PDF whose page is `width` points wide and says "Input <number>", its text in a
// stream that the merge copies from this file.
void writeNumberedPDF(const fs::path& path, int number, int width) {
    char label[32];
    std::snprintf(label, sizeof label, "Input %03d", number);
    const std::string content = std::string("BT /F1 18 Tf 20 300 Td (") + label + ") Tj ET";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Count 1 /Kids [3 0 R] >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) +
            " 400] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << pdf;
}

std::size_t outlineEntryCount(const fs::path& pdf) {
    return std::size_t(qpdfJSON(pdf)["outlines"].toArray().size());
}

int openDescriptors() {
    return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Counts this process's open file descriptors each time the merge reports an input.
class DescriptorWatch : public ConversionProgress {
public:
    void progress(std::int64_t value) override {
        if (value != 3)
            return;
        const int now = openDescriptors();
        if (first < 0)
            first = now;
        most = std::max(most, now);
    }
    int first = -1;
    int most = 0;
};

} // namespace

TEST(MergeManyFiles, EveryPageOfManyInputsArrivesInOrderInAValidFile) {
    const fs::path dir = imagetest::freshDir("many");
    const int count = 150;
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    for (int i = 0; i < count; ++i) {
        const fs::path input = dir / ("input" + std::to_string(i) + ".pdf");
        writeNumberedPDF(input, i, 200 + i);
        o.jobList.push_back({kMergeFilePDF, input, {}, {}});
        // Printed documents among them: their pages come from part files that must outlive
        // the loop over the inputs.
        if (i == 40 || i == 110) {
            std::ofstream(dir / ("note" + std::to_string(i) + ".txt")) << "Printed note " << i;
            o.jobList.push_back(
                {kMergeFileDocument, dir / ("note" + std::to_string(i) + ".txt"), {}, {}});
        }
    }
    ASSERT_TRUE(MergeFilesToPDF(&o));
    ASSERT_TRUE(qpdfCheckPasses(o.outputURL));
    const std::vector<PageSize> sizes = pageSizes(o.outputURL);
    ASSERT_EQ(sizes.size(), std::size_t(count + 2));
    std::vector<int> widths;
    for (const PageSize& s : sizes)
        widths.push_back(int(s.width + 0.5));
    std::vector<int> expected;
    for (int i = 0; i < count; ++i) {
        expected.push_back(200 + i);
        if (i == 40 || i == 110)
            expected.push_back(612); // the default paper of printed documents
    }
    EXPECT_EQ(widths, expected);
    const std::string text = pdfText(o.outputURL);
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        char label[32];
        std::snprintf(label, sizeof label, "Input %03d", i);
        const std::size_t found = text.find(label, at);
        ASSERT_NE(found, std::string::npos) << label << " missing or out of order";
        at = found;
        if (i == 40 || i == 110) {
            const std::size_t note = text.find("Printed note " + std::to_string(i), at);
            ASSERT_NE(note, std::string::npos) << "the note after input " << i;
            at = note;
        }
    }
    EXPECT_EQ(outlineEntryCount(o.outputURL), std::size_t(count + 2));
    for (const std::string& name : imagetest::listFolder(dir))
        EXPECT_EQ(name.find(".part"), std::string::npos) << "a printed part was left: " << name;
}

TEST(MergeManyFiles, SourcesAreClosedOnceTheirPagesAreTakenNotHeldUntilTheWrite) {
    const fs::path dir = imagetest::freshDir("closed");
    const int count = 60;
    DescriptorWatch watch;
    MergeFilesOptions o;
    o.merge = true;
    o.progressTarget = &watch;
    o.progressSelector = true;
    o.outputURL = dir / "merged.pdf";
    for (int i = 0; i < count; ++i) {
        const fs::path input = dir / ("input" + std::to_string(i) + ".pdf");
        writeNumberedPDF(input, i, 300);
        o.jobList.push_back({kMergeFilePDF, input, {}, {}});
    }
    ASSERT_TRUE(MergeFilesToPDF(&o));
    ASSERT_GE(watch.first, 0);
    // One descriptor per source would add up to `count`; a few are the merge's own.
    EXPECT_LE(watch.most - watch.first, 3)
        << "open descriptors grew from " << watch.first << " to " << watch.most;
    EXPECT_EQ(pageSizes(o.outputURL).size(), std::size_t(count));
    EXPECT_NE(pdfText(o.outputURL).find("Input 059"), std::string::npos);
}

namespace {

// Replaces the first input by another PDF while the merge takes the fourth, as a user
// overwriting a file the merge has already taken pages from.
class ReplaceFirstInput : public ConversionProgress {
public:
    ReplaceFirstInput(fs::path first, fs::path replacement)
        : m_first(std::move(first)), m_replacement(std::move(replacement)) {}
    void progress(std::int64_t) override {
        if (++m_calls == 4)
            fs::rename(m_replacement, m_first);
    }

private:
    fs::path m_first, m_replacement;
    int m_calls = 0;
};

} // namespace

TEST(MergeManyFiles, ASourceReplacedDuringTheMergeFailsItAndKeepsTheEarlierOutput) {
    const fs::path dir = imagetest::freshDir("replaced");
    // A PDF by its header: a file of another kind would not be replaced at all.
    std::ofstream(dir / "merged.pdf") << "%PDF-1.7 the earlier output";
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    for (int i = 0; i < 8; ++i) {
        const fs::path input = dir / ("input" + std::to_string(i) + ".pdf");
        writeNumberedPDF(input, i, 300);
        o.jobList.push_back({kMergeFilePDF, input, {}, {}});
    }
    // Another PDF of a different length: read at the first file's offsets it would be garbage.
    writeNumberedPDF(dir / "other.pdf", 12345, 612);
    ReplaceFirstInput replace(dir / "input0.pdf", dir / "other.pdf");
    o.progressTarget = &replace;
    o.progressSelector = true;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(MergeFilesToPDF(&o));
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("changed while it was being merged"), std::string::npos) << message;
    EXPECT_EQ(imagetest::readText(o.outputURL), "%PDF-1.7 the earlier output");
}

namespace {

// Rewrites bytes in the middle of the first input in place while the merge takes the fourth,
// then sets its modification time back, as a tool that edits files and keeps their times does.
class EditFirstInputInPlace : public ConversionProgress {
public:
    explicit EditFirstInputInPlace(fs::path first) : m_first(std::move(first)) {}
    void progress(std::int64_t) override {
        if (++m_calls != 4)
            return;
        struct stat before {};
        ASSERT_EQ(::stat(m_first.c_str(), &before), 0);
        // The change time ticks with the kernel's coarse clock: let it pass the file's.
        timespec now{};
        do
            ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        while (now.tv_sec < before.st_ctim.tv_sec ||
               (now.tv_sec == before.st_ctim.tv_sec && now.tv_nsec <= before.st_ctim.tv_nsec));
        std::fstream file(m_first, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(std::streamoff(before.st_size / 2));
        file << std::string(std::size_t(before.st_size / 4), 'X');
        file.close();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, m_first.c_str(), times, 0), 0);
    }

private:
    fs::path m_first;
    int m_calls = 0;
};

} // namespace

TEST(MergeManyFiles, ASourceEditedInPlaceWithItsTimeSetBackFailsTheMerge) {
    const fs::path dir = imagetest::freshDir("edited");
    // A PDF by its header: a file of another kind would not be replaced at all.
    std::ofstream(dir / "merged.pdf") << "%PDF-1.7 the earlier output";
    MergeFilesOptions o;
    o.merge = true;
    o.outputURL = dir / "merged.pdf";
    for (int i = 0; i < 6; ++i) {
        const fs::path input = dir / ("input" + std::to_string(i) + ".pdf");
        writeNumberedPDF(input, i, 300);
        o.jobList.push_back({kMergeFilePDF, input, {}, {}});
    }
    const auto sizeBefore = fs::file_size(dir / "input0.pdf");
    EditFirstInputInPlace edit(dir / "input0.pdf");
    o.progressTarget = &edit;
    o.progressSelector = true;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(MergeFilesToPDF(&o));
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("changed while it was being merged"), std::string::npos) << message;
    EXPECT_EQ(imagetest::readText(o.outputURL), "%PDF-1.7 the earlier output");
    EXPECT_EQ(fs::file_size(dir / "input0.pdf"), sizeBefore) << "the edit kept the size";
}
