// convtool pdf-images (ExtractImagesFromPDF) against Poppler's pdfimages -png on the same PDFs, in
// the same run; both decode every picture and encode it again as PNG. Three generated files: 100
// pages of one JPEG photo each, 20 pages of one Flate photo each, and 50 pages of 200 pictures of
// mixed kinds as documents carry them (JPEG photos, Flate photos, 4-bit indexed diagrams, 1-bit
// scanned pages, RGB pictures with soft masks). Each program runs as its own process; the figures
// are the median wall and CPU time and peak resident memory over interleaved rounds, each as a
// ratio ours / theirs, beside the goals.
//   pdfImagesBench [rounds [folder]]   (default 3 rounds; a folder given keeps the PDFs there)
#include "BenchSupport.h"
#include "TextTable.h"

#include <qpdf/Pl_DCT.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::RunFigures;

using bench::runProcess;

// A photo-like picture: smooth shapes from a few waves plus grain.
std::string photo(int w, int h, int components, std::mt19937& random) {
    std::uniform_real_distribution<double> phase(0, 6.28);
    std::normal_distribution<double> grain(0, 6);
    const double p[3] = {phase(random), phase(random), phase(random)};
    std::string s(std::size_t(w) * h * components, '\0');
    std::size_t i = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < components; ++c) {
                const double v = 128 + 60 * std::sin(x * 0.013 + p[c] + y * 0.004) +
                                 50 * std::cos(y * 0.021 - p[(c + 1) % 3] + x * 0.002) +
                                 grain(random);
                s[i++] = char(std::clamp(int(v), 0, 255));
            }
        }
    }
    return s;
}

std::string deflate(const std::string& data) {
    std::string out;
    Pl_String sink("sink", nullptr, out);
    Pl_Flate f("deflate", &sink, Pl_Flate::a_deflate);
    f.write(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    f.finish();
    return out;
}

std::string jpeg(const std::string& pixels, int w, int h) {
    std::string out;
    Pl_String sink("sink", nullptr, out);
    Pl_DCT dct("dct", &sink, JDIMENSION(w), JDIMENSION(h), 3, JCS_RGB);
    dct.write(reinterpret_cast<const unsigned char*>(pixels.data()), pixels.size());
    dct.finish();
    return out;
}

// 4-bit indices of a diagram: flat areas with edges.
std::string diagram(int w, int h, std::mt19937& random) {
    std::uniform_int_distribution<int> pick(0, 15);
    const int a = pick(random), b = pick(random);
    std::string s;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; x += 2) {
            auto at = [&](int xx) {
                return ((xx / 37 + y / 29) % 3 == 0) ? a : ((xx + y) / 53) % 2 ? b : 0;
            };
            s += char(at(x) << 4 | at(x + 1));
        }
    }
    return s;
}

// 1-bit scanned text page: lines of dark marks on white.
std::string scan(int w, int h, std::mt19937& random) {
    std::bernoulli_distribution ink(0.35);
    const int rowBytes = (w + 7) / 8;
    std::string s(std::size_t(rowBytes) * h, char(0xFF));
    for (int y = 0; y < h; ++y) {
        if (y % 40 > 24 || y < 150 || y > h - 150)
            continue;
        for (int bx = 20; bx < rowBytes - 20; ++bx)
            if (ink(random))
                s[std::size_t(y) * rowBytes + bx] = char(random() & 0xFF);
    }
    return s;
}

QPDFObjectHandle imageObject(QPDF& pdf, const std::string& dict, const std::string& data) {
    QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
    QPDFObjectHandle d = QPDFObjectHandle::parse(dict);
    for (const std::string& k : d.getKeys())
        s.getDict().replaceKey(k, d.getKey(k));
    s.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    s.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    return pdf.makeIndirectObject(s);
}

// A page that draws the pictures side by side, two to a row.
void addPage(QPDF& pdf, const std::vector<QPDFObjectHandle>& images) {
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    std::string content;
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string name = "/Im" + std::to_string(i + 1);
        xobjects.replaceKey(name, images[i]);
        content += "q 250 0 0 180 " + std::to_string(40 + 270 * (i % 2)) + " " +
                   std::to_string(100 + 300 * (i / 2)) + " cm " + name + " Do Q\n";
    }
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle p = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
    p.replaceKey("/Resources", resources);
    p.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(p)), false);
}

