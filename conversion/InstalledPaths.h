// Where the conversion library finds what it carries beside it: its resources (the format
// table) and its helper programs. The same rule as the reader's: an environment variable names
// the folder, else the folder is found relative to the running program, as an installed tree or
// the build tree (which stages both the same way) lays it out:
//   resources  LUMENO_RESOURCES, else <exe dir>/../share/lumeno
//   helpers    LUMENO_LIBEXEC,   else <exe dir>/../libexec/lumeno
// No path of the build is compiled in.
#pragma once

#include <filesystem>

namespace conversion {

// The folder of the running program; empty when it cannot be told.
std::filesystem::path executableDir();

// The folder named by `variable` when it is set and not empty (empty when that folder does not
// exist: a wrong setting is not quietly replaced), else <exe dir>/../`relative` when it exists,
// else empty.
std::filesystem::path installedFolder(const char* variable, const std::filesystem::path& relative);

} // namespace conversion
