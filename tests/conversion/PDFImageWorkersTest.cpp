// The extractor's workers: the files of a parallel run are those of a one-worker run, a
// cancelled run leaves only whole files, and damaged pictures among good ones are reported in
// order while the others are written under the right numbers.
#include "ConversionLog.h"
#include "PDFImageExtractor.h"
#include "PDFTestDocument.h"

#include <gtest/gtest.h>
#include <qpdf/Pl_DCT.hh>
#include <qpdf/Pl_String.hh>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string samples(int w, int h, int components, int seed) {
    std::string s(std::size_t(w) * h * components, '\0');
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = char((i * 13 + std::size_t(seed) * 71 + i / std::size_t(w * 3 + 1)) & 0xFF);
    return s;
}

std::string jpegData(int w, int h, int seed) {
    std::string out;
    Pl_String sink("sink", nullptr, out);
    Pl_DCT dct("dct", &sink, JDIMENSION(w), JDIMENSION(h), 3, JCS_RGB);
    const std::string pixels = samples(w, h, 3, seed);
    dct.write(reinterpret_cast<const unsigned char*>(pixels.data()), pixels.size());
    dct.finish();
    return out;
}

// A picture of each kind, each of its own width so that a file shows which picture it holds.
QPDFObjectHandle flatePicture(PDFTestDocument& doc, int w, int seed) {
    return doc.image("<< /Width " + std::to_string(w) +
                         " /Height 40 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
                         "/Filter /FlateDecode >>",
                     flate(samples(w, 40, 3, seed)));
}
QPDFObjectHandle jpegPicture(PDFTestDocument& doc, int w, int seed) {
    return doc.image("<< /Width " + std::to_string(w) +
                         " /Height 32 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
                         "/Filter /DCTDecode >>",
                     jpegData(w, 32, seed));
}
QPDFObjectHandle damagedPicture(PDFTestDocument& doc) {
    return doc.image("<< /Width 30 /Height 30 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                     "/Filter /FlateDecode >>",
                     "this is no deflate stream");
}
const char* kInline = "q BI /W 3 /H 2 /BPC 8 /CS /G ID\nabcdef\nEI Q\n";

// Runs the extractor with at most `workers` workers into `out` (made empty first).
bool extract(const fs::path& pdf, const fs::path& out, unsigned workers,
             ConversionProgress* progress = nullptr) {
    fs::remove_all(out);
    fs::create_directories(out);
    PDFImageExtractor extractor;
    if (!extractor.OpenInputPDF(pdf, std::nullopt))
        return false;
    extractor.SetOutputNaming(std::nullopt, false);
    extractor.SetProgressTarget(progress, progress != nullptr);
    extractor.SetOutputFormat(7, out, 0.8);
    extractor.SetMaxWorkers(workers);
    return extractor.ExtractImages();
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every name in the folder with its bytes.
std::vector<std::pair<std::string, std::string>> filesIn(const fs::path& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& name : testfiles::listFolder(folder))
        files.emplace_back(name, contents(folder / name));
    return files;
}

// Collects the messages of a run.
struct LogCapture {
    LogCapture() {
        m_previous = SetConversionLogHook([this](std::string_view line) {
            const std::lock_guard<std::mutex> guard(m_lock);
            lines.emplace_back(line);
        });
    }
    ~LogCapture() { SetConversionLogHook(m_previous); }
    std::vector<std::string> lines;

private:
    std::mutex m_lock;
    ConversionLogHook m_previous;
};

} // namespace

TEST(PDFImageWorkers, ParallelRunsWriteTheFilesOfAOneWorkerRun) {
    // Pages of mixed pictures, damaged ones among them (which use no number), inline images and
    // a page without pictures: the numbers depend on pictures other workers decode.
    PDFTestDocument doc;
    for (int p = 0; p < 6; ++p) {
        std::vector<QPDFObjectHandle> pictures;
        for (int k = 0; k < 5; ++k) {
            const int seed = p * 5 + k;
            if ((p + k) % 4 == 1)
                pictures.push_back(damagedPicture(doc));
            else if (k % 2)
                pictures.push_back(jpegPicture(doc, 16 + seed, seed));
            else
                pictures.push_back(flatePicture(doc, 16 + seed, seed));
        }
        if (p == 3)
            pictures.clear();
        doc.addPage(pictures, p % 2 ? kInline : "");
    }
    const fs::path folder = freshDir("workers-same");
    doc.write(folder / "mixed.pdf");
    ASSERT_TRUE(extract(folder / "mixed.pdf", folder / "one", 1));
    const auto expected = filesIn(folder / "one");
    ASSERT_EQ(expected.size(), 21u); // 25 pictures less 7 damaged, and 3 inline images
    EXPECT_EQ(expected[0].first, "mixed_Page1_1.png");
    EXPECT_EQ(readPNG(folder / "one" / "mixed_Page2_4.png").width, 3); // the inline image last
    for (unsigned workers : {2u, 3u, 8u, 0u}) {
        // Several runs: an ordering fault would show in some of them.
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(extract(folder / "mixed.pdf", folder / "many", workers));
            EXPECT_EQ(filesIn(folder / "many"), expected) << workers << " workers";
        }
    }
}

