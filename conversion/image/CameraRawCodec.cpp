#include "CameraRawCodec.h"

#include "PixelLimits.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <libraw/libraw.h>
#include <memory>
#include <vector>

namespace conversion {

namespace {

constexpr std::uint16_t kDNGVersionTag = 50706;
// A first directory with more entries than this is not worth walking for the tag.
constexpr std::uint32_t kMaxEntries = 4096;

bool hasRawExtension(std::string ext) {
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    static const char* const kRaw[] = {"dng", "cr2", "cr3", "crw", "nef", "nrw", "arw", "srf",
                                       "sr2", "orf", "rw2", "raf", "pef", "srw", "x3f", "3fr",
                                       "erf", "kdc", "dcr", "mrw", "mos", "iiq", "rwl"};
    return std::any_of(std::begin(kRaw), std::end(kRaw), [&](const char* e) { return ext == e; });
}

// Looks for the DNGVersion tag in the first directory of a classic TIFF; `read` fills `n` bytes
// from an offset and says whether they were there.
bool firstDirectoryHasDNGVersion(
    const std::function<bool(std::uint64_t, std::size_t, std::uint8_t*)>& read) {
    std::uint8_t head[8];
    if (!read(0, 8, head))
        return false;
    const bool little = head[0] == 'I' && head[1] == 'I';
    if (!(little || (head[0] == 'M' && head[1] == 'M')))
        return false;
    auto u16 = [&](const std::uint8_t* p) {
        return std::uint16_t(little ? p[0] | p[1] << 8 : p[0] << 8 | p[1]);
    };
    auto u32 = [&](const std::uint8_t* p) {
        return little ? std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                            std::uint32_t(p[3]) << 24
                      : std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                            std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
    };
    if (u16(head + 2) != 42)
        return false;
    const std::uint32_t ifd = u32(head + 4);
    std::uint8_t countBytes[2];
    if (!read(ifd, 2, countBytes))
        return false;
    const std::uint32_t count = std::min<std::uint32_t>(u16(countBytes), kMaxEntries);
    std::vector<std::uint8_t> entries(std::size_t(count) * 12);
    if (!read(std::uint64_t(ifd) + 2, entries.size(), entries.data()))
        return false;
    for (std::uint32_t i = 0; i < count; ++i)
        if (u16(entries.data() + std::size_t(i) * 12) == kDNGVersionTag)
            return true;
    return false;
}

struct RawDeleter {
    void operator()(LibRaw* r) const {
        r->recycle();
        delete r;
    }
};

} // namespace

bool isCameraRawData(const std::uint8_t* bytes, std::size_t length, const std::string& extension) {
    if (hasRawExtension(extension))
        return true;
    return bytes &&
           firstDirectoryHasDNGVersion([&](std::uint64_t at, std::size_t n, std::uint8_t* out) {
               if (at > length || n > length - at)
                   return false;
               std::memcpy(out, bytes + at, n);
               return true;
           });
}

bool isCameraRawFile(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    if (!ext.empty())
        ext.erase(0, 1);
    if (hasRawExtension(ext))
        return true;
    std::ifstream in(path, std::ios::binary);
    return in &&
           firstDirectoryHasDNGVersion([&](std::uint64_t at, std::size_t n, std::uint8_t* out) {
               in.clear();
               in.seekg(std::streamoff(at));
               in.read(reinterpret_cast<char*>(out), std::streamsize(n));
               return bool(in) && std::size_t(in.gcount()) == n;
           });
}

bool decodeCameraRawBitmap(const std::uint8_t* bytes, std::size_t length, Bitmap& out,
                           std::string& error) {
    if (!bytes || length == 0) {
        error = "no camera raw data";
        return false;
    }
    std::unique_ptr<LibRaw, RawDeleter> raw;
    try {
        raw.reset(new LibRaw(LIBRAW_OPTIONS_NONE));
    } catch (...) {
        error = "not enough memory to read a camera raw file";
        return false;
    }
    auto& params = raw->imgdata.params;
    params.output_bps = 8;
    params.output_color = 1; // sRGB
    params.use_camera_wb = 1;
    params.user_flip = -1; // the camera's own orientation, so that the picture stands upright
    // The sensor data of one picture stays within the cap every job uses.
    params.max_raw_memory_mb = unsigned(kMaxPictureBytes >> 20);
    // LibRaw only reads the buffer; its interface is not const-correct.
    int rc = raw->open_buffer(const_cast<std::uint8_t*>(bytes), length);
    if (rc != LIBRAW_SUCCESS) {
        error = std::string("not a camera raw file LibRaw reads: ") + libraw_strerror(rc);
        return false;
    }
    const auto& sizes = raw->imgdata.sizes;
    if (!checkedPictureBytes(sizes.raw_width, sizes.raw_height, 8, nullptr, &error) ||
        !checkedPictureBytes(sizes.width, sizes.height, 8, nullptr, &error))
        return false;
    if ((rc = raw->unpack()) != LIBRAW_SUCCESS || (rc = raw->dcraw_process()) != LIBRAW_SUCCESS) {
        error = std::string("the camera raw data cannot be developed: ") + libraw_strerror(rc);
        return false;
    }
    int err = 0;
    libraw_processed_image_t* image = raw->dcraw_make_mem_image(&err);
    if (!image) {
        error = std::string("the camera raw picture cannot be made: ") + libraw_strerror(err);
        return false;
    }
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> holder(
        image, [](libraw_processed_image_t* p) { LibRaw::dcraw_clear_mem(p); });
    const int channels = image->colors;
    if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 ||
        (channels != 1 && channels != 3)) {
        error = "LibRaw developed the picture in a layout this program does not take";
        return false;
    }
    const std::size_t needed = std::size_t(image->width) * image->height * std::size_t(channels);
    if (image->data_size < needed ||
        !out.allocate(image->width, image->height,
                      channels == 1 ? ColorModel::Gray : ColorModel::RGB, false, &error))
        return false;
    std::memcpy(out.pixels.data(), image->data, needed);
    return true;
}

} // namespace conversion
