// Whole files written the safe way: into a temporary file beside the target, then renamed over
// it, so a failed write leaves neither a partial file nor a damaged earlier one.
#pragma once

#include "ConversionEntries.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace conversion {

bool WriteFileAtomically(const std::filesystem::path& target,
                         const std::vector<std::uint8_t>& bytes,
                         const std::optional<FileAttributes>& attributes, std::string& error);
// A name for a temporary file in `folder` (nothing is created).
std::filesystem::path TemporaryPathIn(const std::filesystem::path& folder, const std::string& tag);
// Gives an existing file the attributes; false when they cannot be set.
bool ApplyFileAttributes(const std::filesystem::path& path, const FileAttributes& attributes);

} // namespace conversion