TEST(PDFImageWorkers, ACancelledRunLeavesOnlyWholeFilesOfThePagesBefore) {
    PDFTestDocument doc;
    for (int p = 0; p < 8; ++p) {
        std::vector<QPDFObjectHandle> pictures;
        for (int k = 0; k < 6; ++k)
            pictures.push_back(flatePicture(doc, 300 + k, p * 6 + k));
        doc.addPage(pictures);
    }
    const fs::path folder = freshDir("workers-cancel");
    doc.write(folder / "book.pdf");
    testfiles::ProgressRecorder cancel;
    cancel.cancelAfterReports = 3;
    EXPECT_TRUE(extract(folder / "book.pdf", folder / "out", 4, &cancel));
    EXPECT_EQ(cancel.reports, (std::vector<std::int64_t>{1, 2, 3}));
    // Pages 1 to 3 in full, each file complete, and no temporary file left behind.
    std::vector<std::string> expected;
    for (int p = 1; p <= 3; ++p)
        for (int k = 1; k <= 6; ++k)
            expected.push_back("book_Page" + std::to_string(p) + "_" + std::to_string(k) + ".png");
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> everything;
    for (const auto& entry : fs::directory_iterator(folder / "out"))
        everything.push_back(entry.path().filename().string());
    std::sort(everything.begin(), everything.end());
    EXPECT_EQ(everything, expected);
    for (int p = 1; p <= 3; ++p) {
        for (int k = 1; k <= 6; ++k) {
            const PNGPicture picture =
                readPNG(folder / "out" /
                        ("book_Page" + std::to_string(p) + "_" + std::to_string(k) + ".png"));
            EXPECT_TRUE(picture.ok);
            EXPECT_EQ(picture.width, 300 + k - 1);
            EXPECT_EQ(picture.height, 40);
        }
    }
}

TEST(PDFImageWorkers, DamagedPicturesAmongGoodOnesAreReportedInOrderAndTheOthersWritten) {
    PDFTestDocument doc;
    doc.addPage({flatePicture(doc, 21, 1), damagedPicture(doc), jpegPicture(doc, 22, 2),
                 damagedPicture(doc), flatePicture(doc, 23, 3)});
    doc.addPage({damagedPicture(doc), jpegPicture(doc, 24, 4)});
    const fs::path folder = freshDir("workers-damaged");
    doc.write(folder / "scan.pdf");
    for (unsigned workers : {1u, 4u}) {
        LogCapture log;
        // The last picture handled was written: the run succeeds.
        EXPECT_TRUE(extract(folder / "scan.pdf", folder / "out", workers));
        EXPECT_EQ(testfiles::listFolder(folder / "out"),
                  (std::vector<std::string>{"scan_Page1_1.png", "scan_Page1_2.png",
                                            "scan_Page1_3.png", "scan_Page2_1.png"}));
        EXPECT_EQ(readPNG(folder / "out" / "scan_Page1_2.png").width, 22);
        EXPECT_EQ(readPNG(folder / "out" / "scan_Page1_3.png").width, 23);
        EXPECT_EQ(readPNG(folder / "out" / "scan_Page2_1.png").width, 24);
        ASSERT_EQ(log.lines.size(), 3u) << workers << " workers";
        EXPECT_NE(log.lines[0].find("an image on page 1 was skipped"), std::string::npos);
        EXPECT_NE(log.lines[1].find("an image on page 1 was skipped"), std::string::npos);
        EXPECT_NE(log.lines[2].find("an image on page 2 was skipped"), std::string::npos);
    }
}
