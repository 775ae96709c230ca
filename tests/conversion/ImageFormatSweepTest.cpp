// Every writable format code against inputs that stress the readers and writers (a colour
// profile, 16 bits a sample, alpha, CMYK, one pixel, very wide, an EXIF turn), run through
// `convtool convert` as a user would: the tool never dies, and either writes a file of the right
// size or refuses with a message. The table of outcomes goes into the test log.
#include "ICNSCodec.h"
#include "ImageCodecs.h"
#include "ImageFormats.h"
#include "ImageTestSupport.h"
#include "PNGCodec.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exiv2/exiv2.hpp>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <map>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace conversion;
namespace fs = std::filesystem;

namespace {

struct Input {
    std::string name;
    fs::path path;
    std::int64_t width, height; // as the picture stands upright
};

void writeBitmapPNG(const Bitmap& b, const fs::path& path) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(encodePNGBitmap(b, b.hasAlpha, 0, 0, bytes, error)) << error;
    imagetest::writeBytes(path, bytes);
}

// A picture one pixel high, wider than the readers' usual limits; made without ImageMagick,
// whose policy here stops at 16384 pixels.
fs::path wideStrip(const fs::path& dir, std::int64_t width) {
    Bitmap b;
    EXPECT_TRUE(b.allocate(width, 1, ColorModel::RGB, false, nullptr));
    for (std::size_t i = 0; i < b.pixels.size(); ++i)
        b.pixels[i] = std::uint8_t(i * 7);
    const fs::path path = dir / ("wide" + std::to_string(width) + ".png");
    writeBitmapPNG(b, path);
    return path;
}

Magick::Blob srgbProfile() {
    cmsHPROFILE p = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return Magick::Blob(bytes.data(), bytes.size());
}

std::vector<Input> makeInputs(const fs::path& dir) {
    std::vector<Input> inputs;
    {
        Magick::Image image = imagetest::gradient(48, 32);
        image.profile("ICC", srgbProfile());
        imagetest::writeWith(image, "JPEG", dir / "icc.jpg");
        inputs.push_back({"ICC", dir / "icc.jpg", 48, 32});
    }
    {
        Magick::Image image = imagetest::gradient(40, 30);
        image.depth(16);
        imagetest::writeWith(image, "PNG", dir / "deep.png");
        inputs.push_back({"16-bit", dir / "deep.png", 40, 30});
    }
    imagetest::writeWith(imagetest::gradient(36, 28, true), "PNG", dir / "alpha.png");
    inputs.push_back({"alpha", dir / "alpha.png", 36, 28});
    {
        Magick::Image image = imagetest::gradient(44, 26);
        image.colorSpace(MagickCore::CMYKColorspace);
        imagetest::writeWith(image, "JPEG", dir / "cmyk.jpg");
        inputs.push_back({"CMYK", dir / "cmyk.jpg", 44, 26});
    }
    imagetest::writeWith(imagetest::gradient(1, 1), "PNG", dir / "one.png");
    inputs.push_back({"1x1", dir / "one.png", 1, 1});
    inputs.push_back({"16384 wide", wideStrip(dir, 16384), 16384, 1});
    inputs.push_back({"20000 wide", wideStrip(dir, 20000), 20000, 1});
    {
        const fs::path path = dir / "turned.jpg";
        imagetest::writeWith(imagetest::gradient(50, 24), "JPEG", path);
        auto file = Exiv2::ImageFactory::open(path.string());
        file->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = std::uint16_t(6);
        file->setExifData(exif);
        file->writeMetadata();
        // Stored 50 x 24, seen 24 x 50.
        inputs.push_back({"EXIF-rotated", path, 24, 50});
    }
    return inputs;
}

struct Run {
    bool signalled = false;
    int status = -1;
    bool timedOut = false;
    std::string standardError;
};

