// What a run that makes a PDF checks before it does any work: that the paper is one a PDF can
// have, and that the file it would write is neither one of its inputs nor a file of some other
// kind, which the PDF would replace.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace conversion {

// PDF's limits for a page side, in points (ISO 32000, Annex C).
inline constexpr double kSmallestPageSide = 3;
inline constexpr double kLargestPageSide = 14400;

// Empty when a page of `width` x `height` points is within PDF's limits, else why not.
std::string paperSizeProblem(double width, double height);

// A PDF header within the first kilobyte, where readers accept it.
bool isPDFFile(const std::filesystem::path& path);

// Empty when the merged output may be written at `output`, else why not: it is one of `inputs`
// (the same file, by device and inode, whatever name or link leads to it) or an existing file
// with data that is not a PDF. An empty file, a device or a missing file may be written.
std::string outputReplacementProblem(const std::filesystem::path& output,
                                     const std::vector<std::filesystem::path>& inputs);

} // namespace conversion
