// Build-only stand-in for the image layer's job, used while this branch lacks conversion/image/.
// The entries file compiles against it; ConvertImageFile then fails with a message. Delete the
// standin/ folder once the image layer is present (the CMake guard already ignores it then).
#pragma once

#include "ConversionEntries.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace conversion {

struct ImageConversionJob {
    bool keepMetadata = false;
    std::optional<FileAttributes> fileAttributes;
    std::string lastError;

    bool LoadInputImage(const std::filesystem::path&) {
        lastError = "image conversion is not part of this build";
        return false;
    }
    void SetKeepResolution(bool) {}
    void SetOutputFormat(std::int32_t, const std::filesystem::path&, double) {}
    void SetResolution(std::int64_t, std::int64_t) {}
};

inline bool ConvertImage(ImageConversionJob&) {
    return false;
}

} // namespace conversion
