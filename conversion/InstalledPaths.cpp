#include "InstalledPaths.h"

#include <cstdlib>

namespace conversion {

std::filesystem::path executableDir() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path installedFolder(const char* variable, const std::filesystem::path& relative) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (const char* chosen = std::getenv(variable); chosen && *chosen)
        return fs::is_directory(chosen, ec) ? fs::path(chosen) : fs::path();
    const fs::path dir = executableDir();
    if (dir.empty())
        return {};
    const fs::path beside = dir / ".." / relative;
    return fs::is_directory(beside, ec) ? beside : fs::path();
}

} // namespace conversion
