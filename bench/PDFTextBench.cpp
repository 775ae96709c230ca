// convtool pdf-to-text against Debian's pdftotext (poppler-utils) on generated text PDFs of 10,
// 100 and 1,000 pages (DejaVu Sans, embedded subsets, about 40 lines of prose a page), in the
// same run. UTF-8 text of the whole document, the format pdftotext also writes, is compared as
// wall-time, CPU-time and peak-memory ratios against their goals; every other format is given on
// the 1,000-page document as milliseconds per page and as ratios to pdftotext's time and memory.
// Each program runs as its own process; figures are medians over interleaved rounds.
// Before measuring, the 1,000-page document is converted once in every deterministic format and
// the bytes are checked against the hashes that the converter wrote before it was made faster.
//   pdfTextBench [rounds [folder]]   (default 5 rounds; a folder given keeps the files there)
#include "BenchSupport.h"
#include "TextPDFMaker.h"
#include "TextTable.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bench::RunFigures;
using bench::runProcess;

constexpr double kTimeGoal = 1.2;   // wall time, at most this times pdftotext's
constexpr double kMemoryGoal = 2.0; // peak resident memory, at most this times pdftotext's

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Empties the output folder, so every run writes under the same names.
void clearFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder);
}

struct Measured {
    double ms, cpuMs, peakMB;
};

// Runs `ours` and `theirs` interleaved, alternating who goes first.
std::pair<Measured, Measured> compare(int rounds, const std::string& out,
                                      const std::vector<std::string>& ours,
                                      const std::vector<std::string>& theirs) {
    std::vector<double> ourMs, theirMs, ourCpu, theirCpu, ourKB, theirKB;
    for (int r = 0; r < rounds; ++r) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool runOurs = (turn == 0) == (r % 2 == 0);
            clearFolder(out);
            const RunFigures f = runProcess(runOurs ? ours : theirs);
            (runOurs ? ourMs : theirMs).push_back(f.ms);
            (runOurs ? ourCpu : theirCpu).push_back(f.cpuMs);
            (runOurs ? ourKB : theirKB).push_back(double(f.peakKB));
        }
    }
    return {{median(ourMs), median(ourCpu), median(ourKB) / 1024.0},
            {median(theirMs), median(theirCpu), median(theirKB) / 1024.0}};
}

