// Inputs made at test time with the real codec libraries (through ImageMagick's Magick++, which
// the library under test does not use for these formats), and pictures read back the same
// independent way.
#pragma once

#include <Magick++.h>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace imagetest {

namespace fs = std::filesystem;

// A fresh folder for one test, removed when the process ends.
fs::path freshDir(const std::string& name);

// A smooth RGB gradient with a diagonal ramp, w x h, as 8-bit RGB(A) samples; with alpha the
// alpha channel falls from 255 to 55 left to right.
Magick::Image gradient(std::size_t w, std::size_t h, bool alpha = false);

// Writes the image with the named ImageMagick coder (e.g. "PNG", "TIFF") at the path.
void writeWith(Magick::Image image, const std::string& coder, const fs::path& path);

struct Pixels {
    std::size_t width = 0;
    std::size_t height = 0;
    bool alpha = false;
    std::vector<std::uint8_t> rgba; // 4 samples a pixel
};

// The first picture of a file read with ImageMagick, forced to the named coder ("" lets it
// judge by content).
Pixels readPixels(const fs::path& path, const std::string& coder = "");
Pixels pixelsOf(Magick::Image image);

// The largest difference of any colour sample (alpha too when both have it).
int maxDifference(const Pixels& a, const Pixels& b);
// The mean absolute difference of the colour samples.
double meanDifference(const Pixels& a, const Pixels& b);

std::vector<std::uint8_t> readBytes(const fs::path& path);
void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes);
// Files directly in the folder (names only), sorted.
std::vector<std::string> listFolder(const fs::path& folder);
// Runs a shell command; its exit status.
int run(const std::string& command);

} // namespace imagetest