void writePDF(QPDF& pdf, const std::filesystem::path& path) {
    QPDFWriter w(pdf, path.c_str());
    w.write();
}

// 200 pictures of mixed kinds on 50 pages.
void makeMixedPDF(const std::filesystem::path& path) {
    QPDF pdf;
    pdf.emptyPDF();
    std::mt19937 random(7);
    auto image = [&](const std::string& dict, const std::string& data) {
        return imageObject(pdf, dict, data);
    };
    std::string palette;
    for (int i = 0; i < 16; ++i)
        palette += {char(i * 16), char(255 - i * 12), char((i * 90) % 256)};
    for (int page = 0; page < 50; ++page) {
        std::vector<QPDFObjectHandle> images;
        for (int k = 0; k < 4; ++k) {
            const int kind = (page * 4 + k) % 5;
            if (kind == 0) {
                images.push_back(image("<< /Width 640 /Height 480 /ColorSpace /DeviceRGB "
                                       "/BitsPerComponent 8 /Filter /DCTDecode >>",
                                       jpeg(photo(640, 480, 3, random), 640, 480)));
            } else if (kind == 1) {
                images.push_back(image("<< /Width 640 /Height 480 /ColorSpace /DeviceRGB "
                                       "/BitsPerComponent 8 /Filter /FlateDecode >>",
                                       deflate(photo(640, 480, 3, random))));
            } else if (kind == 2) {
                QPDFObjectHandle img = image("<< /Width 800 /Height 600 /BitsPerComponent 4 "
                                             "/Filter /FlateDecode >>",
                                             deflate(diagram(800, 600, random)));
                QPDFObjectHandle cs = QPDFObjectHandle::parse("[/Indexed /DeviceRGB 15 ()]");
                cs.setArrayItem(3, QPDFObjectHandle::newString(palette));
                img.getDict().replaceKey("/ColorSpace", cs);
                images.push_back(img);
            } else if (kind == 3) {
                images.push_back(image("<< /Width 1700 /Height 2200 /ColorSpace /DeviceGray "
                                       "/BitsPerComponent 1 /Filter /FlateDecode >>",
                                       deflate(scan(1700, 2200, random))));
            } else {
                QPDFObjectHandle mask = image("<< /Width 400 /Height 400 /ColorSpace /DeviceGray "
                                              "/BitsPerComponent 8 /Filter /FlateDecode >>",
                                              deflate(photo(400, 400, 1, random)));
                QPDFObjectHandle img = image("<< /Width 400 /Height 400 /ColorSpace /DeviceRGB "
                                             "/BitsPerComponent 8 /Filter /FlateDecode >>",
                                             deflate(photo(400, 400, 3, random)));
                img.getDict().replaceKey("/SMask", mask);
                images.push_back(img);
            }
        }
        addPage(pdf, images);
    }
    writePDF(pdf, path);
}

// Pages of one photo each, as a scanned or photo book carries them: JPEG (DCTDecode) or Flate.
// A few photos are made and each page gets its own copy of one, so that every page's picture is
// decoded on its own while making the file stays quick.
void makePhotoPDF(const std::filesystem::path& path, int pages, bool asJPEG, int kWidth,
                  int kHeight) {
    QPDF pdf;
    pdf.emptyPDF();
    std::mt19937 random(11);
    std::vector<std::string> encoded;
    for (int i = 0; i < 6; ++i) {
        const std::string pixels = photo(kWidth, kHeight, 3, random);
        encoded.push_back(asJPEG ? jpeg(pixels, kWidth, kHeight) : deflate(pixels));
    }
    const std::string dict = "<< /Width " + std::to_string(kWidth) + " /Height " +
                             std::to_string(kHeight) +
                             " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter " +
                             (asJPEG ? "/DCTDecode" : "/FlateDecode") + " >>";
    for (int page = 0; page < pages; ++page)
        addPage(pdf, {imageObject(pdf, dict, encoded[std::size_t(page) % encoded.size()])});
    writePDF(pdf, path);
}

