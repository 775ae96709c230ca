#include "PDFToTextTestSupport.h"

#include "TextPDFMaker.h"
#include "TextReadBack.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace {

std::filesystem::path inputFolder() {
    static std::filesystem::path folder;
    static std::once_flag once;
    std::call_once(once, [] {
        char pattern[] = "/tmp/lumeno-pdftext-inputs-XXXXXX";
        folder = mkdtemp(pattern);
        const auto at = [](const char* name) { return (folder / name).string(); };
        bool ok = WriteProsePDF(at("one.pdf"), 1) && WriteProsePDF(at("nine.pdf"), 9) &&
                  WriteProsePDF(at("twelve.pdf"), 12) && WriteProsePDF(at("hundred.pdf"), 100, 4);
        ok = ok && WriteTextPDF(at("gaps.pdf"), {ProsePage(1), {}, ProsePage(3), {}, ProsePage(5)});
        ok = ok && WriteTextPDF(at("blank.pdf"), {{}, {}, {}});
        int status = 0;
        testfiles::capture("qpdf --encrypt 'open sesame' owner-secret 256 -- " +
                               testfiles::shellQuote(at("twelve.pdf")) + " " +
                               testfiles::shellQuote(at("locked.pdf")),
                           &status);
        ok = ok && status == 0;
        std::ofstream(at("notapdf.pdf")) << "This is a plain text file, not a PDF.\n";
        if (!ok)
            ADD_FAILURE() << "could not make the test PDFs in " << folder;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
    });
    return folder;
}

} // namespace

void writeRawPDF(const std::string& path, const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t table = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << pdf;
}

std::string TestPDF(const std::string& name) {
    return (inputFolder() / name).string();
}

void PDFToTextTest::SetUp() {
    m_folder = testfiles::freshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
}

PDFToTextOptions PDFToTextTest::optionsFor(const std::string& pdf) const {
    PDFToTextOptions options;
    options.inputURL = TestPDF(pdf);
    options.outputFolderURL = m_folder;
    options.outputBaseName = "Report";
    options.outputExtension = "txt";
    options.textFormat = kTextFormatUTF8;
    return options;
}

std::set<std::string> PDFToTextTest::outputNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder))
        names.insert(entry.path().filename().string());
    return names;
}
