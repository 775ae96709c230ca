#include "ImageTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <unistd.h>

namespace imagetest {

namespace {

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] { Magick::InitializeMagick(nullptr); });
}

struct ScratchRoot {
    fs::path path;
    ScratchRoot() {
        path = fs::temp_directory_path() / ("lumeno-image-tests-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~ScratchRoot() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

} // namespace

fs::path freshDir(const std::string& name) {
    static ScratchRoot root;
    const fs::path dir = root.path / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

Magick::Image gradient(std::size_t w, std::size_t h, bool alpha) {
    initialise();
    std::vector<std::uint8_t> samples(w * h * (alpha ? 4 : 3));
    std::size_t i = 0;
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            samples[i++] = std::uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
            samples[i++] = std::uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
            samples[i++] = std::uint8_t(((x + y) * 255) / (w + h));
            if (alpha)
                samples[i++] = std::uint8_t(255 - x * 200 / (w > 1 ? w - 1 : 1));
        }
    Magick::Image image(w, h, alpha ? "RGBA" : "RGB", Magick::CharPixel, samples.data());
    image.depth(8);
    return image;
}

void writeWith(Magick::Image image, const std::string& coder, const fs::path& path) {
    initialise();
    image.magick(coder);
    image.write(coder + ":" + path.string());
}

Pixels pixelsOf(Magick::Image image) {
    Pixels p;
    p.width = image.columns();
    p.height = image.rows();
    p.alpha = image.matte();
    p.rgba.resize(p.width * p.height * 4);
    if (image.colorSpace() == MagickCore::CMYKColorspace)
        image.colorSpace(MagickCore::sRGBColorspace);
    image.write(0, 0, p.width, p.height, "RGBA", Magick::CharPixel, p.rgba.data());
    return p;
}

Pixels readPixels(const fs::path& path, const std::string& coder) {
    initialise();
    Magick::Image image;
    image.quiet(true);
    image.read(coder.empty() ? path.string() : coder + ":" + path.string());
    return pixelsOf(image);
}

int maxDifference(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height)
        return 1000;
    int worst = 0;
    const bool alpha = a.alpha && b.alpha;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3 && !alpha)
            continue;
        worst = std::max(worst, std::abs(int(a.rgba[i]) - int(b.rgba[i])));
    }
    return worst;
}

double meanDifference(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height)
        return 1000;
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3)
            continue;
        sum += std::abs(int(a.rgba[i]) - int(b.rgba[i]));
        ++n;
    }
    return n ? sum / double(n) : 0;
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace imagetest