struct Case {
    const char* name;
    const char* file;
    std::function<void(const std::filesystem::path&)> make;
    bool hasGoals = true;
};

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const bool keep = argc > 2;
    const std::filesystem::path folder =
        keep ? std::filesystem::path(argv[2])
             : std::filesystem::temp_directory_path() /
                   ("lumeno-pdfimages-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "ours");
    std::filesystem::create_directories(folder / "theirs");
    const std::vector<Case> cases = {
        // pdfimages spends most of its time in zlib on JPEG photos: small ones keep the run short.
        {"JPEG: 100 pages, one 640x480 photo each", "jpeg100.pdf",
         [](const std::filesystem::path& p) { makePhotoPDF(p, 100, true, 640, 480); }},
        // An A4 page scanned at 150 dpi.
        {"Flate: 20 pages, one 1240x1754 photo each", "flate20.pdf",
         [](const std::filesystem::path& p) { makePhotoPDF(p, 20, false, 1240, 1754); }},
        {"mixed: 50 pages, 200 pictures", "mixed200.pdf", makeMixedPDF, false},
    };
    // The PDFs are made in a child process: a forked program starts with its parent's resident
    // pages, which would otherwise count into both tools' peak memory.
    std::fflush(stdout);
    if (const pid_t maker = fork(); maker == 0) {
        for (const Case& c : cases)
            c.make(folder / c.file);
        _exit(0);
    } else {
        int status = 0;
        waitpid(maker, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 1;
    }
    std::printf("Photos are RGB; the mixed file holds 40 each of: JPEG photo 640x480, Flate "
                "photo 640x480, 4-bit indexed 800x600, 1-bit scan 1700x2200, RGB 400x400 with a "
                "soft mask.\n");
    TextTable table({"case", "MB", "convtool ms", "pdfimages ms", "time ratio", "goal", "CPU ratio",
                     "convtool MB", "pdfimages MB", "memory ratio", "goal"});
    for (const Case& c : cases) {
        const std::filesystem::path input = folder / c.file;
        // Both decode every picture and encode it again as PNG.
        const std::vector<std::string> ours = {LUMENO_CONVTOOL, "pdf-images", "-replace",
                                               input.string(), (folder / "ours").string()};
        const std::vector<std::string> theirs = {LUMENO_PDFIMAGES, "-png", input.string(),
                                                 (folder / "theirs" / "img").string()};
        std::vector<double> ourMs, theirMs, ourCpu, theirCpu, ourKB, theirKB;
        for (int r = 0; r < rounds; ++r) {
            const bool oursFirst = r % 2 == 0;
            const RunFigures a = runProcess(oursFirst ? ours : theirs);
            const RunFigures b = runProcess(oursFirst ? theirs : ours);
            const RunFigures& o = oursFirst ? a : b;
            const RunFigures& t = oursFirst ? b : a;
            ourMs.push_back(o.ms);
            theirMs.push_back(t.ms);
            ourCpu.push_back(o.cpuMs);
            theirCpu.push_back(t.cpuMs);
            ourKB.push_back(double(o.peakKB));
            theirKB.push_back(double(t.peakKB));
        }
        table.addRow(
            {c.name, TextTable::number(std::filesystem::file_size(input) / 1048576.0, 1),
             TextTable::ms(median(ourMs)), TextTable::ms(median(theirMs)),
             TextTable::ratio(median(ourMs), median(theirMs), 3), c.hasGoals ? "<= 1.0" : "-",
             TextTable::ratio(median(ourCpu), median(theirCpu), 3),
             TextTable::number(median(ourKB) / 1024.0, 1),
             TextTable::number(median(theirKB) / 1024.0, 1),
             TextTable::ratio(median(ourKB), median(theirKB), 3), c.hasGoals ? "<= 1.5" : "-"});
    }
    std::printf("\n%d rounds, interleaved; convtool pdf-images against pdfimages -png, both "
                "decoding every picture and writing it as PNG. Time: median wall time of the "
                "whole process; CPU: median user + system time; memory: median peak resident "
                "set. The mixed row has no goal of its own.\n\n",
                rounds);
    std::fflush(stdout);
    table.print();
    if (!keep)
        std::filesystem::remove_all(folder);
    return 0;
}
