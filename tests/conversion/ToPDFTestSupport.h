// PDFs read back with the Poppler and qpdf tools, and inputs for the PDF jobs.
#pragma once

#include "ImageTestSupport.h"

#include <QJsonObject>

#include <string>
#include <vector>

namespace topdftest {

using namespace testfiles;

struct PageSize {
    double width = 0;
    double height = 0;
};
std::vector<PageSize> pageSizes(const fs::path& pdf);

struct ListedImage {
    int page = 0;
    std::string type; // "image", "smask"
    int width = 0;
    int height = 0;
    std::string encoding; // "image", "jpeg", "jpx"
    int xppi = 0;
};
std::vector<ListedImage> listImages(const fs::path& pdf);

std::string pdfText(const fs::path& pdf);
bool qpdfCheckPasses(const fs::path& pdf, const std::string& password = "");
QJsonObject qpdfJSON(const fs::path& pdf, const std::string& password = "");

// A PDF of the given page count with an outline whose top entries are titled, each pointing at
// the page of its index; written as text and repaired into a valid file by qpdf.
void writeOutlinedPDF(const fs::path& path, const std::vector<std::string>& outline, int pages);
// A JPEG or PNG of w x h at the resolution, with a left half of red and a right half of blue.
void writeHalvesImage(const fs::path& path, const std::string& coder, std::size_t w, std::size_t h,
                      double dpi);

} // namespace topdftest
