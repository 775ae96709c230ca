#include "ToPDFTestSupport.h"

#include <QJsonDocument>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace topdftest {

std::vector<PageSize> pageSizes(const fs::path& pdf) {
    std::vector<PageSize> sizes;
    std::istringstream lines(capture("pdfinfo -f 1 -l 100000 " + shellQuote(pdf) + " 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        int page = 0;
        PageSize s;
        if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &page, &s.width, &s.height) == 3)
            sizes.push_back(s);
    }
    return sizes;
}

std::vector<ListedImage> listImages(const fs::path& pdf) {
    std::vector<ListedImage> images;
    std::istringstream lines(capture("pdfimages -list " + shellQuote(pdf) + " 2>/dev/null"));
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        ListedImage i;
        std::string num, color, comp, bpc, interp, object, gen;
        f >> i.page >> num >> i.type >> i.width >> i.height >> color >> comp >> bpc >> i.encoding >>
            interp >> object >> gen >> i.xppi;
        if (f)
            images.push_back(i);
    }
    return images;
}

std::string pdfText(const fs::path& pdf) {
    return capture("pdftotext -layout " + shellQuote(pdf) + " - 2>/dev/null");
}

bool qpdfCheckPasses(const fs::path& pdf, const std::string& password) {
    int status = 0;
    const std::string pass = password.empty() ? "" : " --password=" + password;
    capture("qpdf --check" + pass + " " + shellQuote(pdf) + " >/dev/null 2>&1", &status);
    return status == 0;
}

QJsonObject qpdfJSON(const fs::path& pdf, const std::string& password) {
    const std::string pass = password.empty() ? "" : " --password=" + password;
    const std::string json = capture("qpdf --json" + pass + " " + shellQuote(pdf) + " 2>/dev/null");
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

void writeOutlinedPDF(const fs::path& path, const std::vector<std::string>& outline, int pages) {
    // Objects: 1 catalog, 2 pages, 3 outlines, 10.. pages, 100.. outline items, 200 content.
    std::ostringstream pdf;
    // Odd entries lead through a GoTo action to a named destination whose value is a
    // dictionary, as pdfTeX writes them; even ones hold their destination directly.
    std::string names;
    for (std::size_t i = 1; i < outline.size(); i += 2)
        names += "(dest" + std::to_string(i) + ") << /D [" + std::to_string(10 + int(i) % pages) +
                 " 0 R /Fit] >> ";
    pdf << "%PDF-1.7\n1 0 obj << /Type /Catalog /Pages 2 0 R /Outlines 3 0 R /Names << /Dests "
        << "<< /Names [" << names << "] >> >> >> endobj\n";
    pdf << "2 0 obj << /Type /Pages /Count " << pages << " /Kids [";
    for (int i = 0; i < pages; ++i)
        pdf << " " << 10 + i << " 0 R";
    pdf << " ] >> endobj\n";
    pdf << "3 0 obj << /Type /Outlines /Count " << outline.size() << " /First 100 0 R /Last "
        << 100 + outline.size() - 1 << " 0 R >> endobj\n";
    for (int i = 0; i < pages; ++i)
        pdf << 10 + i << " 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] "
            << "/Contents 200 0 R /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 "
            << "/BaseFont /Helvetica >> >> >> >> endobj\n";
    for (std::size_t i = 0; i < outline.size(); ++i) {
        pdf << 100 + i << " 0 obj << /Title (" << outline[i] << ") /Parent 3 0 R ";
        if (i % 2)
            pdf << "/A << /S /GoTo /D (dest" << i << ") >>";
        else
            pdf << "/Dest [" << 10 + int(i) % pages << " 0 R /Fit]";
        if (i > 0)
            pdf << " /Prev " << 99 + i << " 0 R";
        if (i + 1 < outline.size())
            pdf << " /Next " << 101 + i << " 0 R";
        pdf << " >> endobj\n";
    }
    const std::string content = "BT /F1 24 Tf 40 300 Td (Outlined source) Tj ET";
    pdf << "200 0 obj << /Length " << content.size() << " >> stream\n"
        << content << "\nendstream endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
    const fs::path raw = path.string() + ".raw";
    std::ofstream(raw, std::ios::binary) << pdf.str();
    capture("qpdf " + shellQuote(raw) + " " + shellQuote(path) + " >/dev/null 2>&1");
    fs::remove(raw);
}

void writeHalvesImage(const fs::path& path, const std::string& coder, std::size_t w, std::size_t h,
                      double dpi) {
    Magick::Image image(Magick::Geometry(w, h), Magick::Color("blue"));
    image.fillColor(Magick::Color("red"));
    image.draw(Magick::DrawableRectangle(0, 0, double(w) / 2 - 1, double(h) - 1));
    image.resolutionUnits(Magick::PixelsPerInchResolution);
    image.density(Magick::Geometry(std::size_t(dpi), std::size_t(dpi)));
    if (coder == "JPEG")
        image.quality(90);
    imagetest::writeWith(image, coder, path);
}

} // namespace topdftest
