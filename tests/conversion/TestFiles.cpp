#include "TestFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testfiles {

namespace {

struct ScratchRoot {
    fs::path path = fs::temp_directory_path() / ("lumeno-conversion-" + std::to_string(::getpid()));
    ~ScratchRoot() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// The library finds its helper programs beside the running program; a test program lives
// elsewhere in the build tree, so it is pointed at the folder the build puts them in, unless the
// caller chose one.
const bool helpersChosen = [] {
    ::setenv("LUMENO_LIBEXEC", LUMENO_LIBEXEC_DEFAULT, 0);
    return true;
}();

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

fs::path freshDir(const std::string& name) {
    static ScratchRoot root;
    const fs::path dir = root.path / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const fs::path& path) {
    const Bytes bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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

std::string shellQuote(const fs::path& path) {
    std::string q = "'";
    for (char c : path.string())
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string capture(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int s = ::pclose(pipe);
    if (status)
        *status = exitStatus(s);
    return out;
}

int run(const std::string& command) {
    return exitStatus(std::system(command.c_str()));
}

std::vector<Bytes> damagedCopies(const Bytes& original, std::size_t cuts, std::size_t flips) {
    std::vector<Bytes> copies;
    for (std::size_t cut = 0; cut < original.size(); cut += 1 + original.size() / cuts)
        copies.emplace_back(original.begin(), original.begin() + std::ptrdiff_t(cut));
    for (std::size_t at = 4; at < original.size(); at += 1 + original.size() / flips) {
        Bytes flipped = original;
        flipped[at] ^= 0xFF;
        copies.push_back(flipped);
        flipped[at] = 0xFF;
        copies.push_back(flipped);
    }
    return copies;
}

ImageJobOptions jobOptions(const fs::path& in, const fs::path& out, std::int32_t code) {
    ImageJobOptions options;
    options.inputURL = in;
    options.outputURL = out;
    options.format = code;
    return options;
}

PNGPicture readPNG(const fs::path& path) {
    PNGPicture out;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return out;
    out.width = int(image.width);
    out.height = int(image.height);
    if (image.format & PNG_FORMAT_FLAG_LINEAR) {
        image.format = PNG_FORMAT_LINEAR_RGB_ALPHA;
        std::vector<png_uint_16> wide(PNG_IMAGE_SIZE(image) / 2);
        out.ok = png_image_finish_read(&image, nullptr, wide.data(), 0, nullptr) != 0;
        for (png_uint_16 sample : wide)
            out.rgba.push_back(std::uint8_t(sample >> 8));
        return out;
    }
    image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    out.ok = png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
    return out;
}

} // namespace testfiles
