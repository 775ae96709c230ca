// convtool's WebP commands against Debian's cwebp and dwebp, at the same settings, in the same
// run: a 12-megapixel photo (JPEG) encoded lossy, a 4-megapixel screenshot with alpha (PNG)
// encoded lossless, and both decoded to PNG and to PPM. Each program runs as its own process;
// the figures are the median wall time over interleaved rounds and the peak resident memory,
// each as a ratio ours / theirs.
//   webpBench [rounds [folder]]   (default 5 rounds; a folder given keeps the inputs there)
#include "BenchSupport.h"
#include "TextTable.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <jpeglib.h>
#include <png.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bench::RunFigures;
using bench::runProcess;

// Smooth noise of several octaves: the large shapes and fine texture of a landscape photo.
struct ValueNoise {
    int cell;
    int columns;
    std::vector<float> grid;
    ValueNoise(int width, int height, int cellSize, std::mt19937& random) : cell(cellSize) {
        columns = width / cell + 2;
        const int rows = height / cell + 2;
        std::uniform_real_distribution<float> d(-1.f, 1.f);
        grid.resize(std::size_t(columns) * rows);
        for (float& v : grid)
            v = d(random);
    }
    float at(int x, int y) const {
        const float fx = float(x) / cell, fy = float(y) / cell;
        const int ix = int(fx), iy = int(fy);
        const float tx = fx - ix, ty = fy - iy;
        const float sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
        const float* r0 = &grid[std::size_t(iy) * columns + ix];
        const float* r1 = r0 + columns;
        const float top = r0[0] + (r0[1] - r0[0]) * sx;
        const float bottom = r1[0] + (r1[1] - r1[0]) * sx;
        return top + (bottom - top) * sy;
    }
};