// Runs a program with its standard error in a file; ended (by its own id) when it outlives the
// limit.
Run runProgram(const std::vector<std::string>& arguments, const fs::path& errorFile,
               const std::vector<std::string>& extraEnvironment = {}) {
    Run result;
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment(extraEnvironment);
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.signalled = WIFSIGNALED(status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.standardError = imagetest::readText(errorFile);
    return result;
}

bool sanitizerSpoke(const std::string& text) {
    return text.find("Sanitizer") != std::string::npos ||
           text.find("runtime error:") != std::string::npos;
}

// The size of the first picture of a written file as the tools of its kind read it: pdfinfo for
// PDF and Illustrator (points, which are pixels at the 72 dpi the inputs record), icns2png for
// Apple icons, ImageMagick's identify for the rest, under a policy without its usual 16384-pixel
// cap.
bool measure(std::int32_t code, const fs::path& file, const fs::path& policyDir, std::int64_t& w,
             std::int64_t& h) {
    std::string text;
    if (code == kFormatPDF || code == kFormatIllustrator) {
        text = imagetest::capture("pdfinfo " + imagetest::shellQuote(file) +
                                  " 2>/dev/null | sed -n 's/^Page size: *\\([0-9.]*\\) x "
                                  "\\([0-9.]*\\) pts.*/\\1 \\2/p'");
        double pw = 0, ph = 0;
        std::istringstream in(text);
        if (!(in >> pw >> ph))
            return false;
        w = std::llround(pw);
        h = std::llround(ph);
        return true;
    }
    if (code == kFormatTIFF || code == kFormatCMYKTIFF || code == kFormatFax ||
        code == kFormatMultiPageTIFF) {
        // ImageMagick's TIFF reader refuses strips as wide as these ("insufficient image data"),
        // even of its own files; libvips reads them with libtiff.
        text = imagetest::capture("vipsheader " + imagetest::shellQuote(file) +
                                  " 2>/dev/null | sed -n 's/^[^:]*: *\\([0-9]*\\)x\\([0-9]*\\) "
                                  ".*/\\1 \\2/p'");
    } else if (code == kFormatAppleIcon) {
        text = imagetest::capture("icns2png -l " + imagetest::shellQuote(file) +
                                  " 2>/dev/null | sed -n \"s/^  '....' \\([0-9]*\\)x\\([0-9]*\\) "
                                  ".*/\\1 \\2/p\" | head -1");
    } else {
        text = imagetest::capture("MAGICK_CONFIGURE_PATH=" + imagetest::shellQuote(policyDir) +
                                  " identify -format '%w %h\\n' " + imagetest::shellQuote(file) +
                                  " 2>/dev/null | head -1");
    }
    std::istringstream in(text);
    return bool(in >> w >> h);
}

struct Case {
    std::int32_t code;
    const Input* input;
    std::string outcome; // "written", "refused", or what went wrong
    bool fault = false;
};

void runCase(Case& c, const fs::path& dir, const fs::path& policyDir) {
    const std::string stem = "c" + std::to_string(c.code) + "-" + c.input->path.stem().string();
    const fs::path out = dir / (stem + "." + ExtensionForImageFormat(c.code));
    const fs::path errors = dir / (stem + ".stderr");
    const Run r = runProgram({LUMENO_CONVTOOL, "convert", c.input->path.string(), out.string(),
                              "--format", std::to_string(c.code)},
                             errors);
    // The line that names the fault: a failed assertion or a sanitizer's report, else the first.
    std::string firstLine = r.standardError.substr(0, r.standardError.find('\n'));
    std::istringstream lines(r.standardError);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Assertion") != std::string::npos || sanitizerSpoke(line)) {
            firstLine = line.substr(0, 160);
            break;
        }
    if (r.timedOut) {
        c.outcome = "TIMEOUT";
    } else if (r.signalled || (r.status != 0 && r.status != 1) || sanitizerSpoke(r.standardError)) {
        c.outcome =
            "ABORT (" + (r.signalled ? std::string("signal: ") : std::string()) + firstLine + ")";
    } else if (r.status == 1) {
        if (fs::exists(out))
            c.outcome = "refused but left a file";
        else if (r.standardError.empty())
            c.outcome = "refused without a message";
        else
            return void(c.outcome = "refused");
    } else if (!fs::exists(out)) {
        c.outcome = "success without a file";
    } else {
        std::int64_t w = 0, h = 0;
        std::int64_t ew = c.input->width, eh = c.input->height;
        if (c.code == kFormatAppleIcon)
            ew = eh = iCNSSizeFor(ew, eh);
        if (!measure(c.code, out, policyDir, w, h))
            c.outcome = "written but unreadable";
        else if (w != ew || h != eh)
            c.outcome = "WRONG SIZE " + std::to_string(w) + "x" + std::to_string(h);
        else
            return void(c.outcome = "written");
    }
    c.fault = true;
}

// Faults the sweep found in code that is being mended on its own: ImageMagick's encoders abort
// on pictures wider than its resource policy allows (16384 pixels here) instead of refusing, and
// the JPEG 2000 writer aborts on a picture that carries an ICC profile. They stay in the table
// and are not failed here; once mended they show as written or refused.
} // namespace

TEST(ImageFormatSweep, EveryWritableCodeWritesTheRightSizeOrRefusesWithAMessage) {
    const fs::path dir = imagetest::freshDir("sweep");
    const fs::path policyDir = dir / "policy";
    fs::create_directories(policyDir);
    imagetest::writeBytes(policyDir / "policy.xml", [] {
        const std::string text = "<policymap>\n"
                                 "  <policy domain=\"resource\" name=\"width\" value=\"1MP\"/>\n"
                                 "  <policy domain=\"resource\" name=\"height\" value=\"1MP\"/>\n"
                                 "</policymap>\n";
        return imagetest::Bytes(text.begin(), text.end());
    }());
    const std::vector<Input> inputs = makeInputs(dir);
    std::vector<Case> cases;
    for (std::int32_t code = 0; code < kFormatCount; ++code)
        if (canWriteFormat(code))
            for (const Input& input : inputs)
                cases.push_back({code, &input, "", false});

    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < 3; ++t)
        pool.emplace_back([&] {
            for (std::size_t i = next++; i < cases.size(); i = next++)
                runCase(cases[i], dir, policyDir);
        });
    for (std::thread& t : pool)
        t.join();

    std::ostringstream table;
    table << "code";
    for (const Input& input : inputs)
        table << " | " << input.name;
    table << "\n";
    for (std::size_t i = 0; i < cases.size(); i += inputs.size()) {
        table << cases[i].code;
        for (std::size_t j = 0; j < inputs.size(); ++j)
            table << " | " << cases[i + j].outcome;
        table << "\n";
    }
    std::printf("%s", table.str().c_str());
    for (const Case& c : cases) {
        EXPECT_FALSE(c.fault) << "code " << c.code << ", " << c.input->name << ": " << c.outcome;
    }
}
