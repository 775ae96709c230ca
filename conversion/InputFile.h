// Why an input file cannot be read, in the system's words ("Permission denied", "No such file or
// directory", "Is a directory"), for the messages of every job and codec tool that reads one.
#pragma once

#include <filesystem>
#include <string>

namespace conversion {

// Empty when the file opens for reading and is no folder; else the reason, as strerror gives it.
std::string whyUnreadable(const std::filesystem::path& path);

} // namespace conversion
