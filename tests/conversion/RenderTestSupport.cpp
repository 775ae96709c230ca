#include "RenderTestSupport.h"

#include "ImageRender.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace rendertest {

void writePDF(const fs::path& path, const std::vector<PDFPage>& pages) {
    std::vector<std::string> objects; // object i + 1
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back(""); // the page tree, filled below
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    std::string kids;
    for (const PDFPage& page : pages) {
        const std::size_t pageObject = objects.size() + 1;
        std::ostringstream p;
        p << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " << page.width << " " << page.height
          << "] /Resources << /Font << /F1 3 0 R >> >> /Contents " << pageObject + 1 << " 0 R";
        if (page.rotate)
            p << " /Rotate " << page.rotate;
        p << " >>";
        objects.push_back(p.str());
        objects.push_back("<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" +
                          page.content + "\nendstream");
        kids += std::to_string(pageObject) + " 0 R ";
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    std::ofstream(path, std::ios::binary) << out;
}

void writeNumberedPDF(const fs::path& path, int count) {
    std::vector<PDFPage> pages;
    for (int i = 1; i <= count; ++i) {
        const double grey = double((i * 2) % 256) / 255.0;
        pages.push_back({72, 72, 0, std::to_string(grey) + " g 0 0 72 72 re f"});
    }
    writePDF(path, pages);
}

imagetest::Pixels pixelsOfBytes(const std::vector<std::uint8_t>& bytes) {
    Magick::Blob blob(bytes.data(), bytes.size());
    Magick::Image image;
    image.read(blob);
    return imagetest::pixelsOf(image);
}

Rendered render(const conversion::Bitmap& source, RenderSize size,
                const std::function<void(conversion::ImageConversionJob&)>& setup,
                std::int32_t format) {
    using namespace conversion;
    ImageConversionJob job;
    job.inputImage = std::make_unique<InputImage>();
    job.inputImage->representations.push_back(source);
    job.inputImageRep = &job.inputImage->representations.front();
    job.inputURL = "source.png";
    job.outputFormat = format;
    job.quality = 0.9f;
    job.keepOutputInMemory = true;
    if (setup)
        setup(job);
    Rendered r;
    r.ok = RenderImage(job, size);
    r.error = job.lastError;
    if (r.ok && job.encodedData) {
        r.bytes = *job.encodedData;
        r.pixels = pixelsOfBytes(r.bytes);
        Magick::Image image;
        image.read(Magick::Blob(r.bytes.data(), r.bytes.size()));
        r.dpiX = image.xResolution();
        r.dpiY = image.yResolution();
    }
    return r;
}

RenderSize pixels(double w, double h, bool keep, int fit) {
    RenderSize s;
    s.unit = kLengthPixels;
    s.width = w;
    s.height = h;
    s.keepAspectRatio = keep;
    s.resample = true;
    s.fitMode = fit;
    return s;
}

int openFileCount() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

} // namespace rendertest

// Fontconfig 2.14 loses a few bytes while parsing its own configuration, once a process; that is
// not ours to find in every test that draws text.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
