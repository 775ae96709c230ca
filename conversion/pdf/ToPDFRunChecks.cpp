#include "ToPDFRunChecks.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>

namespace conversion {

std::string paperSizeProblem(double width, double height) {
    auto within = [](double side) {
        return std::isfinite(side) && side >= kSmallestPageSide && side <= kLargestPageSide;
    };
    if (within(width) && within(height))
        return {};
    char text[160];
    std::snprintf(text, sizeof text,
                  "a page of %g x %g points cannot be made: PDF's pages measure from %g to %g "
                  "points a side",
                  width, height, kSmallestPageSide, kLargestPageSide);
    return text;
}

bool isPDFFile(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char head[1024];
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return std::string(head, n).find("%PDF-") != std::string::npos;
}

std::string outputReplacementProblem(const std::filesystem::path& output,
                                     const std::vector<std::filesystem::path>& inputs) {
    struct stat target;
    // Followed through links: a link to an input leads to the input.
    if (::stat(output.c_str(), &target) != 0)
        return {};
    for (const std::filesystem::path& input : inputs) {
        struct stat source;
        if (::stat(input.c_str(), &source) == 0 && source.st_dev == target.st_dev &&
            source.st_ino == target.st_ino)
            return output.string() + " is one of the inputs (" + input.string() +
                   "); the PDF would replace it";
    }
    if (S_ISREG(target.st_mode) && target.st_size > 0 && !isPDFFile(output))
        return output.string() + " exists and is not a PDF; the PDF would replace it";
    return {};
}

} // namespace conversion
