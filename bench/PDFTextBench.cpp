// convtool pdf-to-text against Debian's pdftotext (poppler-utils) on a generated 500-page text
// PDF (DejaVu Sans, embedded subsets, about 40 lines of prose a page), in the same run. UTF-8
// text of the whole document is compared with pdftotext as wall-time, CPU-time and memory
// ratios; every other format is given as milliseconds per page and as a ratio to pdftotext's
// time for the same pages. Each program runs as its own process; figures are medians over
// interleaved rounds.
//   pdfTextBench [rounds [folder]]   (default 5 rounds; a folder given keeps the files there)
#include "BenchSupport.h"
#include "TextPDFMaker.h"
#include "TextTable.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPages = 500;

using bench::RunFigures;
using bench::runProcess;

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
    std::vector<double> ourMs, theirMs, ourCpu, theirCpu;
    long ourKB = 0, theirKB = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool runOurs = (turn == 0) == (r % 2 == 0);
            clearFolder(out);
            const RunFigures f = runProcess(runOurs ? ours : theirs);
            (runOurs ? ourMs : theirMs).push_back(f.ms);
            (runOurs ? ourCpu : theirCpu).push_back(f.cpuMs);
            long& kb = runOurs ? ourKB : theirKB;
            kb = std::max(kb, f.peakKB);
        }
    }
    return {{median(ourMs), median(ourCpu), ourKB / 1024.0},
            {median(theirMs), median(theirCpu), theirKB / 1024.0}};
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string folder =
        argc > 2 ? std::string(argv[2])
                 : std::string(std::filesystem::temp_directory_path() /
                               ("lumeno-pdftext-bench-" + std::to_string(getpid())));
    std::filesystem::create_directories(folder);
    const std::string pdf = folder + "/book.pdf";
    const std::string out = folder + "/out";
    std::printf("Writing a %d-page text PDF...\n", kPages);
    if (!WriteProsePDF(pdf, kPages, 40)) {
        std::fprintf(stderr, "could not write %s\n", pdf.c_str());
        return 1;
    }
    std::printf("  book.pdf %.1f MB\n\n", double(std::filesystem::file_size(pdf)) / 1e6);
    const std::string convtool = LUMENO_CONVTOOL, pdftotext = LUMENO_PDFTOTEXT;
    const std::vector<std::string> reference = {pdftotext, "-enc", "UTF-8", pdf, out + "/b.txt"};

    const auto [ours, theirs] =
        compare(rounds, out, {convtool, "pdf-to-text", pdf, out, "--format", "1"}, reference);
    TextTable table({"UTF-8 text, 500 pages", "convtool", "pdftotext", "ratio"});
    table.addRow({"wall ms", TextTable::ms(ours.ms), TextTable::ms(theirs.ms),
                  TextTable::ratio(ours.ms, theirs.ms, 2)});
    table.addRow({"CPU ms", TextTable::ms(ours.cpuMs), TextTable::ms(theirs.cpuMs),
                  TextTable::ratio(ours.cpuMs, theirs.cpuMs, 2)});
    table.addRow({"peak MB", TextTable::number(ours.peakMB, 1), TextTable::number(theirs.peakMB, 1),
                  TextTable::ratio(ours.peakMB, theirs.peakMB, 2)});
    table.print();
    std::printf("\n");

    struct Format {
        const char* name;
        const char* code;
        bool perPage;
    };
    const Format formats[] = {
        {"UTF-8, one file per page", "1", true},
        {"UTF-16", "2", false},
        {"RTF", "3", false},
        {"RTFD", "4", false},
        {"DOCX", "6", false},
        {"ODT", "7", false},
        {"Word .doc (LibreOffice)", "5", false},
    };
    TextTable perPage({"format, 500 pages", "ms per page", "ratio to pdftotext"});
    for (const Format& format : formats) {
        std::vector<std::string> command = {convtool, "pdf-to-text", pdf,
                                            out,      "--format",    format.code};
        if (format.perPage)
            command.push_back("--per-page");
        // LibreOffice takes seconds per run: one round is enough to see its cost per page.
        const int formatRounds = format.code == std::string("5") ? 1 : rounds;
        const auto [formatOurs, formatTheirs] = compare(formatRounds, out, command, reference);
        perPage.addRow({format.name, TextTable::number(formatOurs.ms / kPages, 3),
                        TextTable::ratio(formatOurs.ms, formatTheirs.ms, 2)});
    }
    perPage.print();
    if (argc <= 2) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return 0;
}