void writePhoto(const std::string& path, int width, int height) {
    std::mt19937 random(12);
    std::vector<ValueNoise> octaves;
    for (int cell : {768, 256, 96, 32, 12, 4})
        octaves.emplace_back(width, height, cell, random);
    std::normal_distribution<float> grain(0.f, 3.f);
    FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        const float horizon = 0.45f * height;
        for (int x = 0; x < width; ++x) {
            float n = 0, amplitude = 1;
            for (const ValueNoise& o : octaves) {
                n += amplitude * o.at(x, y);
                amplitude *= 0.55f;
            }
            const float ridge = horizon + 0.18f * height * octaves[0].at(x, 0);
            float r, g, b;
            if (y < ridge) { // sky with clouds
                const float t = float(y) / ridge;
                const float cloud = std::max(0.f, n) * 120;
                r = 90 + 80 * t + cloud;
                g = 140 + 60 * t + cloud;
                b = 220 + 20 * t + cloud * 0.7f;
            } else { // hills: grass, rock and shadow
                const float shade = 0.6f + 0.4f * n;
                r = (70 + 60 * n) * shade + 30;
                g = (110 + 50 * n) * shade + 20;
                b = (50 + 30 * n) * shade + 10;
            }
            const float noise = grain(random);
            row[x * 3 + 0] = std::uint8_t(std::clamp(r + noise, 0.f, 255.f));
            row[x * 3 + 1] = std::uint8_t(std::clamp(g + noise, 0.f, 255.f));
            row[x * 3 + 2] = std::uint8_t(std::clamp(b + noise, 0.f, 255.f));
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
}

// A desktop window with a drop shadow on a transparent canvas: title bar, sidebar, lines of text
// made of glyph-sized strokes, icons.
void writeScreenshot(const std::string& path, int width, int height) {
    std::mt19937 random(34);
    std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4, 0);
    auto put = [&](int x, int y, int r, int g, int b, int a) {
        std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
        p[0] = std::uint8_t(r), p[1] = std::uint8_t(g), p[2] = std::uint8_t(b),
        p[3] = std::uint8_t(a);
    };
    const int margin = 48, radius = 12;
    const int left = margin, top = margin, right = width - margin, bottom = height - margin;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int dx = std::max({left - x, 0, x - right + 1});
            const int dy = std::max({top - y, 0, y - bottom + 1});
            const float outside = std::sqrt(float(dx * dx + dy * dy));
            if (outside > 0) { // the shadow fades out over the margin
                const int a = int(std::max(0.f, 90 * (1 - outside / margin)));
                put(x, y, 0, 0, 0, a);
                continue;
            }
            // Rounded corners.
            const int cx =
                x < left + radius ? left + radius : (x >= right - radius ? right - radius - 1 : x);
            const int cy =
                y < top + radius ? top + radius : (y >= bottom - radius ? bottom - radius - 1 : y);
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) > radius * radius) {
                put(x, y, 0, 0, 0, 60);
                continue;
            }
            if (y < top + 36)
                put(x, y, 236, 236, 236, 255); // title bar
            else if (x < left + 320)
                put(x, y, 244, 245, 247, 255); // sidebar
            else
                put(x, y, 255, 255, 255, 255);
        }
    std::uniform_int_distribution<int> glyphWidth(4, 9), wordLength(2, 9), lineLength(20, 120);
    auto text = [&](int x0, int x1, int y0, int y1, int lineHeight, int ink) {
        for (int y = y0; y + lineHeight < y1; y += lineHeight) {
            int x = x0;
            const int end = std::min(x1, x0 + lineLength(random) * 7);
            while (x < end) {
                const int letters = wordLength(random);
                for (int l = 0; l < letters && x < end; ++l) {
                    const int w = glyphWidth(random);
                    const unsigned shape = random();
                    for (int gy = 0; gy < 10; ++gy)
                        for (int gx = 0; gx < w - 1; ++gx)
                            if ((shape >> ((gx + gy * 3) % 31)) & 1 &&
                                (gx == 0 || gy % 4 == 0 || gx == w - 2))
                                put(x + gx, y + gy + 3, ink, ink, ink + 10, 255);
                    x += w;
                }
                x += 6;
            }
        }
    };
    text(left + 16, left + 300, top + 56, bottom - 16, 26, 60);
    text(left + 352, right - 32, top + 80, bottom - 32, 22, 30);
    // A picture shown in the page: smooth shapes with sensor noise.
    std::mt19937 pictureRandom(56);
    const ValueNoise shapes(width, height, 64, pictureRandom),
        detail(width, height, 9, pictureRandom);
    std::normal_distribution<float> grain(0.f, 4.f);
    for (int y = top + 700; y < std::min(bottom - 40, top + 1240); ++y)
        for (int x = left + 900; x < std::min(right - 60, left + 1760); ++x) {
            const float n = shapes.at(x, y) + 0.4f * detail.at(x, y);
            const float e = grain(pictureRandom);
            put(x, y, int(std::clamp(150 + 90 * n + e, 0.f, 255.f)),
                int(std::clamp(120 + 70 * n + e, 0.f, 255.f)),
                int(std::clamp(100 - 60 * n + e, 0.f, 255.f)), 255);
        }
    std::uniform_int_distribution<int> hue(0, 255);
    for (int i = 0; i < 24; ++i) { // toolbar icons
        const int r = hue(random), g = hue(random), b = hue(random);
        for (int y = top + 8; y < top + 28; ++y)
            for (int x = left + 400 + i * 32; x < left + 420 + i * 32 && x < right; ++x)
                put(x, y, r, g, b, 255);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;
    png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr);
}