// FNV-1a over the names and bytes of every file under `folder`, in name order: equal hashes
// mean the same files with the same contents.
std::uint64_t hashFolder(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::uint64_t hash = 1469598103934665603ull;
    auto add = [&hash](const std::string& bytes) {
        for (const char c : bytes) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
    };
    for (const std::filesystem::path& file : files) {
        add(std::filesystem::relative(file, folder).string());
        std::ifstream in(file, std::ios::binary);
        add(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    return hash;
}

struct Format {
    const char* name;
    const char* code;
    bool perPage;
    std::uint64_t golden; // hash of the 1,000-page output; 0: not deterministic, not checked
};

// Hashes of the 1,000-page document's output as the converter wrote it before its speed-up. DOCX
// and ODT packages carry the time they were made, so they differ from run to run; they and
// Word .doc (made from the RTF) are written from the same styled text as RTF, whose bytes show
// every run's text, font, size, weight and slant.
const Format kFormats[] = {
    {"UTF-8", "1", false, 0xda4377bf0408e4f4ull},
    {"UTF-8, one file per page", "1", true, 0x8397e746a4566cebull},
    {"UTF-16", "2", false, 0xfeb5730dc3b3d1c6ull},
    {"RTF", "3", false, 0xca1fe6cbf3982774ull},
    {"RTFD", "4", false, 0xeb8ec8bbba72d6efull},
    {"DOCX", "6", false, 0},
    {"ODT", "7", false, 0},
    {"Word .doc (LibreOffice)", "5", false, 0},
};

std::vector<std::string> ourCommand(const std::string& pdf, const std::string& out,
                                    const Format& format) {
    std::vector<std::string> command = {LUMENO_CONVTOOL, "pdf-to-text", pdf, out,
                                        "--format",      format.code};
    if (format.perPage)
        command.push_back("--per-page");
    return command;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder =
        argc > 2 ? std::string(argv[2])
                 : std::string(std::filesystem::temp_directory_path() /
                               ("lumeno-pdftext-bench-" + std::to_string(getpid())));
    std::filesystem::create_directories(folder);
    const std::string out = folder + "/out";
    const int sizes[] = {10, 100, 1000};
    std::printf("Writing text PDFs of 10, 100 and 1000 pages...\n");
    for (const int pages : sizes) {
        const std::string pdf = folder + "/book" + std::to_string(pages) + ".pdf";
        if (!WriteProsePDF(pdf, pages, 40)) {
            std::fprintf(stderr, "could not write %s\n", pdf.c_str());
            return 1;
        }
    }
    const std::string big = folder + "/book1000.pdf";
    std::printf("  book1000.pdf %.1f MB\n\n", double(std::filesystem::file_size(big)) / 1e6);

    // The bytes first: a faster converter that writes other bytes is no faster converter.
    bool sameBytes = true;
    for (const Format& format : kFormats) {
        if (!format.golden && !std::getenv("LUMENO_PRINT_GOLDEN"))
            continue;
        clearFolder(out);
        runProcess(ourCommand(big, out, format));
        const std::uint64_t hash = hashFolder(out);
        if (std::getenv("LUMENO_PRINT_GOLDEN"))
            std::printf("  golden %-26s 0x%016" PRIx64 "ull\n", format.name, hash);
        else if (hash != format.golden) {
            std::printf("  %s: the 1000-page output differs from before (0x%016" PRIx64 ")\n",
                        format.name, hash);
            sameBytes = false;
        }
    }
    std::printf("1000-page output, every deterministic format: %s\n\n",
                sameBytes ? "same bytes as before" : "CHANGED");

    const std::string pdftotext = LUMENO_PDFTOTEXT;
    TextTable table({"UTF-8 text", "convtool ms", "pdftotext ms", "time ratio", "CPU ratio",
                     "convtool MB", "pdftotext MB", "memory ratio", "goals (time, memory)"});
    bool goalsMet = true;
    for (const int pages : sizes) {
        const std::string pdf = folder + "/book" + std::to_string(pages) + ".pdf";
        const auto [ours, theirs] = compare(rounds, out, ourCommand(pdf, out, kFormats[0]),
                                            {pdftotext, "-enc", "UTF-8", pdf, out + "/b.txt"});
        const double timeRatio = ours.ms / theirs.ms;
        const double memoryRatio = ours.peakMB / theirs.peakMB;
        const bool met = timeRatio <= kTimeGoal && memoryRatio <= kMemoryGoal;
        goalsMet = goalsMet && met;
        char goal[64];
        std::snprintf(goal, sizeof goal, "<= %.1f, <= %.1f: %s", kTimeGoal, kMemoryGoal,
                      met ? "met" : "MISSED");
        table.addRow({QString::number(pages) + " pages", TextTable::ms(ours.ms),
                      TextTable::ms(theirs.ms), TextTable::ratio(ours.ms, theirs.ms, 2),
                      TextTable::ratio(ours.cpuMs, theirs.cpuMs, 2),
                      TextTable::number(ours.peakMB, 1), TextTable::number(theirs.peakMB, 1),
                      TextTable::ratio(ours.peakMB, theirs.peakMB, 2), QString(goal)});
    }
    table.print();
    std::printf("\n");

    // The other formats on the long document; LibreOffice takes seconds per run, so Word .doc
    // gets one round on 100 pages.
    TextTable others({"format", "pages", "ms per page", "time ratio", "CPU ratio", "memory ratio"});
    for (const Format& format : kFormats) {
        if (&format == &kFormats[0])
            continue;
        const bool word = format.code == std::string("5");
        const int pages = word ? 100 : 1000;
        const std::string pdf = folder + "/book" + std::to_string(pages) + ".pdf";
        const auto [ours, theirs] =
            compare(word ? 1 : std::min(rounds, 3), out, ourCommand(pdf, out, format),
                    {pdftotext, "-enc", "UTF-8", pdf, out + "/b.txt"});
        others.addRow({format.name, QString::number(pages), TextTable::number(ours.ms / pages, 3),
                       TextTable::ratio(ours.ms, theirs.ms, 2),
                       TextTable::ratio(ours.cpuMs, theirs.cpuMs, 2),
                       TextTable::ratio(ours.peakMB, theirs.peakMB, 2)});
    }
    others.print();
    if (argc <= 2) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return sameBytes ? 0 : 1;
}