struct Comparison {
    std::string name;
    std::vector<std::string> ours;
    std::vector<std::string> theirs;
};

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const bool keep = argc > 2;
    const std::string folder = keep
                                   ? std::string(argv[2])
                                   : std::string(std::filesystem::temp_directory_path() /
                                                 ("lumeno-webp-bench-" + std::to_string(getpid())));
    std::filesystem::create_directories(folder);
    const std::string photo = folder + "/photo.jpg", screen = folder + "/screen.png";
    std::printf("Writing the inputs: a 4000 x 3000 photo and a 2560 x 1600 screenshot...\n");
    writePhoto(photo, 4000, 3000);
    writeScreenshot(screen, 2560, 1600);
    std::printf("  photo.jpg %.1f MB, screen.png %.1f MB\n",
                double(std::filesystem::file_size(photo)) / 1e6,
                double(std::filesystem::file_size(screen)) / 1e6);
    const std::string convtool = LUMENO_CONVTOOL, cwebp = LUMENO_CWEBP, dwebp = LUMENO_DWEBP;
    // The decoders read what cwebp wrote, so that both decode the very same file.
    const std::string photoWebP = folder + "/photo.webp", screenWebP = folder + "/screen.webp";
    runProcess({cwebp, "-quiet", "-q", "75", photo, "-o", photoWebP});
    runProcess({cwebp, "-quiet", "-lossless", screen, "-o", screenWebP});
    const std::string out = folder + "/out";
    const std::vector<Comparison> comparisons = {
        // The fixed cost of each program: convtool carries every reader's codec library (libtiff
        // and its compressors, libjpeg, libstdc++) where dwebp links libwebp and libpng alone.
        {"start-up only, encoder (-version)",
         {convtool, "webp-encode", "-version"},
         {cwebp, "-version"}},
        {"start-up only, decoder (-version)",
         {convtool, "webp-decode", "-version"},
         {dwebp, "-version"}},
        {"encode photo 12 MP (lossy q75)",
         {convtool, "webp-encode", "-quiet", "-q", "75", photo, "-o", out + "a.webp"},
         {cwebp, "-quiet", "-q", "75", photo, "-o", out + "b.webp"}},
        {"encode screenshot 4 MP, alpha (lossless)",
         {convtool, "webp-encode", "-quiet", "-lossless", screen, "-o", out + "a.webp"},
         {cwebp, "-quiet", "-lossless", screen, "-o", out + "b.webp"}},
        {"decode photo to PNG",
         {convtool, "webp-decode", photoWebP, "-o", out + "a.png"},
         {dwebp, photoWebP, "-o", out + "b.png"}},
        {"decode photo to PPM",
         {convtool, "webp-decode", photoWebP, "-ppm", "-o", out + "a.ppm"},
         {dwebp, photoWebP, "-ppm", "-o", out + "b.ppm"}},
        {"decode screenshot to PNG",
         {convtool, "webp-decode", screenWebP, "-o", out + "a.png"},
         {dwebp, screenWebP, "-o", out + "b.png"}},
        {"decode screenshot to PAM",
         {convtool, "webp-decode", screenWebP, "-pam", "-o", out + "a.pam"},
         {dwebp, screenWebP, "-pam", "-o", out + "b.pam"}},
    };
    TextTable table({"work", "convtool ms", "cwebp/dwebp ms", "time ratio", "CPU ratio",
                     "convtool MB", "cwebp/dwebp MB", "memory ratio"});
    for (const Comparison& c : comparisons) {
        std::vector<double> ourMs, theirMs, ourCpu, theirCpu;
        long ourKB = 0, theirKB = 0;
        for (int r = 0; r < rounds; ++r) { // interleaved, alternating who goes first
            const bool oursFirst = r % 2 == 0;
            const RunFigures a = runProcess(oursFirst ? c.ours : c.theirs);
            const RunFigures b = runProcess(oursFirst ? c.theirs : c.ours);
            const RunFigures& ours = oursFirst ? a : b;
            const RunFigures& theirs = oursFirst ? b : a;
            ourMs.push_back(ours.ms);
            theirMs.push_back(theirs.ms);
            ourCpu.push_back(ours.cpuMs);
            theirCpu.push_back(theirs.cpuMs);
            ourKB = std::max(ourKB, ours.peakKB);
            theirKB = std::max(theirKB, theirs.peakKB);
        }
        auto median = [](std::vector<double> v) {
            std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
            return v[v.size() / 2];
        };
        const double ours = median(ourMs), theirs = median(theirMs);
        table.addRow({QString::fromStdString(c.name), TextTable::ms(ours), TextTable::ms(theirs),
                      TextTable::ratio(ours, theirs, 3),
                      TextTable::ratio(median(ourCpu), median(theirCpu), 3),
                      TextTable::number(ourKB / 1024.0, 1), TextTable::number(theirKB / 1024.0, 1),
                      TextTable::ratio(double(ourKB), double(theirKB), 3)});
    }
    std::printf("\n%d rounds each; time: median wall time of the whole process; CPU: median "
                "user + system time; memory: peak resident set.\n\n",
                rounds);
    std::fflush(stdout);
    table.print();
    if (!keep)
        std::filesystem::remove_all(folder);
    return 0;
}
